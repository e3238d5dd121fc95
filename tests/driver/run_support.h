// Support of the end-to-end tests: working directories made by the model builder, the result
// files a run leaves, and the real program started as a child process, with the ways of
// ending it early that the tests need: a file-size limit (a disk that fills up), a kill at a
// given time, or a kill just before its n-th call that may change a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "support/scratch.h"
#include "tools/mkmodel/model_files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace drav::testing {

// A COMZOR.DAT of the given sizes (NNODE, NUMEL, NDOFN, NEMAX, NBAND) and NEQ, without
// supports, as the model builder writes it (the values the program does not use are zeros).
inline std::string comzor_text(int32_t nnode, int32_t numel, int32_t ndofn, int32_t nemax,
                               int32_t nband, int32_t neq) {
  tools::ModelFiles m;
  m.NNODE = nnode;
  m.NUMEL = numel;
  m.NDOFN = ndofn;
  m.NEMAX = nemax;
  m.NBAND = nband;
  m.NEQ = neq;
  m.fixed.assign(static_cast<size_t>(int64_t{nnode} * ndofn), 0);
  m.spring.assign(m.fixed.size(), 0.0f);
  m.STR1 = "model";
  m.REPFIL = "report.txt";
  m.LANG = "E";
  return tools::comzor_text(m);
}

// The files a run leaves for the next program of the suite (iteration 2 on: AA.UNF).
struct Results {
  std::string aa, order, status;
  bool operator==(const Results&) const = default;
};
inline Results results_in(const std::filesystem::path& dir) {
  return {read_file((dir / "AA.UNF").string()), read_file((dir / "order.dat").string()),
          read_file((dir / "drav0.dat").string())};
}
inline void put_results(const std::filesystem::path& dir, const Results& r) {
  write_file((dir / "AA.UNF").string(), r.aa);
  write_file((dir / "order.dat").string(), r.order);
  write_file((dir / "drav0.dat").string(), r.status);
}

#ifndef _WIN32
// Child processes (POSIX: fork, exec, ptrace, resource limits).

// Writes the description to `desc_file` and builds the working directory `dir` from it;
// false when the builder refuses the description.
inline bool build_model(const std::string& description, const std::string& desc_file,
                        const std::string& dir) {
  write_file(desc_file, description);
  const std::string cmd =
      std::string("'") + DRAV_MKMODEL_EXE + "' '" + desc_file + "' '" + dir + "' >/dev/null";
  return std::system(cmd.c_str()) == 0;
}

struct ChildOptions {
  std::string dir;               // working directory
  std::string out, err;          // files for standard output and error
  int64_t file_size_limit = -1;  // bytes, RLIMIT_FSIZE; SIGXFSZ is ignored so a write fails
  bool traced = false;           // stopped at every system call (see run_until_call)
};

// How a child ended.
struct ChildEnd {
  bool exited = false;  // by itself, with `code`
  int code = -1;
  bool killed = false;  // by the test
};

inline pid_t start_child(const ChildOptions& o) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // In the child: only async-signal-safe calls until exec.
  if (::chdir(o.dir.c_str()) != 0) ::_exit(126);
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(o.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = ::open(o.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0) ::_exit(126);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  if (o.file_size_limit >= 0) {
    const rlimit lim{static_cast<rlim_t>(o.file_size_limit),
                     static_cast<rlim_t>(o.file_size_limit)};
    ::signal(SIGXFSZ, SIG_IGN);
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(126);
  }
  if (o.traced && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(125);
  ::execl(DRAV_EXE, DRAV_EXE, static_cast<char*>(nullptr));
  ::_exit(127);
}

inline ChildEnd end_of(int status, bool killed) {
  ChildEnd e;
  e.exited = WIFEXITED(status);
  e.code = e.exited ? WEXITSTATUS(status) : -1;
  e.killed = killed && !e.exited;
  return e;
}

// Runs the program to its end.
inline ChildEnd run_child(const ChildOptions& o) {
  const pid_t pid = start_child(o);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return end_of(status, false);
}

// Runs the program and kills it (SIGKILL) after `delay`, or as soon as `kill_now` says so
// (asked about every half millisecond), whichever comes first; a run that ends before is not
// killed.
inline ChildEnd run_and_kill(const ChildOptions& o, std::chrono::microseconds delay,
                             const std::function<bool()>& kill_now = {}) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = start_child(o);
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return end_of(status, false);
    if (std::chrono::steady_clock::now() - start >= delay || (kill_now && kill_now())) break;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return end_of(status, true);
}

// The system calls after which a file may look different: writes, opens (which may create or
// cut), renames, removals, size and permission changes. A kill just before each of them, and
// a run to the end, show every state the program's files pass through.
inline bool may_change_a_file(uint64_t nr) {
  static const std::set<uint64_t> calls = {
#define DRAV_CALL(name) SYS_##name,
#ifdef SYS_write
      DRAV_CALL(write)
#endif
#ifdef SYS_writev
          DRAV_CALL(writev)
#endif
#ifdef SYS_pwrite64
              DRAV_CALL(pwrite64)
#endif
#ifdef SYS_pwritev
                  DRAV_CALL(pwritev)
#endif
#ifdef SYS_pwritev2
                      DRAV_CALL(pwritev2)
#endif
#ifdef SYS_open
                          DRAV_CALL(open)
#endif
#ifdef SYS_openat
                              DRAV_CALL(openat)
#endif
#ifdef SYS_openat2
                                  DRAV_CALL(openat2)
#endif
#ifdef SYS_creat
                                      DRAV_CALL(creat)
#endif
#ifdef SYS_rename
                                          DRAV_CALL(rename)
#endif
#ifdef SYS_renameat
                                              DRAV_CALL(renameat)
#endif
#ifdef SYS_renameat2
                                                  DRAV_CALL(renameat2)
#endif
#ifdef SYS_unlink
                                                      DRAV_CALL(unlink)
#endif
#ifdef SYS_unlinkat
                                                          DRAV_CALL(unlinkat)
#endif
#ifdef SYS_truncate
                                                              DRAV_CALL(truncate)
#endif
#ifdef SYS_ftruncate
                                                                  DRAV_CALL(ftruncate)
#endif
#ifdef SYS_fallocate
                                                                      DRAV_CALL(fallocate)
#endif
#ifdef SYS_fchmod
                                                                          DRAV_CALL(fchmod)
#endif
#ifdef SYS_fchmodat
                                                                              DRAV_CALL(fchmodat)
#endif
#ifdef SYS_link
                                                                                  DRAV_CALL(link)
#endif
#ifdef SYS_linkat
                                                                                      DRAV_CALL(
                                                                                          linkat)
#endif
#ifdef SYS_copy_file_range
                                                                                          DRAV_CALL(
                                                                                              copy_file_range)
#endif
#ifdef SYS_sendfile
                                                                                              DRAV_CALL(
                                                                                                  sendfile)
#endif
#undef DRAV_CALL
  };
  return calls.count(nr) != 0;
}

// True when this system can stop a child at its system calls (ptrace may be forbidden in a
// container).
inline bool can_trace() {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(1);
    ::raise(SIGSTOP);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) return false;
  ::ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  ::waitpid(pid, &status, 0);
  return true;
}

// Runs the program traced (every thread) and kills it (SIGKILL) at the entry of its n-th call
// that may change a file (counting from 1), before that call is made. `calls` receives the
// number of such calls that were made; a run with fewer than n ends by itself.
inline ChildEnd run_until_call(ChildOptions o, int64_t n, int64_t& calls) {
  o.traced = true;
  const pid_t pid = start_child(o);
  calls = 0;
  int status = 0;
  ::waitpid(pid, &status, 0);  // the stop at exec
  if (!WIFSTOPPED(status)) return end_of(status, false);
  ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
           PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE);
  ::ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
  for (;;) {
    const pid_t tid = ::waitpid(-1, &status, __WALL);
    if (tid < 0) return ChildEnd{};
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      if (tid == pid) return end_of(status, false);
      continue;  // a thread of it
    }
    if (!WIFSTOPPED(status)) continue;
    long deliver = 0;
    const int sig = WSTOPSIG(status);
    if (sig == (SIGTRAP | 0x80)) {
      __ptrace_syscall_info info{};
      if (::ptrace(PTRACE_GET_SYSCALL_INFO, tid, sizeof info, &info) > 0 &&
          info.op == PTRACE_SYSCALL_INFO_ENTRY && may_change_a_file(info.entry.nr) &&
          ++calls == n) {
        --calls;  // not made
        ::kill(pid, SIGKILL);
        // Every thread is reaped: the leader is reported only after the others.
        for (;;) {
          const pid_t t = ::waitpid(-1, &status, __WALL);
          if (t < 0 || (t == pid && (WIFSIGNALED(status) || WIFEXITED(status)))) break;
        }
        return end_of(status, true);
      }
    } else if (sig != SIGTRAP && sig != SIGSTOP) {
      deliver = sig;  // a signal of its own (SIGSTOP and SIGTRAP come from the tracing)
    }
    ::ptrace(PTRACE_SYSCALL, tid, nullptr, reinterpret_cast<void*>(deliver));
  }
}

#endif  // _WIN32

// A plane strip truss of `panels` square panels (two chords, posts and one diagonal each),
// pinned at the left: 4 * panels + 1 equations, half band 8 unless `extra` sets nband.
inline std::string strip_truss(int panels, const std::string& extra) {
  std::string d = "ndofn 2\nfix 1 x y\nfix 2 x\ndefault E=100 A=1\n" + extra;
  int bar = 0;
  for (int i = 0; i <= panels; ++i) {
    const std::string lo = std::to_string(2 * i + 1), hi = std::to_string(2 * i + 2);
    d += "node " + lo + " " + std::to_string(i) + " 0\nnode " + hi + " " + std::to_string(i) +
         " 1\n";
    d += "bar " + std::to_string(++bar) + " " + lo + " " + hi + "\n";
    if (i == panels) break;
    const std::string lo2 = std::to_string(2 * i + 3), hi2 = std::to_string(2 * i + 4);
    d += "bar " + std::to_string(++bar) + " " + lo + " " + lo2 + "\n";
    d += "bar " + std::to_string(++bar) + " " + hi + " " + hi2 + "\n";
    d += "bar " + std::to_string(++bar) + " " + lo + " " + hi2 + "\n";
  }
  return d;
}

}  // namespace drav::testing
