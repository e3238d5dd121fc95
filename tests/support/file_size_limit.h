// A lower limit on the size of the files this process writes, for its scope (POSIX): a write
// beyond it fails (SIGXFSZ is ignored), as on a full disk.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace drav::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    if (::getrlimit(RLIMIT_FSIZE, &old_) != 0) return;
    struct rlimit lower = old_;
    lower.rlim_cur = bytes;
    set_ = ::setrlimit(RLIMIT_FSIZE, &lower) == 0;
  }
  ~FileSizeLimit() {
    if (set_) ::setrlimit(RLIMIT_FSIZE, &old_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool set() const { return set_; }  // the limit is in force

 private:
  struct rlimit old_ {};
  bool set_ = false;
};

}  // namespace drav::testing
