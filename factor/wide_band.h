// A wide band on band storage of its own, which the blocked scheme factors in place
// (LUDECOMP_WIDE_BAND in blocked_lu.h): the dense matrix is never touched.
//
// Every entry row r keeps a slot of columns r-b+1-left .. r+b-1+right (b the half band,
// diagonal included) for the whole factorization, wherever the row exchanges move it: its entry
// values, then its multipliers and, once it is the pivot row of some step k, its row of U. Rows
// never move, the row order only says which entry row stands where. Since column j of row r
// lies at slots + r*ld + (j - r + b - 1 + left), rows at their own position are a strided
// matrix of stride ld-1 for the columns inside each one's slot, so the register-tiled products
// run on the storage itself. The margins are +0.0 and let a product over a run of steps start
// left of a row's first entry or reach right of the end of its U. Without row exchanges a row
// of U ends where its entries do; the exchanges can carry it up to column k+2b-2 at step k, and
// a row pushed down can need columns further right still. A row that needs columns beyond its
// slot is moved to storage of its own before they are written or read (see relocate): rare
// where the pivots mostly stand on the diagonal, and the slots then hold only what the band
// needs, about two thirds of what the worst case would.
//
// What is left out of the storage is +0.0 in LUDECOMP's matrix, with one exception: the
// multiplier of a row at a step before it entered the window is (+0 - (+0)) / u(k,k), a zero
// with the sign of the pivot, which row() composes from the pivots.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "params/zarray.h"

namespace drav {

// True when x[0..n) are all finite: x * 0 is a zero for each finite x and NaN otherwise, and
// the sums of zeros are zeros (independent sums, so that they can go side by side).
inline bool all_finite(const double* x, int64_t n) {
  double s[4] = {0.0, 0.0, 0.0, 0.0};
  int64_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (int q = 0; q < 4; ++q) s[q] += x[i + q] * 0.0;
  for (; i < n; ++i) s[0] += x[i] * 0.0;
  return s[0] + s[1] + s[2] + s[3] == 0.0;
}

class WideBand {
 public:
  // The margins of each slot (columns, both >= 0).
  struct Pads {
    int32_t left = 0, right = 0;
  };

  WideBand() = default;
  WideBand(const WideBand&) = delete;
  WideBand& operator=(const WideBand&) = delete;

  // n x n zeros with half band b (1 <= b <= n, or n = 0). False when the memory cannot be had.
  // The margins and what the fill adds beyond the band take memory only once they are written.
  bool allocate(int32_t n, int32_t b, Pads pads);
  int32_t order() const { return n_; }
  int32_t half_band() const { return b_; }
  Pads pads() const { return pads_; }

  // Entry (i,j), from 1, |i-j| < b.
  void set(int32_t i, int32_t j, double v) {
    *at(i - 1, j - 1) = v;
    finite_ = finite_ && std::isfinite(v);
  }
  // True when every entry set is finite.
  bool entries_finite() const { return finite_; }

  // Row p (from 1) of the factored matrix exactly as LUDECOMP leaves it in LU after a complete
  // factorization: order() values into out. After a failure at step k, the rows of U before k
  // and their multipliers as LUDECOMP leaves them in the columns up to k; the rest is not
  // meant for use.
  void row(int32_t p, double* out) const;
  // The same row with only values [begin, end) (from 0) written into out: every other value of
  // it is +0.0.
  void row(int32_t p, double* out, int32_t& begin, int32_t& end) const;

  // ---- The blocked scheme's view, everything from 0 ----
  // Column j of entry row r, for lo(r) <= j <= hi(r).
  double* at(int32_t r, int32_t j) { return start_[r] + (j - lo(r)); }
  const double* at(int32_t r, int32_t j) const { return start_[r] + (j - lo(r)); }
  int32_t lo(int32_t r) const { return r - b_ + 1 - pads_.left; }
  int32_t hi(int32_t r) const { return hi_[static_cast<size_t>(r)]; }
  // The first column where row r can hold something that is not +0.0.
  int32_t entry(int32_t r) const { return r >= b_ ? r - b_ + 1 : 0; }
  // Row r is in its slot: rows r and r+1 that both are lie ld-1 apart.
  bool in_slot(int32_t r) const { return start_[r] == slot(r); }
  int64_t stride() const { return ld_ - 1; }
  // Moves row r (columns lo(r) .. hi(r)) to storage of its own reaching column `last` at least.
  // False when the memory cannot be had.
  bool relocate(int32_t r, int32_t last);
  // The last column that the row of U of each step can reach (filled in by the scheme).
  std::vector<int32_t> ju;
  // Once the factorization has stopped after `steps` steps: the entry row standing at each
  // position, and the sign of each step's pivot as the zero that the rows below the window
  // receive.
  void finish(const int32_t* iord, int32_t steps);

 private:
  double* slot(int32_t r) { return slots_.data() + static_cast<int64_t>(r) * ld_; }
  const double* slot(int32_t r) const { return slots_.data() + static_cast<int64_t>(r) * ld_; }

  int32_t n_ = 0, b_ = 1;
  bool finite_ = true;
  Pads pads_;
  int64_t ld_ = 0;
  ZArray<double> slots_;
  std::vector<double*> start_;              // column lo(r) of row r
  std::vector<int32_t> hi_;                 // last column kept of row r
  std::vector<std::vector<double>> moved_;  // rows moved out of their slots
  int32_t steps_ = 0;                       // steps done
  std::vector<int32_t> id_;                 // entry row at each position
  std::vector<double> zeros_;               // the zero multiplier of each step
  int32_t plus_zeros_ = 0;                  // how many of them, from the first, are +0.0
};

}  // namespace drav
