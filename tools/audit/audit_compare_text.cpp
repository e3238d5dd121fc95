// The files of two runs compared as bytes, as lines, as the fields of the stiffness report,
// as the status and as the row order.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "params/model_files.h"
#include "recio/fatal.h"
#include "recio/os_file.h"
#include "recio/textio.h"
#include "tools/audit/audit_compare.h"
#include "tools/audit/audit_model.h"

namespace drav::audit {

namespace {

namespace os = recio::os;

constexpr size_t kChunk = size_t{64} << 10;  // bytes of each file compared at a time
constexpr size_t kField = 17;                // a (1P,G17.7) field of the stiffness report

[[noreturn]] void unreadable(int unit, const std::string& path, const os::Status& st,
                             bool opening) {
  if (unit > 0) {
    if (opening) recio::open_fail(unit, path, st);
    recio::os_fail(recio::kReadError, unit, path, st);
  }
  recio::fail("cannot read " + path + " (" + st.detail + ")");
}

// One file read chunk by chunk from its start.
struct Chunks {
  Chunks(int unit, const std::string& path) : unit_(unit), path_(path) {
    if (const os::Status st = file_.open_read(path); !st.ok()) unreadable(unit, path, st, true);
    if (const os::Status st = file_.size(size); !st.ok()) unreadable(unit, path, st, false);
  }
  // The next bytes into buf (kChunk, fewer at the end); 0 at the end of the file.
  size_t next(unsigned char* buf) {
    size_t got = 0;
    if (const os::Status st = file_.read_at(off_, buf, kChunk, got); !st.ok()) {
      unreadable(unit_, path_, st, false);
    }
    off_ += static_cast<int64_t>(got);
    return got;
  }
  int64_t size = 0;

 private:
  int unit_;
  const std::string& path_;
  os::File file_;
  int64_t off_ = 0;
};

// Two text files side by side, line by line. Stretches of whole lines in which the two agree
// byte for byte are passed over, counting their lines only; what stops is a pair of lines
// that differ as bytes (the text, or only the line end), or a line of one file past the end of
// the other.
class TextPair {
 public:
  TextPair(int unit, const std::string& a, const std::string& b) : a_(unit, a), b_(unit, b) {}

  // The next differing pair; false when both files have ended.
  bool next() {
    for (;;) {
      a_.top_up();
      b_.top_up();
      if (a_.empty() && b_.empty()) return false;
      const size_t n = std::min(a_.avail(), b_.avail());
      const size_t c = common_prefix(a_.at(), b_.at(), n);
      if (const size_t whole = last_line_end(a_.at(), c)) {
        const int64_t n_lines = count_lines(a_.at(), whole);
        line += n_lines;
        shared += n_lines;
        a_.skip(whole);
        b_.skip(whole);
        continue;
      }
      // The agreeing bytes hold no whole line: the lines here differ, or one of them is
      // longer than what is at hand.
      if (c == n && c > 0 && (!a_.full_line() || !b_.full_line())) {
        a_.more();
        b_.more();
        continue;
      }
      ++line;
      la = a_.take_line();
      lb = b_.take_line();
      lines_a += la.has_value();
      lines_b += lb.has_value();
      return true;
    }
  }
  bool same_text() const { return la && lb && *la == *lb; }
  LineDiff diff() const {
    LineDiff d;
    d.line = line;
    if (la) d.a = std::string(*la);
    if (lb) d.b = std::string(*lb);
    return d;
  }

  // The lines of each file so far (all of them once next() has returned false).
  int64_t lines_of_a() const { return shared + lines_a; }
  int64_t lines_of_b() const { return shared + lines_b; }

  int64_t line = 0;                        // of the pair, from 1
  std::optional<std::string_view> la, lb;  // without their line ends; valid until next()

 private:
  int64_t shared = 0;                // lines alike in both
  int64_t lines_a = 0, lines_b = 0;  // lines of each in the differing pairs

  // One file read in blocks; the unread bytes are buf_[pos_, len_).
  class Side {
   public:
    Side(int unit, const std::string& path) : unit_(unit), path_(path), buf_(kChunk) {
      if (const os::Status st = file_.open_read(path); !st.ok()) unreadable(unit, path, st, true);
    }
    const char* at() const { return buf_.data() + pos_; }
    size_t avail() const { return len_ - pos_; }
    bool empty() const { return eof_ && pos_ == len_; }
    void skip(size_t n) { pos_ += n; }
    // More bytes when less than half the buffer is left.
    void top_up() {
      if (!eof_ && avail() < buf_.size() / 2) fill();
    }
    // A line end, or the end of the file, follows in what is at hand.
    bool full_line() const { return eof_ || std::memchr(at(), '\n', avail()) != nullptr; }
    // More bytes, in a larger buffer when this one is full.
    void more() {
      if (eof_) return;
      if (pos_ == 0 && len_ == buf_.size()) buf_.resize(2 * buf_.size());
      fill();
    }
    // The line at hand, read whole, without its line end; none at the end of the file.
    std::optional<std::string_view> take_line() {
      while (!full_line()) more();
      if (empty()) return std::nullopt;
      const auto* nl = static_cast<const char*>(std::memchr(at(), '\n', avail()));
      size_t n = nl ? static_cast<size_t>(nl - at()) : avail();
      std::string_view line(at(), n);
      pos_ += nl ? n + 1 : n;
      // CR LF and LF both end a line, as for the program's reader.
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      return line;
    }

   private:
    void fill() {
      std::memmove(buf_.data(), at(), avail());
      len_ -= pos_;
      pos_ = 0;
      size_t got = 0;
      if (const os::Status st = file_.read_at(off_, buf_.data() + len_, buf_.size() - len_, got);
          !st.ok()) {
        unreadable(unit_, path_, st, false);
      }
      off_ += static_cast<int64_t>(got);
      len_ += got;
      eof_ = got == 0;
    }

    int unit_;
    const std::string& path_;
    os::File file_;
    std::vector<char> buf_;
    size_t pos_ = 0, len_ = 0;
    int64_t off_ = 0;
    bool eof_ = false;
  };

  static size_t common_prefix(const char* a, const char* b, size_t n) {
    constexpr size_t kBlock = 4096;
    size_t i = 0;
    while (i + kBlock <= n && std::memcmp(a + i, b + i, kBlock) == 0) i += kBlock;
    return static_cast<size_t>(std::mismatch(a + i, a + n, b + i).first - a);
  }
  // The bytes up to and including the last line end among the first n, 0 when there is none.
  static size_t last_line_end(const char* p, size_t n) {
    while (n > 0 && p[n - 1] != '\n') --n;
    return n;
  }
  static int64_t count_lines(const char* p, size_t n) {
    int64_t lines = 0;
    for (const char* end = p + n; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));
         ++p) {
      ++lines;
    }
    return lines;
  }

  Side a_, b_;
};

template <class T>
void keep(std::vector<T>& first, const CompareOptions& opt, T item) {
  if (static_cast<int64_t>(first.size()) < opt.max_listed) first.push_back(std::move(item));
}

// One differing pair of lines into a line comparison.
void note(LinesDiff& d, const TextPair& p, const CompareOptions& opt) {
  if (p.same_text()) {
    d.line_ends = true;
    return;
  }
  ++d.differ;
  keep(d.first, opt, p.diff());
}

void count_lines(LinesDiff& d, const TextPair& p) {
  d.lines_a = p.lines_of_a();
  d.lines_b = p.lines_of_b();
}

// Where the fields of a line of the stiffness report lie: the title, the band line, then for
// each row I an empty line and the entries (I,I..NEQ), NPL = MIN(NEQ,6) fields of 17
// characters a line. NEQ is taken from the first row of the report.
class ReportLayout {
 public:
  explicit ReportLayout(const std::string& path) {
    recio::TextFileIn in(kStiffnessReportUnit, path);
    std::string line;
    for (int64_t k = 1; in.next_line(line); ++k) {
      if (k < 3) continue;
      if (k == 3 && !line.empty()) break;
      if (k == 3) continue;
      if (line.empty() || line.size() % kField != 0) break;
      const auto fields = static_cast<int64_t>(line.size() / kField);
      if (k == 4) npl_ = fields;
      if (fields > npl_) break;
      neq_ += fields;
    }
    // Not the layout the program writes: no line is placed.
    if (npl_ == 0 || npl_ != std::min<int64_t>(neq_, 6)) neq_ = 0;
  }
  // The row and the first column of line L, when L is a line of fields of the layout with
  // `fields` fields; L must not decrease from call to call.
  bool place(int64_t L, int64_t fields, int64_t& row, int64_t& column) {
    if (neq_ == 0 || L < row_start_) return false;
    while (I_ <= neq_ && L >= row_start_ + lines_of_row(I_)) row_start_ += lines_of_row(I_++);
    const int64_t k = L - row_start_;  // 0: the empty line of row I
    if (I_ > neq_ || k == 0) return false;
    column = I_ + (k - 1) * npl_;
    row = I_;
    return fields == std::min(npl_, neq_ - column + 1);
  }

 private:
  int64_t lines_of_row(int64_t I) const { return 1 + (neq_ - I + npl_) / npl_; }

  int64_t neq_ = 0, npl_ = 0;
  int64_t I_ = 1, row_start_ = 3;  // row I_ starts with its empty line at row_start_
};

}  // namespace

BytesDiff compare_bytes(int unit, const std::string& a, const std::string& b) {
  Chunks fa(unit, a), fb(unit, b);
  BytesDiff d;
  d.size_a = fa.size;
  d.size_b = fb.size;
  const auto ba = std::make_unique<unsigned char[]>(kChunk);
  const auto bb = std::make_unique<unsigned char[]>(kChunk);
  for (int64_t off = 0;;) {
    const size_t na = fa.next(ba.get()), nb = fb.next(bb.get());
    const size_t n = std::min(na, nb);
    if (std::memcmp(ba.get(), bb.get(), n) != 0) {
      d.first = off + (std::mismatch(ba.get(), ba.get() + n, bb.get()).first - ba.get());
      return d;
    }
    off += static_cast<int64_t>(n);
    if (na != nb) {
      d.first = off;
      return d;
    }
    if (n == 0) return d;
  }
}

LinesDiff compare_text_files(int unit, const std::string& a, const std::string& b,
                             const CompareOptions& opt) {
  LinesDiff d;
  TextPair p(unit, a, b);
  while (p.next()) note(d, p, opt);
  count_lines(d, p);
  return d;
}

double read_back(std::string_view field) {
  const size_t from = field.find_first_not_of(' ');
  if (from == std::string_view::npos) return std::numeric_limits<double>::quiet_NaN();
  const std::string_view t = field.substr(from, field.find_last_not_of(' ') + 1 - from);
  if (t == "Infinity") return std::numeric_limits<double>::infinity();
  if (t == "-Infinity") return -std::numeric_limits<double>::infinity();
  std::string s(t);
  // A three-digit exponent stands without its letter: 1.0000000-100.
  const size_t sign = s.find_last_of("+-");
  if (sign != std::string::npos && sign > 0 && s.find_first_of("Ee") == std::string::npos) {
    s.insert(sign, 1, 'E');
  }
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  // The infinities of the G editing are the words above; any other text is no number.
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return v;
}

StiffnessDiff compare_stiffness_reports(const std::string& a, const std::string& b,
                                        const CompareOptions& opt) {
  StiffnessDiff d;
  ReportLayout layout(a);
  TextPair p(kStiffnessReportUnit, a, b);
  while (p.next()) {
    if (p.same_text()) {
      d.lines.line_ends = true;
      continue;
    }
    ++d.lines.differ;
    if (p.line <= 2) {
      d.header.push_back(p.diff());
      continue;
    }
    int64_t row = 0, column = 0;
    const bool fields =
        p.la && p.lb && p.la->size() == p.lb->size() && p.la->size() % kField == 0 &&
        layout.place(p.line, static_cast<int64_t>(p.la->size() / kField), row, column);
    if (!fields) {
      ++d.other;
      keep(d.first_other, opt, p.diff());
      continue;
    }
    for (size_t f = 0; f < p.la->size(); f += kField) {
      const std::string_view fa = p.la->substr(f, kField), fb = p.lb->substr(f, kField);
      if (fa == fb) continue;
      ++d.fields;
      keep(d.first, opt,
           FieldDiff{p.line, row, column + static_cast<int64_t>(f / kField), std::string(fa),
                     std::string(fb), read_back(fa), read_back(fb)});
    }
  }
  count_lines(d.lines, p);
  return d;
}

StatusDiff compare_status_files(const std::string& a, const std::string& b,
                                const CompareOptions& opt) {
  const auto status = [](const std::string& path) {
    const std::string text = read_text_file(kStatusFile.unit, path, 4096);
    const std::vector<int32_t> v = parse_integers(kStatusFile.unit, path, text);
    if (v.size() != 1) {
      recio::io_fail(recio::kReadError, kStatusFile.unit, path,
                     "one status expected, " + std::to_string(v.size()) + " numbers found");
    }
    return v[0];
  };
  StatusDiff d;
  d.a = status(a);
  d.b = status(b);
  d.lines = compare_text_files(kStatusFile.unit, a, b, opt);
  return d;
}

OrderDiff compare_order_files(const std::string& a, const std::string& b, uint64_t max_bytes,
                              const CompareOptions& opt, std::vector<int32_t>& IORD_a,
                              std::vector<int32_t>& IORD_b) {
  const std::string ta = read_text_file(kOrderFile.unit, a, max_bytes);
  const std::string tb = read_text_file(kOrderFile.unit, b, max_bytes);
  IORD_a = parse_integers(kOrderFile.unit, a, ta);
  IORD_b = parse_integers(kOrderFile.unit, b, tb);
  OrderDiff d;
  d.count_a = static_cast<int64_t>(IORD_a.size());
  d.count_b = static_cast<int64_t>(IORD_b.size());
  for (int64_t k = 0; k < std::max(d.count_a, d.count_b); ++k) {
    OrderDiff::Position p{k + 1, std::nullopt, std::nullopt};
    if (k < d.count_a) p.a = IORD_a[static_cast<size_t>(k)];
    if (k < d.count_b) p.b = IORD_b[static_cast<size_t>(k)];
    if (p.a == p.b) continue;
    ++d.differ;
    keep(d.first, opt, p);
  }
  if (d.differ == 0) d.layout_line = first_differing_line(ta, tb);
  return d;
}

}  // namespace drav::audit
