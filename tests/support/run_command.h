// A program of the suite run in a given directory, its exit status and both of its output
// streams captured (the tests that start the programs as child processes). No shell is
// involved: program_run.h starts the child on POSIX and on Windows alike.
#pragma once

#include <filesystem>
#include <string>

#include "support/program_run.h"
#include "support/scratch.h"

namespace drav::testing {

struct CommandResult {
  int status = -1;  // the exit status; -1 when the command did not exit by itself
  std::string out, err;
};

// 'text': one argument of a command line for split_command (no single quote may be in it).
inline std::string shell_quote(const std::string& text) {
  return "'" + text + "'";
}

// Runs `cmd` (a program and its arguments, split by split_command) in `dir` with no standard
// input and the variables `env` added; the streams go through the files `capture` + ".out"
// and ".err", which are left for a look after a failure.
inline CommandResult run_command(const std::filesystem::path& dir, const std::string& cmd,
                                 const std::string& capture, const EnvList& env = {}) {
  const std::string out = capture + ".out", err = capture + ".err";
  CommandResult r;
  r.status = run_program(split_command(cmd), dir.string(), out, err, env);
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

}  // namespace drav::testing
