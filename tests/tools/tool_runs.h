// Scratch directories and whole runs of the programs for the tool tests: drav-mkmodel builds
// a working directory, drav runs there, drav-audit looks at it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/run_command.h"
#include "support/scratch.h"

namespace drav::tooltest {

namespace fs = std::filesystem;

using drav::testing::read_file;
using drav::testing::write_file;

// A scratch directory per test, removed at the end.
class AuditFiles : public ::testing::Test {
 protected:
  std::string file(const std::string& name) const { return (dir_ / name).string(); }
  const drav::testing::TempDir tmp_{"drav-audit"};
  const fs::path dir_ = tmp_.path();
};

using Outcome = drav::testing::CommandResult;

inline std::string quote(const std::string& s) {
  return drav::testing::shell_quote(s);
}

// Runs `cmd` in `dir` with its output captured beside it.
inline Outcome run_in(const fs::path& dir, const std::string& cmd) {
  return drav::testing::run_command(dir, cmd, (dir.parent_path() / dir.filename()).string());
}

class AuditRun : public AuditFiles {
 protected:
  // Builds the description `text` (or the file `desc`) into `name` and runs drav there.
  fs::path build_and_run(const std::string& name, const std::string& desc_path) {
    const fs::path d = dir_ / name;
    const Outcome mk = run_in(
        dir_, std::string(DRAV_MKMODEL_EXE) + " " + quote(desc_path) + " " + quote(d.string()));
    EXPECT_EQ(mk.status, 0) << mk.out << mk.err;
    drav_ = run_in(d, DRAV_EXE);
    EXPECT_EQ(drav_.status, 0) << drav_.out << drav_.err;
    return d;
  }
  fs::path build_text(const std::string& name, const std::string& text) {
    const std::string p = file(name + ".txt");
    std::ofstream(p) << text;
    return build_and_run(name, p);
  }
  Outcome check(const fs::path& d, const std::string& extra = "") {
    return run_in(dir_, std::string(DRAV_AUDIT_EXE) + " check " + quote(d.string()) + extra);
  }
  Outcome drav_;
};

}  // namespace drav::tooltest
