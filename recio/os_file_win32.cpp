// The file seam on Windows: the Win32 file interface with UTF-16 paths, 64-bit offsets and no
// text mode anywhere (the C runtime's file and console layers are not used at all).
#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <utility>

#include "recio/os_file.h"

namespace drav::recio::os {

namespace {

// One ReadFile/WriteFile call moves at most a DWORD's worth of bytes; stay well below.
constexpr size_t kMaxChunk = size_t{1} << 30;

// Paths are UTF-8; bytes that are not (a name written in the suite's 8-bit code page) are
// taken in the system's code page instead of being replaced.
std::wstring wide(const std::string& path) {
  if (path.empty()) return {};
  const int len = static_cast<int>(path.size());
  UINT page = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  int n = ::MultiByteToWideChar(page, flags, path.data(), len, nullptr, 0);
  if (n <= 0) {
    page = CP_ACP;
    flags = 0;
    n = ::MultiByteToWideChar(page, flags, path.data(), len, nullptr, 0);
  }
  std::wstring w(static_cast<size_t>(std::max(n, 0)), L'\0');
  if (n > 0) ::MultiByteToWideChar(page, flags, path.data(), len, w.data(), n);
  return w;
}

// The system's own words for an error without a usual wording below.
std::string system_words(DWORD err) {
  char* buf = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, err, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&buf), 0,
      nullptr);
  std::string s;
  if (n > 0 && buf != nullptr) s.assign(buf, n);
  if (buf != nullptr) ::LocalFree(buf);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
    s.pop_back();
  if (s.empty()) s = "system error " + std::to_string(err);
  return s;
}

// The common conditions carry the same words as on the other platforms, so that a report
// reads the same wherever the program runs.
Status from_error(DWORD err) {
  Status s;
  switch (err) {
    case ERROR_SUCCESS:
      return s;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      s.kind = Status::Kind::NotFound;
      s.detail = "No such file or directory";
      return s;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      s.kind = Status::Kind::NoSpace;
      s.detail = "No space left on device";
      return s;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      s.kind = Status::Kind::Other;
      s.detail = "Permission denied";
      return s;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      s.kind = Status::Kind::InUse;
      s.detail = "File is in use by another process";
      return s;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      s.kind = Status::Kind::Other;
      s.detail = "File exists";
      return s;
    default:
      s.kind = Status::Kind::Other;
      s.detail = system_words(err);
      return s;
  }
}

Status last_error() {
  return from_error(::GetLastError());
}

Status status_of(Status::Kind kind, const char* detail) {
  Status s;
  s.kind = kind;
  s.detail = detail;
  return s;
}

std::wstring full_path(const std::wstring& path) {
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD m = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return path;
  full.resize(m);
  return full;
}

bool is_directory(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A failed CreateFileW: a directory shows as "access denied".
Status open_error(const std::wstring& path) {
  const DWORD err = ::GetLastError();
  if (err == ERROR_ACCESS_DENIED && is_directory(path)) {
    return status_of(Status::Kind::IsDirectory, "it is a directory");
  }
  return from_error(err);
}

// Other processes may read, write, rename and remove the file while it is open, as on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_handle(const std::wstring& path, DWORD access, DWORD disposition) {
  return ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool seek(HANDLE h, int64_t off, DWORD how, int64_t* now = nullptr) {
  LARGE_INTEGER d;
  d.QuadPart = off;
  LARGE_INTEGER n;
  if (!::SetFilePointerEx(h, d, &n, how)) return false;
  if (now != nullptr) *now = n.QuadPart;
  return true;
}

// At the file pointer, or with `off` at that place: the place then goes with each call rather
// than through the file pointer, so that several threads can write their parts of one file at
// once.
Status write_all(HANDLE h, const void* src, size_t n, const int64_t* off = nullptr) {
  const auto* p = static_cast<const unsigned char*>(src);
  size_t done = 0;
  while (done < n) {
    OVERLAPPED place{};
    if (off != nullptr) {
      const auto at = static_cast<uint64_t>(*off) + done;
      place.Offset = static_cast<DWORD>(at & 0xffffffffu);
      place.OffsetHigh = static_cast<DWORD>(at >> 32);
    }
    DWORD w = 0;
    const DWORD ask = static_cast<DWORD>(std::min(n - done, kMaxChunk));
    if (!::WriteFile(h, p + done, ask, &w, off != nullptr ? &place : nullptr)) return last_error();
    if (w == 0) return from_error(ERROR_DISK_FULL);
    done += w;
  }
  return Status::success();
}

}  // namespace

File::~File() {
  if (handle_ != kNoHandle) ::CloseHandle(handle_);
}

File::File(File&& o) noexcept
    : handle_(std::exchange(o.handle_, kNoHandle)), regular_(o.regular_), append_(o.append_) {}

File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    if (handle_ != kNoHandle) ::CloseHandle(handle_);
    handle_ = std::exchange(o.handle_, kNoHandle);
    regular_ = o.regular_;
    append_ = o.append_;
  }
  return *this;
}

Status File::open_read(const std::string& path) {
  if (handle_ != kNoHandle) close();
  const std::wstring w = wide(path);
  const HANDLE h = open_handle(w, GENERIC_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return open_error(w);
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return status_of(Status::Kind::NotRegular, "not a regular file");
  }
  handle_ = h;
  regular_ = true;
  append_ = false;
  return Status::success();
}

Status File::open_write(const std::string& path, bool create, bool append) {
  if (handle_ != kNoHandle) close();
  const std::wstring w = wide(path);
  const DWORD disposition = create ? OPEN_ALWAYS : OPEN_EXISTING;
  HANDLE h = open_handle(w, GENERIC_READ | GENERIC_WRITE, disposition);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED && !is_directory(w)) {
    h = open_handle(w, GENERIC_WRITE, disposition);  // write permission only
  }
  if (h == INVALID_HANDLE_VALUE) return open_error(w);
  handle_ = h;
  regular_ = ::GetFileType(h) == FILE_TYPE_DISK;
  append_ = append;
  return Status::success();
}

Status File::create_new(const std::string& path) {
  if (handle_ != kNoHandle) close();
  const std::wstring w = wide(path);
  const HANDLE h = open_handle(w, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  if (h == INVALID_HANDLE_VALUE) return open_error(w);
  handle_ = h;
  regular_ = true;
  append_ = false;
  return Status::success();
}

Status File::size(int64_t& bytes) const {
  LARGE_INTEGER n;
  if (!::GetFileSizeEx(handle_, &n)) return last_error();
  bytes = n.QuadPart;
  return Status::success();
}

Status File::read_at(int64_t off, void* dst, size_t n, size_t& got) {
  auto* out = static_cast<unsigned char*>(dst);
  got = 0;
  // A positioned read moves the file pointer of a handle like this one: it is put back, so
  // that reads and writes at the position go on where they were.
  int64_t pos = 0;
  if (!seek(handle_, 0, FILE_CURRENT, &pos)) return last_error();
  Status st;
  while (got < n) {
    OVERLAPPED ov{};
    const uint64_t at = static_cast<uint64_t>(off) + got;
    ov.Offset = static_cast<DWORD>(at & 0xffffffffu);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD r = 0;
    const DWORD ask = static_cast<DWORD>(std::min(n - got, kMaxChunk));
    if (!::ReadFile(handle_, out + got, ask, &r, &ov)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      st = last_error();
      break;
    }
    if (r == 0) break;
    got += r;
  }
  if (!seek(handle_, pos, FILE_BEGIN) && st.ok()) st = last_error();
  return st;
}

Status File::read(void* dst, size_t n, size_t& got) {
  got = 0;
  DWORD r = 0;
  if (!::ReadFile(handle_, dst, static_cast<DWORD>(std::min(n, kMaxChunk)), &r, nullptr)) {
    const DWORD err = ::GetLastError();
    if (err == ERROR_HANDLE_EOF || err == ERROR_BROKEN_PIPE) return Status::success();
    return from_error(err);
  }
  got = r;
  return Status::success();
}

Status File::write(const void* src, size_t n) {
  // One writer per file in this program: the end found now is the end the write lands on.
  if (append_ && regular_ && !seek(handle_, 0, FILE_END)) return last_error();
  return write_all(handle_, src, n);
}

Status File::write_pieces(const std::string_view* pieces, size_t count) {
  // No gathering write for buffered files here: small pieces are joined in a block of about a
  // megabyte, so that the system sees as few calls as a block writer makes.
  constexpr size_t kJoin = size_t{1} << 20;
  std::string block;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view p = pieces[i];
    if (block.size() + p.size() > kJoin && !block.empty()) {
      if (const Status st = write(block.data(), block.size()); !st.ok()) return st;
      block.clear();
    }
    if (p.size() >= kJoin) {
      if (const Status st = write(p.data(), p.size()); !st.ok()) return st;
    } else {
      block.append(p);
    }
  }
  return block.empty() ? Status::success() : write(block.data(), block.size());
}

Status File::write_at(int64_t off, const void* src, size_t n) {
  return write_all(handle_, src, n, &off);
}

Status File::truncate(int64_t bytes) {
  if (!seek(handle_, bytes, FILE_BEGIN)) return last_error();
  if (!::SetEndOfFile(handle_)) return last_error();
  return Status::success();
}

Status File::seek_to(int64_t off) {
  if (!seek(handle_, off, FILE_BEGIN)) return last_error();
  return Status::success();
}

bool File::mark_sparse() {
  // Without the mark the zeros that a skipped region stands for are not promised; a file
  // system without holes (FAT, exFAT) refuses it.
  if (handle_ == kNoHandle || !regular_ || append_) return false;
  DWORD got = 0;
  return ::DeviceIoControl(handle_, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got, nullptr) != 0;
}

void File::start_writeback(int64_t, int64_t) {
  // Windows has no request to start storing a range without waiting for it.
}

Status File::sync() {
  if (!regular_) return Status::success();  // consoles, pipes, devices hold nothing to lose
  if (!::FlushFileBuffers(handle_)) {
    const DWORD err = ::GetLastError();
    if (err == ERROR_INVALID_FUNCTION || err == ERROR_INVALID_HANDLE) return Status::success();
    return from_error(err);
  }
  return Status::success();
}

Status File::copy_permissions(const File&) {
  // The access rights of a Windows file are its security descriptor, which the replacement
  // (ReplaceFileW in rename_over) carries over from the old file to the new one.
  return Status::success();
}

Status File::close() {
  if (handle_ == kNoHandle) return Status::success();
  const HANDLE h = std::exchange(handle_, kNoHandle);
  if (!::CloseHandle(h)) return last_error();
  return Status::success();
}

Status rename_over(const std::string& from, const std::string& to) {
  const std::wstring f = full_path(wide(from));
  const std::wstring t = full_path(wide(to));
  // Over an existing file ReplaceFileW keeps what the old file was beyond its bytes (its
  // security descriptor, attributes, creation time). Where it cannot (a missing old file, a
  // file system without those), both files still have their names, and a plain move over the
  // old file does the replacement.
  const DWORD a = ::GetFileAttributesW(t.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return status_of(Status::Kind::IsDirectory, "Is a directory");  // never replaced by a file
  }
  if (a != INVALID_FILE_ATTRIBUTES &&
      ::ReplaceFileW(t.c_str(), f.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
    return Status::success();
  }
  if (!::MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD err = ::GetLastError();
    // A writable file that cannot be renamed over is one that another process holds open
    // without letting it be removed (some versions say "access denied" for that).
    if (err == ERROR_ACCESS_DENIED && a != INVALID_FILE_ATTRIBUTES &&
        (a & FILE_ATTRIBUTE_READONLY) == 0) {
      return from_error(ERROR_SHARING_VIOLATION);
    }
    return from_error(err);
  }
  return Status::success();
}

bool renamable_over(const std::string& path) {
  const std::wstring w = wide(path);
  const DWORD a = ::GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = ::GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
  }
  // A directory, a link (reparse point) or a read-only file is not replaced by a new file.
  if ((a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY |
            FILE_ATTRIBUTE_DEVICE)) != 0) {
    return false;
  }
  const HANDLE h = ::CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) &&
                  info.nNumberOfLinks <= 1;
  ::CloseHandle(h);
  return ok;
}

Status remove_file(const std::string& path) {
  if (!::DeleteFileW(wide(path).c_str())) return last_error();
  return Status::success();
}

Status sync_directory_of(const std::string&) {
  // The directory entry of a rename is written through (MOVEFILE_WRITE_THROUGH) or journalled
  // with the replacement; there is no separate call for it.
  return Status::success();
}

bool exists(const std::string& path) {
  return ::GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Status write_stream(Stream s, std::string_view bytes) {
  const HANDLE h = ::GetStdHandle(s == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) {
    return status_of(Status::Kind::Other, "Bad file descriptor");
  }
  // WriteFile passes the bytes on as they are, to a console, a file or a pipe.
  return write_all(h, bytes.data(), bytes.size());
}

int64_t process_id() {
  return static_cast<int64_t>(::GetCurrentProcessId());
}

}  // namespace drav::recio::os

#endif  // _WIN32
