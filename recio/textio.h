// Text files and the console. Every record is a line ending in CR LF, on the console as in
// files; the first character of a record is ordinary text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "recio/os_file.h"
#include "recio/out_file.h"

namespace drav::recio {

// A destination of text records.
class TextSink {
 public:
  virtual ~TextSink() = default;
  // Writes one record: the line's characters, then CR LF.
  virtual void put(std::string_view line) = 0;
  // Writes records already laid out, each ending in CR LF, as one block: the same bytes as a
  // put() of each line. The default hands them to put() one by one.
  virtual void put_lines(std::string_view block);
  // Writes blocks laid out as put_lines() takes them, one after the other (pieces of text that
  // is the same many times over need not be copied together first).
  virtual void put_pieces(const std::string_view* blocks, size_t count);
};

// Standard output (the default output unit). Each record reaches the system as it is put, so
// console lines keep their order with the fatal report on standard error.
class ConsoleSink : public TextSink {
 public:
  void put(std::string_view line) override;
};

// Collects records in memory, each followed by CR LF (for tests and internal writes).
class StringSink : public TextSink {
 public:
  void put(std::string_view line) override;
  void put_lines(std::string_view block) override;
  void put_pieces(const std::string_view* blocks, size_t count) override;
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Open status of a file written by the program.
enum class OpenStatus {
  Old,      // the file must exist ("file not found" otherwise)
  Unknown,  // created when missing
};

// A formatted sequential file opened for writing on a unit. With Unknown and sequential
// access it is positioned at the start: the records written cover what was there, and close()
// cuts off the rest (a file opened and closed without a write keeps its content);
// Replace::Whole writes the new records beside it and puts them in its place at close(), so
// that the file is never seen half written (a missing file then appears only at close()).
// With append it is positioned after the last existing record; a last line without
// terminator is ended before the first new record, so that the two stay apart. Failures end
// the run with the fatal report for the unit.
class TextFileOut : public TextSink {
 public:
  enum class Access { Sequential, Append };
  TextFileOut(int unit, std::string path, Access access = Access::Sequential,
              OpenStatus status = OpenStatus::Unknown, Replace how = Replace::InPlace);
  // Closes without a report if close() was not called: in place the records put so far
  // still go; a whole replacement is dropped and the old file stays.
  ~TextFileOut() override;
  TextFileOut(const TextFileOut&) = delete;
  TextFileOut& operator=(const TextFileOut&) = delete;

  void put(std::string_view line) override;
  void put_lines(std::string_view block) override;
  void put_pieces(const std::string_view* blocks, size_t count) override;
  void close();  // flushes; a failure is "error during write"

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

 private:
  void flush();

  int unit_;
  std::string path_;
  OutFile out_;
  std::string buf_;            // records not yet handed to the system
  std::string_view end_line_;  // written before the first record appended (see put)

  void before_first_record();
};

// A formatted sequential file opened for reading (status old). Lines end in LF or CR LF (the
// CR is never part of the line); a last line without terminator still counts.
class TextFileIn {
 public:
  TextFileIn(int unit, std::string path);
  ~TextFileIn();
  TextFileIn(const TextFileIn&) = delete;
  TextFileIn& operator=(const TextFileIn&) = delete;

  // Next line without its terminator; false at the end of the file.
  bool next_line(std::string& line);
  // Whole-line input with edit sequence (A) into a text field of n characters: the line's
  // first n characters, blank-padded. The end of the file is "end-of-file during read".
  void read_A(char* field, size_t n);
  void close();

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }
  int64_t line_number() const { return line_no_; }  // of the last line returned, from 1
  [[noreturn]] void fail(std::string_view condition, std::string_view detail = {}) const;
  // "end-of-file during read", telling where the file ended.
  [[noreturn]] void fail_eof() const;

 private:
  bool fill();  // more bytes into buf_; false at the end of the file

  int unit_;
  std::string path_;
  os::File file_;
  int64_t line_no_ = 0;
  std::unique_ptr<char[]> buf_;  // read-ahead of the file
  size_t pos_ = 0, len_ = 0;     // unread bytes are buf_[pos_, len_)
  bool eof_ = false;
};

// True when something exists at `path` (a file, or anything else the system can stat).
bool file_exists(const std::string& path);

}  // namespace drav::recio
