// The matrix files of two runs compared record by record: the framing first, then the entries
// of every pair of records of one length, as doubles.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "params/model_files.h"
#include "recio/binrec.h"
#include "recio/fatal.h"
#include "recio/os_file.h"
#include "tools/audit/audit_compare.h"

namespace drav::audit {

namespace {

constexpr int kUnit = kMatrixFileFirst.unit;

// The records of one file in turn. The program's reader checks the framing of each record
// and gives its length; the data are then read straight from the file, subrecord by
// subrecord, through frames already found sound, so that each byte is copied once.
class Records {
 public:
  explicit Records(const std::string& path) : path_(path), sizes_(kUnit, path) {
    if (const recio::os::Status st = data_.open_read(path); !st.ok()) {
      recio::open_fail(kUnit, path, st);
    }
  }
  // The next record into `row`; false after the last one.
  bool next(std::vector<unsigned char>& row) {
    if (sizes_.at_end()) return false;
    row.resize(static_cast<size_t>(sizes_.record_length()));
    for (size_t copied = 0;;) {
      unsigned char w[4];
      take(pos_, w, 4);
      const int32_t lead = static_cast<int32_t>(uint32_t{w[0]} | uint32_t{w[1]} << 8 |
                                                uint32_t{w[2]} << 16 | uint32_t{w[3]} << 24);
      const auto len = static_cast<size_t>(lead < 0 ? -int64_t{lead} : lead);
      take(pos_ + 4, row.data() + copied, len);
      copied += len;
      pos_ += static_cast<int64_t>(len) + 8;
      if (lead >= 0) return true;
    }
  }

 private:
  void take(int64_t off, void* dst, size_t n) {
    size_t got = 0;
    const recio::os::Status st = data_.read_at(off, dst, n, got);
    if (!st.ok() || got != n) {
      recio::io_fail(recio::kReadError, kUnit, path_,
                     "record " + std::to_string(sizes_.records_read()) + ": " +
                         (st.ok() ? std::string("the file changed while it was read") : st.detail));
    }
  }

  const std::string& path_;
  recio::SeqReader sizes_;
  recio::os::File data_;
  int64_t pos_ = 0;  // where the next record starts
};

// The records of a file: their count, their one length (-1 when they differ) and the entries
// they hold.
void count_records(const std::string& path, MatrixDiff& d) {
  recio::SeqReader r(kUnit, path);
  while (!r.at_end()) {
    const int64_t len = r.record_length();
    d.length_a = d.records_a++ == 0 || len == d.length_a ? len : -1;
    d.entries += len / 8;
  }
}

int64_t signed_order(double v) {
  const auto i = std::bit_cast<int64_t>(v);
  // Negative doubles count down from -0.0, which meets +0.0.
  return i < 0 ? std::numeric_limits<int64_t>::min() - i : i;
}

double entry(const unsigned char* row, size_t j) {
  double v;
  std::memcpy(&v, row + 8 * j, 8);
  return v;
}

// The entries of one pair of records of one length.
void compare_row(int64_t record, const std::vector<unsigned char>& ra,
                 const std::vector<unsigned char>& rb, const CompareOptions& opt, MatrixDiff& d) {
  const size_t n = ra.size() / 8;
  d.entries += static_cast<int64_t>(n);
  if (std::memcmp(ra.data(), rb.data(), ra.size()) == 0) return;
  if (std::memcmp(ra.data() + 8 * n, rb.data() + 8 * n, ra.size() - 8 * n) != 0) {
    // Bytes after the last whole entry: a framing matter.
    ++d.framing;
    if (static_cast<int64_t>(d.first_framing.size()) < opt.max_listed) {
      d.first_framing.push_back(
          {record, static_cast<int64_t>(ra.size()), static_cast<int64_t>(rb.size())});
    }
  }
  double largest = 0;  // the row's largest finite entry, in either file
  for (size_t j = 0; j < n; ++j) {
    for (const double v : {entry(ra.data(), j), entry(rb.data(), j)}) {
      if (std::isfinite(v)) largest = std::max(largest, std::fabs(v));
    }
  }
  for (size_t j = 0; j < n; ++j) {
    if (std::memcmp(ra.data() + 8 * j, rb.data() + 8 * j, 8) == 0) continue;
    EntryDiff e;
    e.row = record;
    e.column = static_cast<int64_t>(j) + 1;
    e.a = entry(ra.data(), j);
    e.b = entry(rb.data(), j);
    ++d.differ;
    if (std::isnan(e.a) && std::isnan(e.b)) {
      e.change = EntryChange::NanPayload;
      ++d.nan_payload;
    } else if (!std::isfinite(e.a) || !std::isfinite(e.b)) {
      e.change = EntryChange::NotFinite;
      ++d.not_finite;
    } else if (e.a == e.b) {
      e.change = EntryChange::SignedZero;
      ++d.signed_zero;
    } else {
      e.ulps = ulps_between(e.a, e.b);
      e.relative = std::fabs(e.a - e.b) / largest;
      if (!d.max_ulps || e.ulps > d.max_ulps->ulps) d.max_ulps = e;
      if (!d.max_relative || e.relative > d.max_relative->relative) d.max_relative = e;
    }
    if (static_cast<int64_t>(d.first.size()) < opt.max_listed) d.first.push_back(e);
  }
}

}  // namespace

uint64_t ulps_between(double a, double b) {
  const int64_t x = signed_order(a), y = signed_order(b);
  return x > y ? static_cast<uint64_t>(x) - static_cast<uint64_t>(y)
               : static_cast<uint64_t>(y) - static_cast<uint64_t>(x);
}

MatrixDiff compare_matrix_files(const std::string& a, const std::string& b,
                                const CompareOptions& opt) {
  MatrixDiff d;
  if (compare_bytes(kUnit, a, b).same()) {
    // The framing is still read, so that a damaged file is reported as one.
    count_records(a, d);
    d.records_b = d.records_a;
    d.length_b = d.length_a;
    return d;
  }
  Records fa(a), fb(b);
  std::vector<unsigned char> ra, rb;
  for (int64_t record = 1;; ++record) {
    const bool has_a = fa.next(ra), has_b = fb.next(rb);
    if (!has_a && !has_b) break;
    if (has_a) {
      const auto len = static_cast<int64_t>(ra.size());
      d.length_a = d.records_a++ == 0 || len == d.length_a ? len : -1;
    }
    if (has_b) {
      const auto len = static_cast<int64_t>(rb.size());
      d.length_b = d.records_b++ == 0 || len == d.length_b ? len : -1;
    }
    if (has_a && has_b && ra.size() == rb.size()) {
      compare_row(record, ra, rb, opt, d);
      continue;
    }
    ++d.framing;
    if (static_cast<int64_t>(d.first_framing.size()) < opt.max_listed) {
      d.first_framing.push_back({record, has_a ? static_cast<int64_t>(ra.size()) : -1,
                                 has_b ? static_cast<int64_t>(rb.size()) : -1});
    }
  }
  return d;
}

}  // namespace drav::audit
