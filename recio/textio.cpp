#include "recio/textio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "recio/fatal.h"

namespace drav::recio {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The console is the default output unit; its failures are reported under this unit.
constexpr int kConsoleUnit = 6;
constexpr std::string_view kConsoleName = "stdout";

bool write_all(std::FILE* f, std::string_view s) {
  return s.empty() || std::fwrite(s.data(), 1, s.size(), f) == s.size();
}

std::string errno_text(int e) {
  return std::strerror(e);
}

// What an existing file opened for appending lacks after its last line: nothing when it is
// empty or ends in LF, the LF of a CR LF cut off after its CR, else a whole CR LF. A file
// that cannot be read back (write-only, not a regular file) is taken as it is. It is read
// through the open descriptor, so that it is the very file opened even if the path moved.
std::string_view missing_line_end(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return {};
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int rfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (rfd < 0) return {};
  char last = '\n';
  const bool got = ::pread(rfd, &last, 1, st.st_size - 1) == 1;
  ::close(rfd);
  if (!got || last == '\n') return {};
  return last == '\r' ? std::string_view("\n") : kCrLf;
}

}  // namespace

void ConsoleSink::put(std::string_view line) {
  // Flushed record by record so that console lines keep their order with the fatal report,
  // which goes to standard error.
  if (!write_all(stdout, line) || !write_all(stdout, kCrLf) || std::fflush(stdout) != 0) {
    io_fail(kWriteError, kConsoleUnit, kConsoleName, errno_text(errno));
  }
}

void TextSink::put_lines(std::string_view block) {
  while (!block.empty()) {
    const size_t end = block.find(kCrLf);
    if (end == std::string_view::npos) {  // not laid out as asked: the rest is one more line
      put(block);
      return;
    }
    put(block.substr(0, end));
    block.remove_prefix(end + kCrLf.size());
  }
}

void StringSink::put(std::string_view line) {
  text_.append(line);
  text_.append(kCrLf);
}

void StringSink::put_lines(std::string_view block) {
  text_.append(block);
}

TextFileOut::TextFileOut(int unit, std::string path, Access access, OpenStatus status)
    : unit_(unit), path_(std::move(path)) {
  // open(2) rather than fopen: neither "w" (truncates at once) nor "r+" (needs read access)
  // gives a write position at the start that leaves the content alone until the first record.
  int flags = O_WRONLY | O_CLOEXEC;
  if (status == OpenStatus::Unknown) flags |= O_CREAT;
  if (access == Access::Append) flags |= O_APPEND;
  int fd = ::open(path_.c_str(), flags, 0666);
  if (fd < 0) {
    int e = errno;
    if (e == ENOENT && status == OpenStatus::Old) io_fail(kFileNotFound, unit_, path_);
    io_fail(kOpenFailure, unit_, path_, errno_text(e));
  }
  f_ = ::fdopen(fd, access == Access::Append ? "ab" : "wb");
  if (f_ == nullptr) {
    int e = errno;
    ::close(fd);
    io_fail(kOpenFailure, unit_, path_, errno_text(e));
  }
  truncate_on_write_ = access == Access::Sequential;
  if (access == Access::Append) end_line_ = missing_line_end(fd);
}

TextFileOut::~TextFileOut() {
  if (f_ != nullptr) std::fclose(f_);
}

void TextFileOut::before_first_record() {
  if (f_ == nullptr) io_fail(kWriteError, unit_, path_, "the file is closed");
  if (truncate_on_write_) {
    // The first record written becomes the last one of the file: cut off the old content.
    // Nothing has been written yet, so the stream position is still the start.
    truncate_on_write_ = false;
    if (::ftruncate(::fileno(f_), 0) != 0) {
      int e = errno;
      struct stat st;
      // Devices and pipes cannot be cut and have no old content to lose.
      if (::fstat(::fileno(f_), &st) != 0 || S_ISREG(st.st_mode)) {
        io_fail(kWriteError, unit_, path_, errno_text(e));
      }
    }
  }
  if (!end_line_.empty()) {
    // The file's old last line has no terminator: end it, or the record would join it.
    const std::string_view end = end_line_;
    end_line_ = {};
    write_bytes(end);
  }
}

void TextFileOut::write_bytes(std::string_view s) {
  if (!write_all(f_, s)) io_fail(kWriteError, unit_, path_, errno_text(errno));
}

void TextFileOut::put(std::string_view line) {
  before_first_record();
  write_bytes(line);
  write_bytes(kCrLf);
}

void TextFileOut::put_lines(std::string_view block) {
  if (block.empty()) return;
  before_first_record();
  write_bytes(block);
}

void TextFileOut::close() {
  if (f_ == nullptr) return;
  std::FILE* f = f_;
  f_ = nullptr;
  bool ok = std::fflush(f) == 0 && !std::ferror(f);
  int e = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (!ok) io_fail(kWriteError, unit_, path_, errno_text(e));
}

TextFileIn::TextFileIn(int unit, std::string path) : unit_(unit), path_(std::move(path)) {
  f_ = std::fopen(path_.c_str(), "rbe");
  if (f_ == nullptr) {
    int e = errno;
    if (e == ENOENT) io_fail(kFileNotFound, unit_, path_);
    io_fail(kOpenFailure, unit_, path_, errno_text(e));
  }
  struct stat st;
  if (::fstat(::fileno(f_), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f_);
    f_ = nullptr;
    io_fail(kOpenFailure, unit_, path_, "it is a directory");
  }
}

TextFileIn::~TextFileIn() {
  if (f_ != nullptr) std::fclose(f_);
  std::free(buf_);
}

bool TextFileIn::next_line(std::string& line) {
  if (f_ == nullptr) return false;
  errno = 0;
  ssize_t n = ::getline(&buf_, &cap_, f_);
  if (n < 0) {
    if (std::feof(f_) && !std::ferror(f_)) return false;
    int e = errno;
    fail(kReadError, "line " + std::to_string(line_no_ + 1) + ": " + errno_text(e));
  }
  size_t len = static_cast<size_t>(n);
  if (len > 0 && buf_[len - 1] == '\n') --len;
  // CR LF and LF both end a line; a CR left at the very end of the file goes as well.
  if (len > 0 && buf_[len - 1] == '\r') --len;
  line.assign(buf_, len);
  ++line_no_;
  return true;
}

void TextFileIn::read_A(char* field, size_t n) {
  std::string line;
  if (!next_line(line)) fail_eof();
  size_t k = line.size() < n ? line.size() : n;
  std::memcpy(field, line.data(), k);
  std::memset(field + k, ' ', n - k);
}

void TextFileIn::close() {
  if (f_ != nullptr) std::fclose(f_);
  f_ = nullptr;
}

void TextFileIn::fail(std::string_view condition, std::string_view detail) const {
  io_fail(condition, unit_, path_, detail);
}

void TextFileIn::fail_eof() const {
  fail(kEndOfFile, line_no_ == 0 ? std::string("the file is empty")
                                 : "the file ends after line " + std::to_string(line_no_));
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace drav::recio
