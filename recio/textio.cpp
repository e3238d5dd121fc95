#include "recio/textio.h"

#include <cstring>

#include "recio/fatal.h"

namespace drav::recio {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The console is the default output unit; its failures are reported under this unit.
constexpr int kConsoleUnit = 6;
constexpr std::string_view kConsoleName = "stdout";

// Records are handed to the system in blocks of about this size.
constexpr size_t kTextBuffer = size_t{1} << 16;
constexpr size_t kReadAhead = size_t{1} << 16;

// What an existing file opened for appending lacks after its last line: nothing when it is
// empty or ends in LF, the LF of a CR LF cut off after its CR, else a whole CR LF. A file
// that cannot be read back (write permission only, not a regular file) is taken as it is.
std::string_view missing_line_end(os::File& f) {
  int64_t size = 0;
  if (!f.is_regular() || !f.size(size).ok() || size == 0) return {};
  char last = '\n';
  size_t got = 0;
  if (!f.read_at(size - 1, &last, 1, got).ok() || got != 1 || last == '\n') return {};
  return last == '\r' ? std::string_view("\n") : kCrLf;
}

}  // namespace

void ConsoleSink::put(std::string_view line) {
  std::string rec;
  rec.reserve(line.size() + kCrLf.size());
  rec.append(line);
  rec.append(kCrLf);
  if (const os::Status st = os::write_stream(os::Stream::Out, rec); !st.ok()) {
    os_fail(kWriteError, kConsoleUnit, kConsoleName, st);
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

void TextSink::put_pieces(const std::string_view* blocks, size_t count) {
  for (size_t i = 0; i < count; ++i) put_lines(blocks[i]);
}

void StringSink::put(std::string_view line) {
  text_.append(line);
  text_.append(kCrLf);
}

void StringSink::put_lines(std::string_view block) {
  text_.append(block);
}

void StringSink::put_pieces(const std::string_view* blocks, size_t count) {
  for (size_t i = 0; i < count; ++i) text_.append(blocks[i]);
}

TextFileOut::TextFileOut(int unit, std::string path, Access access, OpenStatus status, Replace how)
    : unit_(unit), path_(std::move(path)) {
  // Opened without cutting the file: its content stays until the first record is written.
  const Missing missing = status == OpenStatus::Old ? Missing::Fail
                          : how == Replace::Whole   ? Missing::Later
                                                    : Missing::Create;
  const os::Status st = out_.open(path_, missing, how, access == Access::Append);
  if (!st.ok()) open_fail(unit_, path_, st, status == OpenStatus::Old);
  if (access == Access::Append) end_line_ = missing_line_end(out_.file());
}

TextFileOut::~TextFileOut() {
  // Closed without a report (a fatal report is on its way).
  if (out_.is_open() && !out_.replacing() && !buf_.empty()) {
    const std::string_view text(buf_);
    (void)out_.write(&text, 1);
  }
}

void TextFileOut::before_first_record() {
  if (!out_.is_open()) io_fail(kWriteError, unit_, path_, "the file is closed");
  if (!end_line_.empty()) {
    // The file's old last line has no terminator: end it, or the record would join it.
    buf_.append(end_line_);
    end_line_ = {};
  }
}

void TextFileOut::put(std::string_view line) {
  before_first_record();
  buf_.append(line);
  buf_.append(kCrLf);
  if (buf_.size() >= kTextBuffer) flush();
}

void TextFileOut::put_lines(std::string_view block) {
  if (block.empty()) return;
  before_first_record();
  if (buf_.size() + block.size() < kTextBuffer) {
    buf_.append(block);
    return;
  }
  // A large block goes to the system as it is, after what was put before it.
  flush();
  if (const os::Status st = out_.write(&block, 1); !st.ok()) os_fail(kWriteError, unit_, path_, st);
}

void TextFileOut::put_pieces(const std::string_view* blocks, size_t count) {
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += blocks[i].size();
  if (total == 0) return;
  before_first_record();
  if (buf_.size() + total < kTextBuffer) {
    for (size_t i = 0; i < count; ++i) buf_.append(blocks[i]);
    return;
  }
  // Large pieces go to the system as they are, after what was put before them.
  flush();
  if (const os::Status st = out_.write(blocks, count); !st.ok()) {
    os_fail(kWriteError, unit_, path_, st);
  }
}

void TextFileOut::flush() {
  if (buf_.empty()) return;
  const std::string_view text(buf_);
  const os::Status st = out_.write(&text, 1);
  buf_.clear();  // dropped on failure too, so the destructor does not retry
  if (!st.ok()) os_fail(kWriteError, unit_, path_, st);
}

void TextFileOut::close() {
  if (!out_.is_open()) return;
  try {
    flush();
  } catch (...) {
    out_.abandon();
    throw;
  }
  if (const os::Status st = out_.commit(); !st.ok()) os_fail(kWriteError, unit_, path_, st);
}

TextFileIn::TextFileIn(int unit, std::string path) : unit_(unit), path_(std::move(path)) {
  if (const os::Status st = file_.open_read(path_); !st.ok()) open_fail(unit_, path_, st);
  buf_ = std::make_unique<char[]>(kReadAhead);
}

TextFileIn::~TextFileIn() = default;

bool TextFileIn::fill() {
  if (eof_ || !file_.is_open()) return false;
  pos_ = len_ = 0;
  size_t got = 0;
  if (const os::Status st = file_.read(buf_.get(), kReadAhead, got); !st.ok()) {
    os_fail(kReadError, unit_, path_, st, "line " + std::to_string(line_no_ + 1));
  }
  len_ = got;
  if (got == 0) eof_ = true;
  return got > 0;
}

bool TextFileIn::next_line(std::string& line) {
  line.clear();
  bool any = false;  // a byte of this line was seen (a last line without terminator counts)
  for (;;) {
    if (pos_ == len_ && !fill()) {
      if (!any) return false;
      break;
    }
    any = true;
    const char* start = buf_.get() + pos_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
    if (nl == nullptr) {
      line.append(start, len_ - pos_);
      pos_ = len_;
      continue;
    }
    line.append(start, static_cast<size_t>(nl - start));
    pos_ += static_cast<size_t>(nl - start) + 1;
    break;
  }
  // CR LF and LF both end a line; a CR left at the very end of the file goes as well.
  if (!line.empty() && line.back() == '\r') line.pop_back();
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
  (void)file_.close();
  eof_ = true;
  pos_ = len_ = 0;
}

void TextFileIn::fail(std::string_view condition, std::string_view detail) const {
  io_fail(condition, unit_, path_, detail);
}

void TextFileIn::fail_eof() const {
  fail(kEndOfFile, line_no_ == 0 ? std::string("the file is empty")
                                 : "the file ends after line " + std::to_string(line_no_));
}

bool file_exists(const std::string& path) {
  return os::exists(path);
}

}  // namespace drav::recio
