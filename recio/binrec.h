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
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "recio/textio.h"

namespace drav::recio {

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
  void read(void* dst, size_t nbytes);
  // Consumes one record and returns its data length (for inspection tools).
  int64_t record_length();
  bool at_end();  // true when no record follows
  void close();

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

 private:
  int unit_;
  std::string path_;
  std::FILE* f_ = nullptr;
  int64_t size_ = 0;   // file size in bytes
  int64_t pos_ = 0;    // offset of the next record
  int64_t record_no_ = 0;
};

// Writes an unformatted sequential file. Status unknown creates a missing file; status old
// requires it. Opening does not change the file; the first record written replaces its whole
// content. Output is buffered in large blocks.
class SeqWriter {
 public:
  SeqWriter(int unit, std::string path, OpenStatus status);
  ~SeqWriter();
  SeqWriter(const SeqWriter&) = delete;
  SeqWriter& operator=(const SeqWriter&) = delete;

  // Writes one record of `nbytes` bytes (split into subrecords only when one frame cannot
  // hold it).
  void write(const void* src, size_t nbytes);
  void close();  // a failure is "error during write"

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

 private:
  void put(const void* p, size_t n);
  int unit_;
  std::string path_;
  std::FILE* f_ = nullptr;
  bool truncate_on_write_ = true;
};

// Reads fixed-length records of a direct-access unformatted file (status old).
class DirectReader {
 public:
  DirectReader(int unit, std::string path, int32_t recl_units);
  ~DirectReader();
  DirectReader(const DirectReader&) = delete;
  DirectReader& operator=(const DirectReader&) = delete;

  // Copies the first `nbytes` bytes of record `recno` (from 1). A record that does not start
  // inside the file is "attempt to access non-existent record"; asking for more bytes than a
  // record holds is "input statement requires too much data".
  void read(int64_t recno, void* dst, size_t nbytes);
  int64_t record_count() const;  // whole records in the file
  void close();

 private:
  int unit_;
  std::string path_;
  std::FILE* f_ = nullptr;
  int64_t size_ = 0;
  int64_t reclen_ = 0;  // bytes
};

// Writes a direct-access file (status unknown, replaced from the start); each record is the
// given bytes followed by zeros up to the record length. Used by the model builder and tests.
class DirectWriter {
 public:
  DirectWriter(int unit, std::string path, int32_t recl_units);
  ~DirectWriter();
  DirectWriter(const DirectWriter&) = delete;
  DirectWriter& operator=(const DirectWriter&) = delete;
  void write(int64_t recno, const void* src, size_t nbytes);
  void close();

 private:
  int unit_;
  std::string path_;
  std::FILE* f_ = nullptr;
  int64_t reclen_ = 0;
};

}  // namespace drav::recio
