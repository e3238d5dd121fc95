// A command run through the shell in a given directory, its exit status and both of its output
// streams captured (the tests that start the programs as child processes).
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/scratch.h"

namespace drav::testing {

struct CommandResult {
  int status = -1;  // the exit status; -1 when the command did not exit by itself
  std::string out, err;
};

// 'text' for the shell (no single quote may be in it).
inline std::string shell_quote(const std::string& text) {
  return "'" + text + "'";
}

// Runs `cmd` in `dir` with no standard input; the streams go through the files
// `capture` + ".out" and ".err", which are left for a look after a failure.
inline CommandResult run_command(const std::filesystem::path& dir, const std::string& cmd,
                                 const std::string& capture) {
  const std::string out = capture + ".out", err = capture + ".err";
  const std::string full = "cd " + shell_quote(dir.string()) + " && " + cmd + " >" +
                           shell_quote(out) + " 2>" + shell_quote(err) + " </dev/null";
  const int rc = std::system(full.c_str());
  CommandResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

}  // namespace drav::testing
