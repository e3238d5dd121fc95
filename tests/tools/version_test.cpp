// The companion tools tell the version they belong to; the program itself takes no arguments.
#include "drav/version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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
    EXPECT_EQ(read_file(out), std::string(c.name) + " " + v + "\n");
    EXPECT_EQ(read_file(err), "");
    // An argument after it is not a request for the version.
    EXPECT_NE(drav::testing::run_program({c.exe, "--version", "x"}, "", out, err), 0);
    fs::remove(out);
    fs::remove(err);
  }
}

// Paths with blanks (and, on Windows, backslashes) reach the programs as one argument each.
TEST(ProgramArguments, PathsWithBlanksPassWhole) {
  const fs::path dir = fs::temp_directory_path() / "drav args test" / "a b";
  fs::remove_all(dir.parent_path());
  fs::create_directories(dir);
  std::string desc = (dir / "my model.txt").string();
  std::string out_dir = (dir / "run dir").string();
#ifdef _WIN32
  for (std::string* s : {&desc, &out_dir}) {
    for (char& c : *s) {
      if (c == '/') c = '\\';
    }
  }
#endif
  std::ofstream(desc, std::ios::binary)
      << "ndofn 1\nnode 1 0\nnode 2 1\nfix 1 x\nbar 1 1 2 E=1 A=1\n";
  const std::string out = (dir / "out").string(), err = (dir / "err").string();
  ASSERT_EQ(drav::testing::run_program({DRAV_MKMODEL_EXE, desc, out_dir}, "", out, err), 0)
      << read_file(err);
  EXPECT_EQ(read_file(out), out_dir + ": 2 nodes, 1 bars, 1 equations, half band 1\n");
  ASSERT_EQ(drav::testing::run_program({DRAV_EXE}, out_dir, out, err), 0) << read_file(err);
  EXPECT_EQ(read_file(fs::path(out_dir) / "drav0.dat"), "           0\r\n");
  fs::remove_all(dir.parent_path());
}

}  // namespace
}  // namespace drav::tooltest
