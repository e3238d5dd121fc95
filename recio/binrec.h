// Binary record files.
//
// Sequential files: each record is a 4-byte little-endian length L, L data bytes, and L again.
// A record too long for one frame is a chain of subrecords whose length words carry the sign
// bit: negative leading length = another subrecord follows; negative trailing length = this
// subrecord continues an earlier one.
//
// Direct files: fixed-length records of 4*R bytes (R given at open in 4-byte units), no
// length words; record n starts at byte (n-1)*4*R.
//
// Every failure ends the run with the fatal report naming the unit and the file. A length word
// that disagrees with its twin or points past the end of the file is a read error, found
// before anything is allocated or copied.
//
// Byte order: the length words are coded byte by byte, so the framing is the same on any host.
// Data items are copied as they lie in memory; the files are little-endian, so the items are
// only right on a little-endian host, which the static_assert below demands.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

#include "recio/fatal.h"
#include "recio/os_file.h"
#include "recio/out_file.h"
#include "recio/textio.h"

namespace drav::recio {

static_assert(std::endian::native == std::endian::little,
              "record data are copied byte for byte and must be little-endian");

namespace detail {

// A file read by byte offset (64-bit). Small reads are served from a window of the file
// (64 KiB), large ones go straight into the caller's memory.
class OffsetFile {
 public:
  // Opens an existing regular file (a directory, device or pipe is refused: it would block or
  // have no size).
  os::Status open(const std::string& path);
  bool is_open() const { return file_.is_open(); }
  int64_t size() const { return size_; }
  // Reads exactly n bytes at offset off; a file that ends before is a failure ("file is
  // shorter").
  os::Status read_at(int64_t off, void* dst, size_t n);
  void close();

 private:
  os::File file_;
  int64_t size_ = 0;
  std::unique_ptr<unsigned char[]> window_;
  int64_t window_off_ = 0;
  size_t window_len_ = 0;
};

}  // namespace detail

// Reads an unformatted sequential file (status old).
class SeqReader {
 public:
  SeqReader(int unit, std::string path);
  ~SeqReader();
  SeqReader(const SeqReader&) = delete;
  SeqReader& operator=(const SeqReader&) = delete;

  // Consumes one record and copies its first `nbytes` data bytes to `dst`; the rest of the
  // record is skipped. nbytes = 0 skips a record. A record shorter than nbytes is
  // "input statement requires too much data"; no record left is "end-of-file during read".
  // Every length word of the record is checked before a byte is copied; a damaged frame
  // (twin lengths differ, bad continuation marks, a length past the end of the file, or 1 to
  // 3 stray bytes after the last record) is "error during read".
  void read(void* dst, size_t nbytes);
  // Consumes one record and returns its data length (for audit tools).
  int64_t record_length();
  bool at_end();  // true when no byte follows the last record consumed
  void close();

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }
  int64_t records_read() const { return record_no_; }

 private:
  // Checks the frame of the record at pos_; returns its data length and where it ends.
  int64_t scan_record(int64_t& end);
  [[noreturn]] void fail(std::string_view condition, const std::string& detail) const;

  int unit_;
  std::string path_;
  detail::OffsetFile file_;
  int64_t pos_ = 0;  // offset of the next record
  int64_t record_no_ = 0;
};

// What a sequential writer does with zero bytes that fill whole pages of the file.
enum class ZeroPages {
  Write,  // every byte is written
  Holes,  // where the file can keep holes (os::File::mark_sparse), such pages are skipped
};

// Writes an unformatted sequential file. Status unknown creates a missing file; status old
// requires it. Opening does not change the file; the first record written replaces its whole
// content, in place or (Replace::Whole) by a new file renamed over it at close(). Output is
// buffered in large blocks.
//
// With ZeroPages::Holes every aligned page of kHolePage bytes that holds only zero bytes
// (+0.0 doubles; a -0.0 is not zero bytes) and lies inside one record's data is left
// unwritten, and close() sets the file's length: the file reads the same bytes, but such
// pages take no disk space where the file system has holes. That needs a file that starts
// empty: the scratch file of a whole replacement, or a regular file cut to nothing in place;
// anything else (a device, a pipe, a file system without sparse files or one that discards
// every freed piece at once) gets every byte.
class SeqWriter {
 public:
  // The longest data part of one frame; longer records become subrecord chains.
  static constexpr int32_t kMaxSubrecord = 2147483639;
  // The grain of the holes: the block of nearly every file system (and the memory page).
  // Where blocks are larger, a block that is only partly zero is simply stored; where they
  // are smaller, shorter zero runs are stored.
  static constexpr size_t kHolePage = 4096;

  SeqWriter(int unit, std::string path, OpenStatus status, Replace how = Replace::InPlace,
            ZeroPages zeros = ZeroPages::Write);
  // Without close(): in place the records written so far are flushed; a whole replacement is
  // dropped and the old file stays.
  ~SeqWriter();
  SeqWriter(const SeqWriter&) = delete;
  SeqWriter& operator=(const SeqWriter&) = delete;

  // Writes one record of `nbytes` bytes (split into subrecords only when one frame cannot
  // hold it).
  void write(const void* src, size_t nbytes);
  // Record i (from 0) of write_records: its bytes from `data`, of which only those in
  // [begin, end) need be there when every byte outside is zero; `data` is then the room that
  // was given. Whole pages of such zeros are passed over unread.
  struct RecordBytes {
    const void* data = nullptr;
    size_t begin = 0, end = 0;
  };
  // Writes `count` records of `nbytes` bytes each, record i (from 0) being what row(i, room)
  // tells, where room is nbytes of memory aligned for doubles that row may fill. In a regular
  // file the records go in up to `parts` stretches of the file side by side, each by a thread
  // of its own, so row must then be safe to call from several threads at once; elsewhere, and
  // for records that need subrecords, one after the other. The file receives the bytes of
  // `count` calls of write(), and a failure is reported for the first record that failed.
  using RecordSource = std::function<RecordBytes(int64_t i, void* room)>;
  void write_records(int64_t count, size_t nbytes, int parts, const RecordSource& row);
  // The records written become the file's content; a failure is "error during write".
  void close();
  // Where the records go to a scratch file, hands what was written so far to stable storage
  // now, so that close() has little left to wait for; in place it does nothing more than hand
  // the buffered bytes to the system. A failure is "error during write".
  void settle();

  // Starts the new content now, as the first record would: a result of no records then
  // replaces an earlier file instead of leaving it in place. Later calls do nothing.
  void replace_content();

  // Lowers the split point so that tests can build subrecord chains from small records.
  void set_subrecord_limit(int32_t bytes);

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }
  // True when the records go to a scratch file that becomes the file only at close().
  bool replaces_whole() const { return out_.replacing(); }

 private:
  void put(const void* p, size_t n);
  void put_with_holes(const unsigned char* p, size_t n);
  void flush();
  // Writes the buffered bytes at their place in the file (without a report).
  os::Status write_buffer();
  void write_out(const unsigned char* p, size_t n);
  [[noreturn]] void fail_write(const os::Status& st);
  [[noreturn]] void fail(std::string_view condition, const std::string& detail) const;

  int unit_;
  std::string path_;
  OutFile out_;
  ZeroPages zeros_;
  bool started_ = false;  // the new content has begun (replace_content)
  bool holes_ = false;    // zero pages are skipped in this file
  bool failed_ = false;   // a write failed
  int32_t subrecord_limit_ = kMaxSubrecord;
  int64_t record_no_ = 0;
  std::unique_ptr<unsigned char[]> buf_;
  size_t used_ = 0;
  int64_t buf_off_ = 0;  // where the buffer's first byte goes in the file
  // Where the bytes not yet handed to the disk start (-1: the file is not synced).
  int64_t writeback_ = -1;
};

// Reads fixed-length records of a direct-access unformatted file (status old).
class DirectReader {
 public:
  // recl_units < 1 cannot describe a record and is an "open failure".
  DirectReader(int unit, std::string path, int32_t recl_units);
  ~DirectReader();
  DirectReader(const DirectReader&) = delete;
  DirectReader& operator=(const DirectReader&) = delete;

  // Copies the first `nbytes` bytes of record `recno` (from 1). A record that does not start
  // inside the file is "attempt to access non-existent record"; asking for more bytes than a
  // record holds is "input statement requires too much data". A last record cut short by the
  // end of the file, whose requested bytes run past that end, is "end-of-file during read".
  void read(int64_t recno, void* dst, size_t nbytes);
  int64_t record_count() const;  // whole records in the file
  int64_t record_bytes() const { return reclen_; }
  void close();

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

 private:
  int unit_;
  std::string path_;
  detail::OffsetFile file_;
  int64_t reclen_ = 0;  // bytes
};

// Writes a direct-access file (status unknown, replaced from the start); each record is the
// given bytes followed by zeros up to the record length. Used by the model builder and tests.
// Records may be written in any order; a record never written reads as zeros.
class DirectWriter {
 public:
  DirectWriter(int unit, std::string path, int32_t recl_units);
  ~DirectWriter();
  DirectWriter(const DirectWriter&) = delete;
  DirectWriter& operator=(const DirectWriter&) = delete;
  // recno < 1 is "attempt to access non-existent record"; more bytes than the record length
  // is "error during write".
  void write(int64_t recno, const void* src, size_t nbytes);
  void close();

 private:
  void pwrite_all(const void* p, size_t n, int64_t off, int64_t recno);

  int unit_;
  std::string path_;
  os::File file_;
  int64_t reclen_ = 0;
};

// Byte size of `count` items of T, or false when it cannot be represented. A negative count
// counts as zero, as an array extent does.
template <class T>
bool array_bytes(int64_t count, size_t& bytes) {
  if (count <= 0) {
    bytes = 0;
    return true;
  }
  constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (static_cast<uint64_t>(count) > kLimit / sizeof(T)) return false;
  const uint64_t n = static_cast<uint64_t>(count) * sizeof(T);
  if (n > std::numeric_limits<size_t>::max()) return false;
  bytes = static_cast<size_t>(n);
  return true;
}

// Reads one record into `count` items of T (the first items of the record).
template <class T>
void read_array(SeqReader& r, T* dst, int64_t count) {
  static_assert(std::is_trivially_copyable_v<T>);
  size_t bytes = 0;
  if (!array_bytes<T>(count, bytes)) {
    io_fail(kTooMuchData, r.unit(), r.path(),
            "record " + std::to_string(r.records_read() + 1) + ": " + std::to_string(count) +
                " items of " + std::to_string(sizeof(T)) + " bytes exceed any record");
  }
  r.read(dst, bytes);
}

// Writes `count` items of T as one record.
template <class T>
void write_array(SeqWriter& w, const T* src, int64_t count) {
  static_assert(std::is_trivially_copyable_v<T>);
  size_t bytes = 0;
  if (!array_bytes<T>(count, bytes)) {
    io_fail(kWriteError, w.unit(), w.path(),
            std::to_string(count) + " items of " + std::to_string(sizeof(T)) +
                " bytes exceed any record");
  }
  w.write(src, bytes);
}

}  // namespace drav::recio
