// The operating-system seam of the record and text files: the only code that calls the
// platform's file interface. One implementation per platform (os_file_posix.cpp,
// os_file_win32.cpp); the record framing, the text lines and the fatal report above it know no
// platform. Files are always binary: no platform translates line ends or stops at a 0x1A byte,
// and offsets and sizes are 64-bit everywhere.
//
// Every call returns a Status instead of throwing: the callers (binrec, textio) turn a failure
// into the fatal report of their unit and file (os_fail), so that the mapping from a system
// error to the condition text lives in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace drav::recio::os {

// The outcome of a platform call.
struct Status {
  enum class Kind {
    Ok,
    NotFound,     // no such file (or a directory of the path is missing)
    IsDirectory,  // the path names a directory
    NotRegular,   // a device, pipe or socket: refused, so that no open or read can block
    NoSpace,      // the file system is full (also a write that the system cut short)
    InUse,        // another process holds the file in a way that forbids this (Windows)
    Other,
  };
  Kind kind = Kind::Ok;
  std::string detail;  // the system's own words, for the report ("Permission denied")

  bool ok() const { return kind == Kind::Ok; }
  static Status success() { return {}; }
};

// An open file. Movable, not copyable; the destructor closes it without a report.
class File {
 public:
  File() = default;
  ~File();
  File(File&& o) noexcept;
  File& operator=(File&& o) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing regular file for reading, positioned at its start.
  Status open_read(const std::string& path);

  // Opens a file for writing without changing its content. `create`: a missing file is
  // created (otherwise NotFound). `append`: every write goes to the end of the file; otherwise
  // the position is the start. Read access is taken as well where the system grants it, so that
  // read_at can look at what the file holds (it fails otherwise). A pipe or device is accepted
  // only if it can be opened without blocking; is_regular() tells it apart.
  Status open_write(const std::string& path, bool create, bool append);

  // Creates `path` as a new, empty regular file for writing (and reading); fails when the
  // path exists (Kind::Other, or IsDirectory).
  Status create_new(const std::string& path);

  bool is_open() const { return handle_ != kNoHandle; }
  bool is_regular() const { return regular_; }

  // The current size of the file in bytes.
  Status size(int64_t& bytes) const;

  // Reads up to n bytes at offset `off`; `got` < n only at the end of the file.
  Status read_at(int64_t off, void* dst, size_t n, size_t& got);
  // Reads up to n bytes at the current position and advances it; got = 0 at the end.
  Status read(void* dst, size_t n, size_t& got);

  // Writes all n bytes at the current position (or at the end in append mode). A write that
  // the system cuts short without an error is NoSpace.
  Status write(const void* src, size_t n);
  // Writes the pieces one after the other at the current position, as a write() of each
  // would, in as few calls to the system as it takes.
  Status write_pieces(const std::string_view* pieces, size_t count);
  // Writes all n bytes at offset `off` (not in append mode). Threads may write different
  // places of one file at once. The position is not used, and afterwards is unspecified.
  Status write_at(int64_t off, const void* src, size_t n);

  // Cuts the file to `bytes`, or lengthens it to `bytes`, and moves the position there.
  Status truncate(int64_t bytes);
  // Moves the position to `off` from the start.
  Status seek_to(int64_t off);

  // Lets the regions of this file that are never written (skipped by write_at, or added by
  // truncate) stay holes: they read as zero bytes and take no disk space where the file
  // system has holes. False when they cannot be relied on to read as zeros (not a regular
  // file, append mode, or a Windows file system that refuses the sparse mark), or when holes
  // would cost more than they save (a Linux file system that discards every freed piece at
  // once): the caller then writes its zeros. POSIX promises zeros in every regular file;
  // Windows only in a file marked sparse.
  bool mark_sparse();

  // Forces the written data to stable storage.
  Status sync();
  // Asks the system to start storing the `bytes` written from `off` on, without waiting, so
  // that a later sync() finds less to wait for. Only a hint: nothing is reported, and where
  // the system has no such request it does nothing.
  void start_writeback(int64_t off, int64_t bytes);

  // Gives this file the access permissions of `model` (both open), so that a file written anew
  // and renamed over an old one keeps who may read and write it.
  Status copy_permissions(const File& model);

  // Closes the file; a failure of the close itself is reported (written data may be lost).
  Status close();

 private:
#ifdef _WIN32
  using Handle = void*;
  static inline Handle const kNoHandle = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));
#else
  using Handle = int;
  static constexpr Handle kNoHandle = -1;
#endif
  Handle handle_ = kNoHandle;
  bool regular_ = false;
  bool append_ = false;
};

// Renames `from` to `to`, replacing `to` if it exists, as one step: at every moment `to` is
// either the old file or the new one.
Status rename_over(const std::string& from, const std::string& to);

// True when a new file renamed over `path` takes its place without losing more than the old
// bytes: nothing is there, or a regular file of this user with no other name (hard link) and
// not reached through a symbolic link. A rename over anything else would cut a link, change
// the owner or turn a device into a file.
bool renamable_over(const std::string& path);

// Removes a file; a missing file is NotFound.
Status remove_file(const std::string& path);

// Forces the directory entry of `path` (a rename or a creation in its directory) to stable
// storage where the system needs that separately; elsewhere it does nothing.
Status sync_directory_of(const std::string& path);

// True when something exists at `path` (a file, a directory or anything else).
bool exists(const std::string& path);

// Writes bytes to standard output or standard error as they are (no translation, no
// buffering left behind: they have reached the system when the call returns).
enum class Stream { Out, Err };
Status write_stream(Stream s, std::string_view bytes);

// The identity of this process, for names of scratch files that must not collide.
int64_t process_id();

}  // namespace drav::recio::os
