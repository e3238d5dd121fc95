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

#include "support/program_run.h"

namespace drav::tooltest {

namespace fs = std::filesystem;

// A scratch directory per test, removed at the end.
class AuditFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("drav-audit-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string file(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

struct Outcome {
  int status = -1;
  std::string out, err;
};

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string quote(const std::string& s) {
  return "'" + s + "'";
}

// Runs `cmd` (a program and its arguments, paths in quote()) in `dir` with its output
// captured; no shell is involved.
inline Outcome run_in(const fs::path& dir, const std::string& cmd) {
  const fs::path o = dir.parent_path() / (dir.filename().string() + ".out");
  const fs::path e = dir.parent_path() / (dir.filename().string() + ".err");
  Outcome r;
  r.status = drav::testing::run_program(drav::testing::split_command(cmd), dir.string(), o.string(),
                                        e.string());
  r.out = slurp(o);
  r.err = slurp(e);
  return r;
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

inline void write_bytes(const fs::path& p, const std::string& b) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << b;
}

}  // namespace drav::tooltest
