// Binary record files: the sequential record framing and fixed-length direct records.
#include "recio/binrec.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace drav::recio {

namespace {

// Window of small reads. Kept small because skipping a long record costs one window fill at
// each of its length words.
constexpr size_t kWindowBytes = size_t{64} << 10;
constexpr size_t kWriteBuffer = size_t{1} << 20;  // sequential output buffer
// A file that is synced when it is complete is handed to the disk as it is written, a stretch
// of this many bytes at a time, so that its sync has little left to wait for.
constexpr int64_t kWritebackBytes = int64_t{8} << 20;

int32_t get_len(const unsigned char* b) {
  const uint32_t u =
      uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return static_cast<int32_t>(u);
}

void put_len(unsigned char* b, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  b[0] = static_cast<unsigned char>(u);
  b[1] = static_cast<unsigned char>(u >> 8);
  b[2] = static_cast<unsigned char>(u >> 16);
  b[3] = static_cast<unsigned char>(u >> 24);
}

// Hands the bytes from `from` to `end` to the disk once they make a stretch; `from` is -1
// for a file that is not synced.
void hand_to_disk(os::File& f, int64_t& from, int64_t end) {
  if (from < 0 || end - from < kWritebackBytes) return;
  f.start_writeback(from, end - from);
  from = end;
}

os::Status shorter() {
  os::Status st;
  st.kind = os::Status::Kind::Other;
  st.detail = "file is shorter";
  return st;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// detail::OffsetFile

namespace detail {

os::Status OffsetFile::open(const std::string& path) {
  close();
  os::Status st = file_.open_read(path);
  if (st.ok()) st = file_.size(size_);
  if (!st.ok()) close();
  return st;
}

os::Status OffsetFile::read_at(int64_t off, void* dst, size_t n) {
  if (n == 0) return os::Status::success();
  // The caller checked the size; a failure here means the file shrank under us.
  if (off < 0 || off > size_ || static_cast<uint64_t>(size_ - off) < n) return shorter();
  auto* out = static_cast<unsigned char*>(dst);
  // Served from the window when it holds the bytes.
  if (off >= window_off_ && static_cast<uint64_t>(off - window_off_) <= window_len_ &&
      window_len_ - static_cast<size_t>(off - window_off_) >= n) {
    std::memcpy(out, window_.get() + (off - window_off_), n);
    return os::Status::success();
  }
  size_t got = 0;
  // Large reads go straight to the caller; small ones refill the window from `off`.
  if (n >= kWindowBytes / 4) {
    const os::Status st = file_.read_at(off, out, n, got);
    if (!st.ok()) return st;
    return got == n ? os::Status::success() : shorter();
  }
  if (!window_) window_ = std::make_unique<unsigned char[]>(kWindowBytes);
  const auto want =
      static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kWindowBytes), size_ - off));
  window_len_ = 0;
  const os::Status st = file_.read_at(off, window_.get(), want, got);
  if (!st.ok()) return st;
  window_off_ = off;
  window_len_ = got;
  if (got < n) return shorter();
  std::memcpy(out, window_.get(), n);
  return os::Status::success();
}

void OffsetFile::close() {
  file_.close();
  size_ = 0;
  window_len_ = 0;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// SeqReader

SeqReader::SeqReader(int unit, std::string path) : unit_(unit), path_(std::move(path)) {
  if (const os::Status st = file_.open(path_); !st.ok()) open_fail(unit_, path_, st);
}

SeqReader::~SeqReader() = default;

void SeqReader::fail(std::string_view condition, const std::string& detail) const {
  io_fail(condition, unit_, path_, detail);
}

// Walks the subrecord chain of the record at pos_ and checks every length word; nothing is
// copied yet. The chain cannot run longer than the file, so the walk always ends.
int64_t SeqReader::scan_record(int64_t& end) {
  const int64_t size = file_.size();
  const int64_t recno = record_no_ + 1;
  auto where = [&](int64_t off) {
    return "record " + std::to_string(recno) + " at byte " + std::to_string(off) + ": ";
  };
  if (!file_.is_open()) fail(kReadError, "file is not open");
  if (pos_ >= size) fail(kEndOfFile, "no record " + std::to_string(recno));

  int64_t total = 0;
  int64_t off = pos_;
  for (bool first = true;; first = false) {
    unsigned char w[4];
    if (size - off < 4) {
      fail(kReadError,
           where(off) + (first ? std::to_string(size - off) + " stray bytes after the last record"
                               : "continuation subrecord missing"));
    }
    if (const os::Status st = file_.read_at(off, w, 4); !st.ok()) {
      fail(kReadError, where(off) + st.detail);
    }
    const int32_t lead = get_len(w);
    const int64_t len = lead < 0 ? -int64_t{lead} : int64_t{lead};
    if (len > size - off - 8) {
      fail(kReadError, where(off) + "length " + std::to_string(lead) + " runs past the end (" +
                           std::to_string(size) + " bytes)");
    }
    const int64_t toff = off + 4 + len;
    if (const os::Status st = file_.read_at(toff, w, 4); !st.ok()) {
      fail(kReadError, where(toff) + st.detail);
    }
    const int32_t trail = get_len(w);
    const int64_t tlen = trail < 0 ? -int64_t{trail} : int64_t{trail};
    if (tlen != len) {
      fail(kReadError, where(toff) + "trailing length " + std::to_string(trail) +
                           " does not match leading length " + std::to_string(lead));
    }
    // A zero length carries no mark; it is a plain frame in the first subrecord and a valid
    // (empty) continuation only when the mark cannot be shown.
    if (first && trail < 0) {
      fail(kReadError, where(toff) + "trailing length " + std::to_string(trail) +
                           " marks a continuation, but no subrecord precedes it");
    }
    if (!first && trail > 0) {
      fail(kReadError, where(toff) + "trailing length " + std::to_string(trail) +
                           " lacks the continuation mark the previous subrecord announced");
    }
    total += len;
    off = toff + 4;
    if (lead >= 0) break;
  }
  end = off;
  return total;
}

void SeqReader::read(void* dst, size_t nbytes) {
  int64_t end = 0;
  const int64_t total = scan_record(end);
  const int64_t recno = record_no_ + 1;
  if (static_cast<uint64_t>(total) < nbytes) {
    fail(kTooMuchData, "record " + std::to_string(recno) + " holds " + std::to_string(total) +
                           " bytes, " + std::to_string(nbytes) + " requested");
  }
  // The frame is sound: copy the first nbytes data bytes, subrecord by subrecord.
  auto* out = static_cast<unsigned char*>(dst);
  size_t copied = 0;
  int64_t off = pos_;
  while (copied < nbytes) {
    unsigned char w[4];
    if (const os::Status st = file_.read_at(off, w, 4); !st.ok()) fail(kReadError, st.detail);
    const int32_t lead = get_len(w);
    const int64_t len = lead < 0 ? -int64_t{lead} : int64_t{lead};
    const size_t take = static_cast<size_t>(std::min<uint64_t>(len, nbytes - copied));
    if (const os::Status st = file_.read_at(off + 4, out + copied, take); !st.ok()) {
      fail(kReadError, "record " + std::to_string(recno) + ": " + st.detail);
    }
    copied += take;
    off += len + 8;
  }
  pos_ = end;
  record_no_ = recno;
}

int64_t SeqReader::record_length() {
  int64_t end = 0;
  const int64_t total = scan_record(end);
  pos_ = end;
  ++record_no_;
  return total;
}

bool SeqReader::at_end() {
  return pos_ >= file_.size();
}

void SeqReader::close() {
  file_.close();
}

// ---------------------------------------------------------------------------------------------
// SeqWriter

SeqWriter::SeqWriter(int unit, std::string path, OpenStatus status, Replace how, ZeroPages zeros)
    : unit_(unit), path_(std::move(path)), zeros_(zeros) {
  const os::Status st =
      out_.open(path_, status == OpenStatus::Unknown ? Missing::Create : Missing::Fail, how);
  if (!st.ok()) open_fail(unit_, path_, st);
}

SeqWriter::~SeqWriter() {
  // Best effort: a run that ends by a fatal report still leaves the complete records in a
  // file written in place, at their full length (not after a failed write: its bytes are
  // not there).
  if (out_.is_open() && !out_.replacing() && started_ && !failed_) {
    if (write_buffer().ok() && holes_) (void)out_.file().truncate(buf_off_);
  }
}

void SeqWriter::fail(std::string_view condition, const std::string& detail) const {
  io_fail(condition, unit_, path_, detail);
}

void SeqWriter::fail_write(const os::Status& st) {
  failed_ = true;
  fail(kWriteError, "record " + std::to_string(record_no_) + ": " + st.detail);
}

void SeqWriter::set_subrecord_limit(int32_t bytes) {
  subrecord_limit_ = std::clamp(bytes, int32_t{1}, kMaxSubrecord);
}

void SeqWriter::replace_content() {
  if (!out_.is_open()) fail(kWriteError, "file is not open");
  if (started_) return;
  if (const os::Status st = out_.begin(); !st.ok()) {
    fail(kWriteError, "cannot replace the old content: " + st.detail);
  }
  started_ = true;
  // A skipped page must read as zeros, not as old bytes: only a file that is empty now.
  int64_t size = -1;
  holes_ = zeros_ == ZeroPages::Holes && out_.file().size(size).ok() && size == 0 &&
           out_.file().mark_sparse();
  // A scratch file is synced before it takes the old file's place.
  writeback_ = out_.replacing() ? buf_off_ : -1;
}

void SeqWriter::write(const void* src, size_t nbytes) {
  // The first record replaces whatever the file held.
  replace_content();
  ++record_no_;
  const auto* p = static_cast<const unsigned char*>(src);
  const auto limit = static_cast<size_t>(subrecord_limit_);
  size_t left = nbytes;
  bool first = true;
  // At least one frame, so that an empty record is written as two zero lengths.
  do {
    const size_t n = std::min(left, limit);
    const bool more = left > n;
    const auto len = static_cast<int32_t>(n);
    unsigned char w[4];
    put_len(w, more ? -len : len);
    put(w, 4);
    put(p, n);
    put_len(w, first ? len : -len);
    put(w, 4);
    p += n;
    left -= n;
    first = false;
  } while (left > 0);
}

void SeqWriter::put(const void* p, size_t n) {
  if (n == 0) return;
  if (!buf_) buf_ = std::make_unique<unsigned char[]>(kWriteBuffer);
  if (holes_) {
    put_with_holes(static_cast<const unsigned char*>(p), n);
    return;
  }
  if (n > kWriteBuffer - used_) {
    flush();
    if (n >= kWriteBuffer) {
      write_out(static_cast<const unsigned char*>(p), n);
      return;
    }
  }
  std::memcpy(buf_.get() + used_, p, n);
  used_ += n;
}

namespace {

bool all_zero(const unsigned char* p, size_t n) {
  static_assert(SeqWriter::kHolePage % 64 == 0);
  for (size_t i = 0; i < n; i += 64) {
    uint64_t w[8];
    std::memcpy(w, p + i, sizeof w);
    if ((w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) != 0) return false;
  }
  return true;
}

// Bytes for the places of a file from `off` on, through a buffer of kWriteBuffer bytes, page
// by page of the file: with `holes` a whole zero page inside the bytes of one put ends the
// buffered run and is skipped; everything else is buffered and written where it belongs. Pages
// are looked at before they are copied, so that the zeros of a long row are never copied.
struct Spool {
  os::File& file;
  unsigned char* buf;
  bool holes = true;
  size_t used = 0;
  int64_t off = 0;         // where the buffer's first byte goes
  int64_t writeback = -1;  // hand_to_disk's `from`

  os::Status flush() {
    const size_t n = used;
    used = 0;  // dropped on failure too, so that nothing retries it
    if (n == 0) return os::Status::success();
    const os::Status st = file.write_at(off, buf, n);
    off += static_cast<int64_t>(n);
    if (st.ok()) hand_to_disk(file, writeback, off);
    return st;
  }

  os::Status put(const unsigned char* p, size_t n) {
    constexpr size_t page = SeqWriter::kHolePage;
    while (n > 0) {
      const int64_t at = off + static_cast<int64_t>(used);
      const auto into = static_cast<size_t>(at % static_cast<int64_t>(page));
      if (holes && into == 0 && n >= page && all_zero(p, page)) {
        if (const os::Status st = flush(); !st.ok()) return st;
        off += static_cast<int64_t>(page);
        p += page;
        n -= page;
        continue;
      }
      const size_t take = std::min({n, page - into, kWriteBuffer - used});
      std::memcpy(buf + used, p, take);
      used += take;
      p += take;
      n -= take;
      if (used == kWriteBuffer) {
        if (const os::Status st = flush(); !st.ok()) return st;
      }
    }
    return os::Status::success();
  }

  // n zero bytes, as put() would take them, without reading them.
  os::Status zeros(size_t n) {
    constexpr size_t page = SeqWriter::kHolePage;
    while (n > 0) {
      const int64_t at = off + static_cast<int64_t>(used);
      const auto into = static_cast<size_t>(at % static_cast<int64_t>(page));
      if (holes && into == 0 && n >= page) {
        if (const os::Status st = flush(); !st.ok()) return st;
        const size_t skip = n / page * page;
        off += static_cast<int64_t>(skip);
        n -= skip;
        continue;
      }
      const size_t take = std::min({n, page - into, kWriteBuffer - used});
      std::memset(buf + used, 0, take);
      used += take;
      n -= take;
      if (used == kWriteBuffer) {
        if (const os::Status st = flush(); !st.ok()) return st;
      }
    }
    return os::Status::success();
  }

  // The n bytes of a record as put(data, n) would take them, where only [begin, end) may be
  // other than zero bytes (data being writable room then): the pages of the file wholly
  // outside that range are taken as zeros unread, the pages around it as they stand, their
  // zeros written into the room first.
  os::Status put_record(unsigned char* data, size_t n, size_t begin, size_t end) {
    if (begin == 0 && end == n) return put(data, n);
    if (begin >= end) return zeros(n);
    constexpr auto page = static_cast<int64_t>(SeqWriter::kHolePage);
    const int64_t at = off + static_cast<int64_t>(used);
    // The page boundaries of the file next to begin (at or before) and end (at or after).
    const auto ib = static_cast<int64_t>(begin), ie = static_cast<int64_t>(end);
    const int64_t a = std::max<int64_t>(0, ib - (at + ib) % page);
    const int64_t b =
        std::min<int64_t>(static_cast<int64_t>(n), ie + (page - (at + ie) % page) % page);
    std::memset(data + a, 0, begin - static_cast<size_t>(a));
    std::memset(data + end, 0, static_cast<size_t>(b) - end);
    os::Status st = zeros(static_cast<size_t>(a));
    if (st.ok()) st = put(data + a, static_cast<size_t>(b - a));
    if (st.ok()) st = zeros(n - static_cast<size_t>(b));
    return st;
  }
};

}  // namespace

void SeqWriter::put_with_holes(const unsigned char* p, size_t n) {
  Spool s{out_.file(), buf_.get(), true, used_, buf_off_, writeback_};
  const os::Status st = s.put(p, n);
  used_ = s.used;
  buf_off_ = s.off;
  writeback_ = s.writeback;
  if (!st.ok()) fail_write(st);
}

void SeqWriter::write_records(int64_t count, size_t nbytes, int parts, const RecordSource& row) {
  if (count <= 0) return;
  replace_content();
  // One stretch a part, each with a buffer and room for a record of its own.
  struct Part {
    int64_t first = 0, end = 0;
    std::unique_ptr<unsigned char[]> buf;
    std::vector<double> room;
    int64_t failed = -1;  // the record that failed, from 0
    os::Status st = os::Status::success();
  };
  std::vector<Part> part;
  parts = static_cast<int>(std::clamp<int64_t>(parts, 1, std::max<int64_t>(count, 1)));
  // Each part writes at the places of its records: a regular file, or one that keeps holes.
  const bool places = holes_ || out_.file().is_regular();
  if (places && parts > 1 && nbytes <= static_cast<size_t>(subrecord_limit_)) {
    try {
      part.resize(static_cast<size_t>(parts));
      for (int t = 0; t < parts; ++t) {
        Part& w = part[static_cast<size_t>(t)];
        w.first = count * t / parts;
        w.end = count * (t + 1) / parts;
        w.buf = std::make_unique<unsigned char[]>(kWriteBuffer);
        w.room.resize((nbytes + sizeof(double) - 1) / sizeof(double));
      }
    } catch (const std::bad_alloc&) {
      part.clear();  // one after the other, then
    }
  }
  // Record i, its range of bytes that need be there kept inside the record.
  const auto record = [&](int64_t i, void* room) {
    RecordBytes r = row(i, room);
    r.begin = std::min(r.begin, nbytes);
    r.end = std::clamp(r.end, r.begin, nbytes);
    return r;
  };
  // The record with its zeros in place: in the room, where they were left out.
  const auto whole = [nbytes](const RecordBytes& r, void* room) {
    if (r.begin == 0 && r.end == nbytes) return r.data;
    auto* to = static_cast<unsigned char*>(room);
    if (r.data != room)
      std::memcpy(to + r.begin, static_cast<const unsigned char*>(r.data) + r.begin,
                  r.end - r.begin);
    std::memset(to, 0, r.begin);
    std::memset(to + r.end, 0, nbytes - r.end);
    return static_cast<const void*>(to);
  };
  if (part.empty()) {
    std::vector<double> room((nbytes + sizeof(double) - 1) / sizeof(double));
    for (int64_t i = 0; i < count; ++i) write(whole(record(i, room.data()), room.data()), nbytes);
    return;
  }
  flush();
  const int64_t base = buf_off_, framed = static_cast<int64_t>(nbytes) + 8;
  unsigned char len[4];
  put_len(len, static_cast<int32_t>(nbytes));
  auto write_part = [&](Part& w) {
    const int64_t first = base + w.first * framed;
    Spool s{out_.file(), w.buf.get(), holes_, 0, first, writeback_ < 0 ? -1 : first};
    for (int64_t i = w.first; i < w.end; ++i) {
      void* room = w.room.data();
      const RecordBytes r = record(i, room);
      w.st = s.put(len, 4);
      if (w.st.ok()) {
        w.st = r.data == room
                   ? s.put_record(static_cast<unsigned char*>(room), nbytes, r.begin, r.end)
                   : s.put(static_cast<const unsigned char*>(whole(r, room)), nbytes);
      }
      if (w.st.ok()) w.st = s.put(len, 4);
      if (w.st.ok() && i + 1 == w.end) w.st = s.flush();
      if (!w.st.ok()) {
        w.failed = i;
        return;
      }
    }
  };
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < part.size(); ++t) {
    try {
      helpers.emplace_back(write_part, std::ref(part[t]));
    } catch (const std::system_error&) {
      break;  // the parts without a thread are written here
    }
  }
  write_part(part[0]);
  for (size_t t = helpers.size() + 1; t < part.size(); ++t) write_part(part[t]);
  for (std::thread& h : helpers) h.join();
  for (const Part& w : part) {
    if (w.failed < 0) continue;
    record_no_ += w.failed + 1;
    fail_write(w.st);
  }
  record_no_ += count;
  buf_off_ = base + count * framed;
  if (writeback_ >= 0) writeback_ = buf_off_;
  // Written without holes, the file goes on from the end of the records.
  if (!holes_) {
    if (const os::Status st = out_.file().truncate(buf_off_); !st.ok()) fail_write(st);
  }
}

os::Status SeqWriter::write_buffer() {
  const size_t n = used_;
  used_ = 0;  // dropped on failure too, so that nothing retries it
  if (n == 0) return os::Status::success();
  const os::Status st =
      holes_ ? out_.file().write_at(buf_off_, buf_.get(), n) : out_.file().write(buf_.get(), n);
  buf_off_ += static_cast<int64_t>(n);
  if (st.ok()) hand_to_disk(out_.file(), writeback_, buf_off_);
  return st;
}

void SeqWriter::flush() {
  if (const os::Status st = write_buffer(); !st.ok()) fail_write(st);
}

void SeqWriter::write_out(const unsigned char* p, size_t n) {
  if (const os::Status st = out_.file().write(p, n); !st.ok()) fail_write(st);
  buf_off_ += static_cast<int64_t>(n);
  hand_to_disk(out_.file(), writeback_, buf_off_);
}

void SeqWriter::close() {
  if (!out_.is_open()) return;
  try {
    flush();
    // A last run of skipped pages is part of the file, too.
    if (holes_) {
      if (const os::Status st = out_.file().truncate(buf_off_); !st.ok()) fail_write(st);
    }
  } catch (...) {
    out_.abandon();
    throw;
  }
  if (const os::Status st = out_.commit(); !st.ok()) fail(kWriteError, st.detail);
}

void SeqWriter::settle() {
  if (!out_.is_open() || !started_) return;
  flush();
  if (!out_.replacing()) return;
  if (const os::Status st = out_.file().sync(); !st.ok()) fail(kWriteError, "sync: " + st.detail);
}

// ---------------------------------------------------------------------------------------------
// DirectReader

DirectReader::DirectReader(int unit, std::string path, int32_t recl_units)
    : unit_(unit), path_(std::move(path)) {
  if (const os::Status st = file_.open(path_); !st.ok()) open_fail(unit_, path_, st);
  if (recl_units < 1) {
    file_.close();
    io_fail(kOpenFailure, unit_, path_,
            "record length " + std::to_string(recl_units) + " is not positive");
  }
  reclen_ = int64_t{4} * recl_units;
}

DirectReader::~DirectReader() = default;

void DirectReader::read(int64_t recno, void* dst, size_t nbytes) {
  const std::string rec = "record " + std::to_string(recno);
  if (!file_.is_open()) io_fail(kReadError, unit_, path_, "file is not open");
  // (recno-1)*reclen may overflow only for a record far beyond any file.
  if (recno < 1 || recno - 1 >= file_.size() / reclen_ + 1 ||
      (recno - 1) * reclen_ >= file_.size()) {
    io_fail(kNoRecord, unit_, path_,
            rec + ", file holds " + std::to_string(file_.size()) + " bytes");
  }
  if (nbytes > static_cast<uint64_t>(reclen_)) {
    io_fail(kTooMuchData, unit_, path_,
            rec + ": " + std::to_string(nbytes) + " bytes requested, records hold " +
                std::to_string(reclen_));
  }
  const int64_t start = (recno - 1) * reclen_;
  // A last record cut short by the end of the file: its start exists, its data do not.
  if (static_cast<uint64_t>(file_.size() - start) < nbytes) {
    io_fail(kEndOfFile, unit_, path_,
            rec + " is cut short at byte " + std::to_string(file_.size()));
  }
  if (const os::Status st = file_.read_at(start, dst, nbytes); !st.ok()) {
    os_fail(kReadError, unit_, path_, st, rec);
  }
}

int64_t DirectReader::record_count() const {
  return file_.size() / reclen_;
}

void DirectReader::close() {
  file_.close();
}

// ---------------------------------------------------------------------------------------------
// DirectWriter

DirectWriter::DirectWriter(int unit, std::string path, int32_t recl_units)
    : unit_(unit), path_(std::move(path)) {
  if (recl_units < 1) {
    io_fail(kOpenFailure, unit_, path_,
            "record length " + std::to_string(recl_units) + " is not positive");
  }
  reclen_ = int64_t{4} * recl_units;
  os::Status st = file_.open_write(path_, true, false);
  if (st.ok() && file_.is_regular()) st = file_.truncate(0);
  if (!st.ok()) open_fail(unit_, path_, st);
}

DirectWriter::~DirectWriter() = default;

void DirectWriter::pwrite_all(const void* p, size_t n, int64_t off, int64_t recno) {
  if (const os::Status st = file_.write_at(off, p, n); !st.ok()) {
    os_fail(kWriteError, unit_, path_, st, "record " + std::to_string(recno));
  }
}

void DirectWriter::write(int64_t recno, const void* src, size_t nbytes) {
  if (!file_.is_open()) io_fail(kWriteError, unit_, path_, "file is not open");
  if (recno < 1 || recno - 1 > std::numeric_limits<int64_t>::max() / reclen_ - 1) {
    io_fail(kNoRecord, unit_, path_, "record " + std::to_string(recno));
  }
  if (nbytes > static_cast<uint64_t>(reclen_)) {
    io_fail(kWriteError, unit_, path_,
            "record " + std::to_string(recno) + ": " + std::to_string(nbytes) +
                " bytes do not fit in a record of " + std::to_string(reclen_));
  }
  const int64_t start = (recno - 1) * reclen_;
  pwrite_all(src, nbytes, start, recno);
  static constexpr unsigned char kZeros[4096] = {};
  int64_t off = start + static_cast<int64_t>(nbytes);
  const int64_t end = start + reclen_;
  while (off < end) {
    const auto n = static_cast<size_t>(std::min<int64_t>(end - off, sizeof kZeros));
    pwrite_all(kZeros, n, off, recno);
    off += static_cast<int64_t>(n);
  }
}

void DirectWriter::close() {
  if (!file_.is_open()) return;
  if (const os::Status st = file_.close(); !st.ok()) {
    io_fail(kWriteError, unit_, path_, "close: " + st.detail);
  }
}

}  // namespace drav::recio
