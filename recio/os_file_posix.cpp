// The file seam on POSIX systems.
#ifndef _WIN32

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "recio/os_file.h"

namespace drav::recio::os {

static_assert(sizeof(off_t) >= 8, "files over 2 GiB need 64-bit offsets");

namespace {

// One read()/write() call moves at most about 2 GiB on Linux; stay well below.
constexpr size_t kMaxChunk = size_t{1} << 30;

Status from_errno(int err) {
  Status s;
  switch (err) {
    case 0:
      return s;
    case ENOENT:
      s.kind = Status::Kind::NotFound;
      break;
    case EISDIR:
      s.kind = Status::Kind::IsDirectory;
      break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      s.kind = Status::Kind::NoSpace;
      break;
    default:
      s.kind = Status::Kind::Other;
  }
  s.detail = std::strerror(err);
  return s;
}

Status last_error() {
  return from_errno(errno);
}

Status status_of(Status::Kind kind, const char* detail) {
  Status s;
  s.kind = kind;
  s.detail = detail;
  return s;
}

// Writes all n bytes to fd, at offset *off or, without one, at the file position, in chunks
// the system takes; a write that takes nothing is a full device.
Status write_all(int fd, const void* src, size_t n, const int64_t* off) {
  const auto* p = static_cast<const unsigned char*>(src);
  size_t done = 0;
  while (done < n) {
    const size_t ask = std::min(n - done, kMaxChunk);
    const ssize_t r =
        off == nullptr
            ? ::write(fd, p + done, ask)
            : ::pwrite(fd, p + done, ask, static_cast<off_t>(*off + static_cast<int64_t>(done)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    if (r == 0) return from_errno(ENOSPC);
    done += static_cast<size_t>(r);
  }
  return Status::success();
}

// Drops O_NONBLOCK again after an open that used it only so that a pipe could not stall it.
bool make_blocking(int fd) {
  const int fl = ::fcntl(fd, F_GETFL);
  return fl >= 0 && ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) >= 0;
}

}  // namespace

File::~File() {
  if (handle_ != kNoHandle) ::close(handle_);
}

File::File(File&& o) noexcept
    : handle_(std::exchange(o.handle_, kNoHandle)), regular_(o.regular_), append_(o.append_) {}

File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    if (handle_ != kNoHandle) ::close(handle_);
    handle_ = std::exchange(o.handle_, kNoHandle);
    regular_ = o.regular_;
    append_ = o.append_;
  }
  return *this;
}

Status File::open_read(const std::string& path) {
  if (handle_ != kNoHandle) close();
  // O_NONBLOCK so that a named pipe cannot stall the open; it is refused below anyway.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return last_error();
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const Status s = last_error();
    ::close(fd);
    return s;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return S_ISDIR(st.st_mode) ? status_of(Status::Kind::IsDirectory, "it is a directory")
                               : status_of(Status::Kind::NotRegular, "not a regular file");
  }
  if (!make_blocking(fd)) {
    const Status s = last_error();
    ::close(fd);
    return s;
  }
  handle_ = fd;
  regular_ = true;
  append_ = false;
  return Status::success();
}

Status File::open_write(const std::string& path, bool create, bool append) {
  if (handle_ != kNoHandle) close();
  // A pipe without a reader fails (ENXIO) instead of blocking.
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (create) flags |= O_CREAT;
  if (append) flags |= O_APPEND;
  int fd = ::open(path.c_str(), flags | O_RDWR, 0666);
  bool write_only = fd < 0 && (errno == EACCES || errno == EPERM);  // write permission only
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    // A pipe opened for reading and writing has a reader: writes would block once its buffer
    // is full. Opened for writing only, one without a reader fails at once.
    ::close(fd);
    fd = -1;
    write_only = true;
  }
  if (write_only) fd = ::open(path.c_str(), flags | O_WRONLY, 0666);
  if (fd < 0) return last_error();
  if (::fstat(fd, &st) != 0 || !make_blocking(fd)) {
    const Status s = last_error();
    ::close(fd);
    return s;
  }
  handle_ = fd;
  regular_ = S_ISREG(st.st_mode);
  append_ = append;
  return Status::success();
}

Status File::create_new(const std::string& path) {
  if (handle_ != kNoHandle) close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return last_error();
  handle_ = fd;
  regular_ = true;
  append_ = false;
  return Status::success();
}

Status File::size(int64_t& bytes) const {
  struct stat st {};
  if (::fstat(handle_, &st) != 0) return last_error();
  bytes = static_cast<int64_t>(st.st_size);
  return Status::success();
}

Status File::read_at(int64_t off, void* dst, size_t n, size_t& got) {
  auto* out = static_cast<unsigned char*>(dst);
  got = 0;
  while (got < n) {
    const ssize_t r = ::pread(handle_, out + got, std::min(n - got, kMaxChunk),
                              static_cast<off_t>(off + static_cast<int64_t>(got)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return Status::success();
}

Status File::read(void* dst, size_t n, size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t r = ::read(handle_, dst, std::min(n, kMaxChunk));
    if (r < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    got = static_cast<size_t>(r);
    return Status::success();
  }
}

Status File::write(const void* src, size_t n) {
  return write_all(handle_, src, n, nullptr);
}

Status File::write_pieces(const std::string_view* pieces, size_t count) {
  // At most this many pieces a call (the system's limit, at least the 16 every system takes).
  static constexpr size_t kMost = 1024;
  static const size_t most = [] {
    const long m = ::sysconf(_SC_IOV_MAX);
    return m >= 16 ? std::min(static_cast<size_t>(m), kMost) : size_t{16};
  }();
  struct iovec iov[kMost];
  size_t i = 0, done = 0;  // pieces[i] is written up to `done`
  for (;;) {
    while (i < count && done == pieces[i].size()) {
      ++i;
      done = 0;
    }
    if (i == count) return Status::success();
    size_t n = 0, bytes = 0;
    for (size_t j = i; j < count && n < most && bytes < kMaxChunk; ++j) {
      const size_t from = j == i ? done : 0;
      const size_t len = std::min(pieces[j].size() - from, kMaxChunk - bytes);
      if (len == 0) continue;
      iov[n].iov_base = const_cast<char*>(pieces[j].data() + from);
      iov[n].iov_len = len;
      bytes += len;
      ++n;
    }
    const ssize_t r = ::writev(handle_, iov, static_cast<int>(n));
    if (r < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    if (r == 0) return from_errno(ENOSPC);
    for (auto left = static_cast<size_t>(r); left > 0;) {
      const size_t take = std::min(left, pieces[i].size() - done);
      done += take;
      left -= take;
      if (done == pieces[i].size()) {
        ++i;
        done = 0;
      }
    }
  }
}

Status File::write_at(int64_t off, const void* src, size_t n) {
  return write_all(handle_, src, n, &off);
}

Status File::truncate(int64_t bytes) {
  if (::ftruncate(handle_, static_cast<off_t>(bytes)) != 0) return last_error();
  if (::lseek(handle_, static_cast<off_t>(bytes), SEEK_SET) < 0) return last_error();
  return Status::success();
}

Status File::seek_to(int64_t off) {
  if (::lseek(handle_, static_cast<off_t>(off), SEEK_SET) < 0) return last_error();
  return Status::success();
}

namespace {

// True when the file system of fd discards freed blocks one piece at a time as they are freed
// (Linux: the mount option "discard"; btrfs' "discard=async" batches them later). Removing a
// file with holes there sends one discard per written piece: renaming a new banded matrix file
// of 8000 rows over the earlier one (16,000 pieces) took 1.6 s on an idle machine and over a
// minute on a busy one, where storing the zeros costs a fraction of a second.
bool discards_each_piece(int fd) {
#ifdef __linux__
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  std::FILE* f = std::fopen("/proc/self/mountinfo", "re");
  if (f == nullptr) return false;
  // "36 35 98:0 /root /mnt rw,noatime shared:1 - ext4 /dev/vda rw,discard,errors=remount-ro"
  const std::string dev =
      " " + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)) + " ";
  bool discard = false;
  char* line = nullptr;
  size_t cap = 0;
  while (::getline(&line, &cap, f) > 0) {
    const std::string l(line);
    const size_t sep = l.find(" - ");
    if (l.find(dev) >= sep) continue;  // another device (its number stands before " - ")
    const size_t opts = l.find_last_of(' ');
    const std::string super = "," + l.substr(opts + 1, l.find_last_not_of("\n") - opts) + ",";
    discard = super.find(",discard,") != std::string::npos ||
              super.find(",discard=sync,") != std::string::npos;
  }
  std::free(line);
  std::fclose(f);
  return discard;
#else
  (void)fd;
  return false;
#endif
}

}  // namespace

bool File::mark_sparse() {
  // A region past the end that a later write or ftruncate skips reads as zeros everywhere;
  // whether it also takes no blocks is the file system's affair.
  return handle_ != kNoHandle && regular_ && !append_ && !discards_each_piece(handle_);
}

void File::start_writeback(int64_t off, int64_t bytes) {
#ifdef __linux__
  (void)::sync_file_range(handle_, static_cast<off_t>(off), static_cast<off_t>(bytes),
                          SYNC_FILE_RANGE_WRITE);
#else
  (void)off;
  (void)bytes;
#endif
}

Status File::sync() {
  while (::fsync(handle_) != 0) {
    if (errno == EINTR) continue;
    // Pipes and some devices cannot be synchronised and hold nothing to lose.
    if (errno == EINVAL || errno == EROFS) return Status::success();
    return last_error();
  }
  return Status::success();
}

Status File::copy_permissions(const File& model) {
  struct stat st {};
  if (::fstat(model.handle_, &st) != 0) return last_error();
  if (::fchmod(handle_, st.st_mode & 07777) != 0) return last_error();
  return Status::success();
}

Status File::close() {
  if (handle_ == kNoHandle) return Status::success();
  const int fd = std::exchange(handle_, kNoHandle);
  // After EINTR the descriptor is gone on Linux; retrying could close another file.
  if (::close(fd) != 0 && errno != EINTR) return last_error();
  return Status::success();
}

Status rename_over(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return last_error();
  return Status::success();
}

bool renamable_over(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
}

Status remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return last_error();
  return Status::success();
}

Status sync_directory_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string(".")
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return last_error();
  Status s;
  while (::fsync(fd) != 0) {
    if (errno == EINTR) continue;
    if (errno != EINVAL) s = last_error();
    break;
  }
  ::close(fd);
  return s;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

Status write_stream(Stream s, std::string_view bytes) {
  return write_all(s == Stream::Out ? STDOUT_FILENO : STDERR_FILENO, bytes.data(), bytes.size(),
                   nullptr);
}

int64_t process_id() {
  return static_cast<int64_t>(::getpid());
}

}  // namespace drav::recio::os

#endif  // _WIN32
