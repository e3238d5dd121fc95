// Runs a program of the suite as a child process for the end-to-end tests, on POSIX and on
// Windows alike and without a shell: arguments pass as they are, standard input is the null
// device, standard output and error go to files.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace drav::testing {

using EnvList = std::vector<std::pair<std::string, std::string>>;

// Splits a command line at blanks; a part in single quotes is one argument as it stands
// (the tests quote paths that way).
inline std::vector<std::string> split_command(const std::string& cmd) {
  std::vector<std::string> args;
  std::string cur;
  bool in_arg = false, quoted = false;
  for (const char c : cmd) {
    if (quoted) {
      if (c == '\'') {
        quoted = false;
      } else {
        cur += c;
      }
    } else if (c == '\'') {
      quoted = in_arg = true;
    } else if (c == ' ' || c == '\t') {
      if (in_arg) args.push_back(cur);
      cur.clear();
      in_arg = false;
    } else {
      cur += c;
      in_arg = true;
    }
  }
  if (in_arg) args.push_back(cur);
  return args;
}

#ifdef _WIN32

inline std::wstring to_wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// One argument as the C runtime of the child splits its command line again.
inline std::wstring quote_argument(const std::wstring& a) {
  if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
  std::wstring q = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : a) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    q.append(backslashes, L'\\');
    backslashes = 0;
    q += c;
  }
  q.append(backslashes * 2, L'\\');
  q += L'"';
  return q;
}

inline HANDLE inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return ::CreateFileW(to_wide(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One start of the child and the wait for its end; nothing when it could not be started.
inline std::optional<int> start_and_wait(std::wstring& line, const std::string& dir,
                                         const std::string& out, const std::string& err,
                                         const EnvList& env) {
  const HANDLE in = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE o = inheritable(out, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE e = err == out ? o : inheritable(err, GENERIC_WRITE, CREATE_ALWAYS);
  // The child takes the environment of this process, with the given variables set for it.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const auto& [name, value] : env) {
    const std::wstring n = to_wide(name);
    wchar_t buf[32768];
    const DWORD len = ::GetEnvironmentVariableW(n.c_str(), buf, 32768);
    saved.emplace_back(n, len > 0 ? std::wstring(buf, len) : std::wstring(1, L'\0'));
    ::SetEnvironmentVariableW(n.c_str(), to_wide(value).c_str());
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = o;
  si.hStdError = e;
  PROCESS_INFORMATION pi{};
  const std::wstring wdir = to_wide(dir);
  const bool started = in != INVALID_HANDLE_VALUE && o != INVALID_HANDLE_VALUE &&
                       e != INVALID_HANDLE_VALUE &&
                       ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        wdir.empty() ? nullptr : wdir.c_str(), &si, &pi);
  for (const auto& [n, v] : saved) {
    ::SetEnvironmentVariableW(n.c_str(), v == std::wstring(1, L'\0') ? nullptr : v.c_str());
  }
  for (const HANDLE h : {in, o, e == o ? INVALID_HANDLE_VALUE : e}) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  if (!started) return std::nullopt;
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

// Runs argv[0] with its arguments in `dir`; returns its exit status (-1 when it could not be
// started). `err` equal to `out` puts both streams into one file.
inline int run_program(const std::vector<std::string>& argv, const std::string& dir,
                       const std::string& out, const std::string& err, const EnvList& env = {}) {
  std::wstring line;
  for (const std::string& a : argv) {
    if (!line.empty()) line += L' ';
    line += quote_argument(to_wide(a));
  }
  // Under wine a start can fail now and then for a moment (the capture file of the previous
  // child not yet let go, the wine server busy): a few tries, a little apart.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt > 0) ::Sleep(200);
    if (const std::optional<int> status = start_and_wait(line, dir, out, err, env)) return *status;
  }
  return -1;
}

#else

inline int run_program(const std::vector<std::string>& argv, const std::string& dir,
                       const std::string& out, const std::string& err, const EnvList& env = {}) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = err == out ? o : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace drav::testing
