// The companion tools tell the version they belong to; the program itself takes no arguments.
#include "drav/version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "support/program_run.h"
#include "tool_runs.h"

namespace drav::tooltest {
namespace {

TEST(Version, ToolsPrintItAndExitZero) {
  const std::string v = drav::kVersion;
  // Three numbers, as the packages name them.
  EXPECT_EQ(std::count(v.begin(), v.end(), '.'), 2) << v;
  const fs::path dir = fs::temp_directory_path();
  struct Case {
    const char* exe;
    const char* name;
  };
  for (const Case& c :
       {Case{DRAV_MKMODEL_EXE, "drav-mkmodel"}, Case{DRAV_AUDIT_EXE, "drav-audit"}}) {
    SCOPED_TRACE(c.name);
    const std::string out = (dir / (std::string(c.name) + "-version.out")).string();
    const std::string err = (dir / (std::string(c.name) + "-version.err")).string();
    EXPECT_EQ(drav::testing::run_program({c.exe, "--version"}, "", out, err), 0);
    EXPECT_EQ(slurp(out), std::string(c.name) + " " + v + "\n");
    EXPECT_EQ(slurp(err), "");
    // An argument after it is not a request for the version.
    EXPECT_NE(drav::testing::run_program({c.exe, "--version", "x"}, "", out, err), 0);
    fs::remove(out);
    fs::remove(err);
  }
}

}  // namespace
}  // namespace drav::tooltest
