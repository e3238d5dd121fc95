#include "factor/wide_band.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "recio/os_memory.h"

namespace drav {

bool WideBand::allocate(int32_t n, int32_t b, Pads pads) {
  const int32_t m = std::max(n, 0);
  b = std::clamp(b, 1, std::max(m, 1));
  pads.left = std::max(pads.left, 0);
  pads.right = std::max(pads.right, 0);
  const int64_t ld = int64_t{pads.left} + 2 * int64_t{b} - 1 + pads.right;
  if (!slots_.allocate(static_cast<int64_t>(m) * ld)) return false;
  // Each row's band is most of its slot, and the factorization touches every row: on small
  // pages the first touch of each page costs a fault, on some virtual machines a second one in
  // the host as well.
  slots_.prefer_large_pages();
  try {
    start_.resize(static_cast<size_t>(m));
    hi_.resize(static_cast<size_t>(m));
    ju.assign(static_cast<size_t>(m), 0);
    moved_.clear();
    id_.clear();
    zeros_.clear();
  } catch (const std::bad_alloc&) {
    slots_.release();
    return false;
  }
  n_ = m;
  b_ = b;
  finite_ = true;
  pads_ = pads;
  ld_ = ld;
  // The pages of each row's band are made the process's own now, before the factorization
  // reads them: a page first read maps the shared zero page, and the first write to it then
  // costs a copy and a flush of every thread's address cache. The system takes them in one
  // call per run of rows whose bands lie closer than a page apart (one call in all where the
  // margins are narrow); where it cannot, the rows are written (with the zeros they hold).
  constexpr int64_t kNear = 4096 / sizeof(double);
  // Row r's band: from its first entry to column r+b-1.
  const auto band_begin = [&](int32_t r) { return at(r, entry(r)); };
  const auto band_end = [&](int32_t r) { return at(r, std::min(m - 1, r + b - 1)) + 1; };
  bool take = true;
  int32_t run = 0;  // first row of the run not yet taken
  const auto take_run = [&](int32_t end) {
    if (run == end) return;
    double* first = band_begin(run);
    const size_t bytes = sizeof(double) * static_cast<size_t>(band_end(end - 1) - first);
    take = take && recio::os::take_pages(first, bytes);
    if (!take) {
      for (int32_t r = run; r < end; ++r) std::fill(band_begin(r), band_end(r), 0.0);
    }
    run = end;
  };
  for (int32_t r = 0; r < m; ++r) {
    start_[static_cast<size_t>(r)] = slot(r);
    hi_[static_cast<size_t>(r)] = static_cast<int32_t>(lo(r) + ld - 1);
    if (r > run && band_begin(r) - band_end(r - 1) >= kNear) take_run(r);
  }
  take_run(m);
  return true;
}

bool WideBand::relocate(int32_t r, int32_t last) {
  if (last <= hi(r)) return true;
  try {
    if (moved_.empty()) moved_.resize(static_cast<size_t>(n_));
    std::vector<double> row(static_cast<size_t>(last - lo(r) + 1), 0.0);
    std::copy(start_[r], start_[r] + (hi(r) - lo(r) + 1), row.begin());
    moved_[static_cast<size_t>(r)].swap(row);
  } catch (const std::bad_alloc&) {
    return false;
  }
  start_[static_cast<size_t>(r)] = moved_[static_cast<size_t>(r)].data();
  hi_[static_cast<size_t>(r)] = last;
  return true;
}

void WideBand::finish(const int32_t* iord, int32_t steps) {
  steps_ = std::clamp(steps, 0, n_);
  id_.resize(static_cast<size_t>(n_));
  zeros_.resize(static_cast<size_t>(steps_));
  for (int32_t k = 0; k < n_; ++k) id_[static_cast<size_t>(k)] = iord[k] - 1;
  for (int32_t k = 0; k < steps_; ++k)
    zeros_[static_cast<size_t>(k)] = *at(id_[static_cast<size_t>(k)], k) < 0.0 ? -0.0 : 0.0;
  plus_zeros_ = static_cast<int32_t>(
      std::find_if(zeros_.begin(), zeros_.end(), [](double z) { return std::signbit(z); }) -
      zeros_.begin());
}

void WideBand::row(int32_t p, double* out) const {
  int32_t begin = 0, end = 0;
  row(p, out, begin, end);
  std::fill(out, out + begin, 0.0);
  std::fill(out + end, out + n_, 0.0);
}

void WideBand::row(int32_t p, double* out, int32_t& begin, int32_t& end) const {
  const int32_t k = p - 1;
  const int32_t r = id_[static_cast<size_t>(k)];
  // Multipliers: the zeros of the steps before the row entered the window, then its own.
  const int32_t lcols = std::min(k, steps_);
  const int32_t first = std::min(lcols, entry(r));
  begin = std::min(first, plus_zeros_);
  std::copy(zeros_.begin() + begin, zeros_.begin() + first, out + begin);
  std::copy(at(r, first), at(r, lcols), out + first);
  // A row of U: +0.0 past the reach of its step (after a failure, also past what it holds: its
  // columns beyond the last block were not formed). Below a failing step: the row as it stands.
  int32_t last = std::min(n_ - 1, hi(r));
  if (k <= steps_) last = std::min(last, ju[static_cast<size_t>(k)]);
  end = std::max(lcols, last + 1);
  if (lcols <= last) std::copy(at(r, lcols), at(r, last) + 1, out + lcols);
}

}  // namespace drav
