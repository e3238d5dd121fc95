// The factorization of a band matrix in O(N * b^2) arithmetic on band storage of its own,
// with results identical bit for bit to LUDECOMP's on the dense matrix: the same factors
// (signed zeros included), the same row order, step and pivot.
//
// Why the work outside the band can be left out: every sum of the compact scheme starts at +0.0
// and runs in ascending order, and a product with one factor +/-0 and the other finite is
// +/-0, which leaves such a sum bit-identical (the running sum is never -0, and s + (+/-0) = s).
// With half band width b (diagonal included) and partial pivoting:
//   - at step k only the rows at positions k..k+b-1 (the window) can have a nonzero candidate;
//     the rows below it are still their entry rows, never moved, with +0 from column k on
//     past their band;
//   - row k of U is +0 beyond column k+2b-2 (its entry row ends by column k+2b-2, and every
//     term of its sums there has a +0 factor of U), so u(m,k) = +0 for m < k-2b+2 and the sums
//     of step k need only the terms m = k-2b+2..k-1;
//   - a row below the window gets the multiplier (+0 - (+0)) / u(k,k): a zero carrying the
//     sign of the pivot, -0.0 under a negative one. Such zeros are not stored: a row is given
//     them when it is written out (BandFactors::row), from the signs of the pivots;
//   - a row that has entered the window gets a multiplier at every step until it is the pivot
//     row, so its multipliers are one run of columns from the step it entered; the run is
//     stored with +0.0 in front of it where the sums reach further left, which changes no sum
//     (see the first point);
//   - exchanges move whole rows, so exchanging the two row numbers of the order moves them
//     too: every row is kept under the number it had on entry.
// None of this holds once a value is infinite or NaN (0 * inf is NaN); the kernel then
// declines.
#pragma once

#include <cstdint>
#include <vector>

#include "factor/outcome.h"
#include "params/zarray.h"

namespace drav {

// A band matrix: row r (from 1) keeps columns r-b+1 .. r+b-1; every other entry is +0.0.
class BandMatrix {
 public:
  // n x n zeros with half band b (diagonal included, 1 <= b <= n, or n = 0). False when the
  // memory cannot be had.
  bool allocate(int32_t n, int32_t b) noexcept;
  int32_t order() const { return n_; }
  int32_t half_band() const { return b_; }

  // Entry (r,j) with |r-j| < b.
  double& at(int32_t r, int32_t j) { return a_[slot(r, j)]; }
  // Entry (r,j) anywhere: +0.0 outside the band.
  double get(int32_t r, int32_t j) const {
    const int64_t d = static_cast<int64_t>(j) - r;
    if (d <= -b_ || d >= b_ || j < 1 || j > n_) return 0.0;
    return a_[slot(r, j)];
  }

 private:
  int64_t slot(int32_t r, int32_t j) const {
    return (static_cast<int64_t>(r) - 1) * (2 * static_cast<int64_t>(b_) - 1) + (j - r) + b_ - 1;
  }
  ZArray<double> a_;
  int32_t n_ = 0, b_ = 1;
};

class BandSteps;

// The factors as the band elimination leaves them, with the entry matrix they came from
// (which must outlive them).
class BandFactors {
 public:
  int32_t order() const { return n_; }
  // Row p (from 1) of the factored matrix exactly as LUDECOMP leaves it in the dense LU after
  // the same outcome: N values into out. After a failure at step k, the rows of U up to k, the
  // columns of L up to k-1, and the entry values of the rows below from column k on.
  void row(int32_t p, double* out) const;
  // The same row with only values [begin, end) (from 0) written into out: every other value of
  // it is +0.0.
  void row(int32_t p, double* out, int32_t& begin, int32_t& end) const;

 private:
  friend class BandSteps;
  friend FactorOutcome LUDECOMP_BAND(const BandMatrix& A, int32_t* IORD, BandFactors& F);

  const BandMatrix* a_ = nullptr;
  int32_t n_ = 0, b_ = 1, pad_ = 0;
  int32_t lcols_ = 0;          // columns of L complete in every row
  int32_t urows_ = 0;          // rows of U computed
  std::vector<int32_t> id_;    // entry row standing at each position (IORD)
  std::vector<double> zeros_;  // the zero multiplier of each step: -0.0 under a negative pivot
  int32_t plus_zeros_ = 0;     // how many of them, from the first, are +0.0
  ZArray<double> u_;           // row p of U, columns p .. p+2b-2
  std::vector<std::vector<double>> l_;  // multipliers of entry row r, from column base(r)
  int32_t entered(int32_t r) const { return r > b_ ? r - b_ + 1 : 1; }
  int32_t base(int32_t r) const { return entered(r) - pad_; }
};

// Factors A (order N, half band b) as LUDECOMP factors the dense matrix. Complete and
// PivotFailed: IORD and the rows of F as LUDECOMP leaves IORD and LU, KSTEP and the pivot
// bits exact; nothing is written. Declined (IORD untouched) when an entry or a value computed
// on the way is infinite or NaN, or the memory cannot be had: another kernel must run.
// N = 0 is the empty system (Complete, KSTEP 1).
FactorOutcome LUDECOMP_BAND(const BandMatrix& A, int32_t* IORD, BandFactors& F);

}  // namespace drav
