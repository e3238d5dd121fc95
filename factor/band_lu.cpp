#include "factor/band_lu.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "factor/pivot_report.h"
#include "factor/pivot_rule.h"
#include "params/zarray.h"

namespace drav {

namespace {

inline bool is_plus_zero(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u == 0;
}

// Columns max(1, i-half+1)..min(N, i+half-1) of row i; empty (lo > hi) when half <= 0.
struct Span {
  int32_t lo, hi;
};
inline Span band_of(int32_t i, int64_t half, int32_t N) {
  const int64_t lo = std::max<int64_t>(1, i - half + 1);
  const int64_t hi = std::min<int64_t>(N, i + half - 1);
  return {static_cast<int32_t>(lo), static_cast<int32_t>(hi)};
}

// The precondition of the band scheme on the leading N x N block: +0.0 outside the band,
// finite inside it.
bool band_holds(const Matrix& LU, int32_t N, int32_t NBAND) {
  for (int32_t i = 1; i <= N; ++i) {
    const double* r = LU.row(i);
    const Span s = band_of(i, NBAND, N);
    if (s.lo > s.hi) {
      for (int32_t j = 1; j <= N; ++j)
        if (!is_plus_zero(r[j - 1])) return false;
      continue;
    }
    for (int32_t j = 1; j < s.lo; ++j)
      if (!is_plus_zero(r[j - 1])) return false;
    for (int32_t j = s.lo; j <= s.hi; ++j)
      if (!std::isfinite(r[j - 1])) return false;
    for (int32_t j = s.hi + 1; j <= N; ++j)
      if (!is_plus_zero(r[j - 1])) return false;
  }
  return true;
}

enum class Stop { Complete, PivotFailed, NotFinite };

// The elimination proper, on LU in place. Positions and steps are 1-based as in LUDECOMP.
class BandElimination {
 public:
  BandElimination(Matrix& LU, int32_t n, int32_t b)
      : LU_(LU),
        n_(n),
        b_(b),
        order_(static_cast<size_t>(n)),
        numer_(static_cast<size_t>(b)),
        ucol_(static_cast<size_t>(2 * static_cast<int64_t>(b))),
        sum_(static_cast<size_t>(2 * static_cast<int64_t>(b))) {
    for (int32_t i = 1; i <= n; ++i) order_[i - 1] = i;
  }

  Stop run();
  const std::vector<int32_t>& order() const { return order_; }
  int32_t step() const { return step_; }
  double pivot() const { return pivot_; }

 private:
  // Last column of U row m that can be nonzero, and the first row of U that can be nonzero in
  // column j.
  int32_t u_last(int32_t m) const {
    return static_cast<int32_t>(std::min<int64_t>(n_, m + 2 * static_cast<int64_t>(b_) - 2));
  }
  int32_t u_first(int32_t j) const {
    return static_cast<int32_t>(std::max<int64_t>(1, j - 2 * static_cast<int64_t>(b_) + 2));
  }
  // The row at position p was below the window at every step so far: its multipliers there
  // are zeros with the sign of the pivot, -0.0 under each negative one.
  void give_zero_multipliers(int32_t p) {
    double* r = LU_.row(p);
    for (int32_t m : negative_steps_) r[m - 1] = -0.0;
  }
  void exchange(int32_t k, int32_t i);

  Matrix& LU_;
  const int32_t n_, b_;
  std::vector<int32_t> order_;
  std::vector<double> numer_;  // window row k+t: LU(k+t,k) - sum of l*u, the candidate in double
  std::vector<double> ucol_;   // u(m,k) for m = u_first(k)..k-1
  std::vector<double> sum_;    // running sums of row k of U, column k+t
  std::vector<int32_t> negative_steps_;
  int32_t step_ = 1;
  double pivot_ = 0.0;
};

// Rows k and i (both in the window) are +0 beyond column k+2b-2 (entry rows of index at most
// k+b-1 whose tails nothing has written), so only the columns before that are exchanged.
void BandElimination::exchange(int32_t k, int32_t i) {
  double* rk = LU_.row(k);
  double* ri = LU_.row(i);
  const int32_t last = u_last(k);
  std::swap_ranges(rk, rk + last, ri);
  std::swap(order_[k - 1], order_[i - 1]);
  std::swap(numer_[0], numer_[i - k]);
}

Stop BandElimination::run() {
  const int32_t N = n_;
  for (int32_t k = 1; k <= N; ++k) {
    step_ = k;
    // The window ends at position h; the row at k+b-1 enters it now.
    const int64_t window_end = k + static_cast<int64_t>(b_) - 1;
    const int32_t h = static_cast<int32_t>(std::min<int64_t>(N, window_end));
    if (k >= 2 && window_end <= N) give_zero_multipliers(h);
    const int32_t lo = u_first(k);

    // The sums over m of l(i,m) * u(m,k) for the window rows: the pivot candidates and the
    // numerators of column k of L. Same terms, same order and the same products as LUDECOMP
    // forms for both.
    for (int32_t m = lo; m <= k - 1; ++m) ucol_[m - lo] = LU_(m, k);
    for (int32_t i = k; i <= h; ++i) {
      const double* r = LU_.row(i);
      double s = 0.0;
      for (int32_t m = lo; m <= k - 1; ++m) s += r[m - 1] * ucol_[m - lo];
      numer_[i - k] = r[k - 1] - s;
    }

    if (k < N) {
      // The first of the largest single-precision magnitudes; +/-0 and NaN never win.
      float AMAX = 0.0f;
      int32_t IMAX = k;
      for (int32_t i = k; i <= h; ++i) {
        const float A_II = static_cast<float>(numer_[i - k]);
        if (beats(A_II, AMAX)) {
          IMAX = i;
          AMAX = A_II;
        }
      }
      if (IMAX > k) exchange(k, IMAX);
    }

    // Row k of U, m outside j as in LUDECOMP; each sum still takes its terms in ascending m.
    // Row 1 is U's first row as it stands.
    double* rk = LU_.row(k);
    const int32_t jhi = u_last(k);
    bool finite = true;
    if (k >= 2) {
      for (int32_t j = k; j <= jhi; ++j) sum_[j - k] = 0.0;
      for (int32_t m = lo; m <= k - 1; ++m) {
        const double lkm = rk[m - 1];
        const double* rm = LU_.row(m);
        const int32_t jend = std::min(jhi, u_last(m));
        for (int32_t j = k; j <= jend; ++j) sum_[j - k] += lkm * rm[j - 1];
      }
      for (int32_t j = k; j <= jhi; ++j) {
        rk[j - 1] = rk[j - 1] - sum_[j - k];
        finite = finite && std::isfinite(rk[j - 1]);
      }
    }
    if (!finite) return Stop::NotFinite;
    const double ukk = rk[k - 1];
    if (pivot_fails(ukk)) {
      pivot_ = ukk;
      for (int64_t p = static_cast<int64_t>(h) + 1; p <= N; ++p)
        give_zero_multipliers(static_cast<int32_t>(p));
      return Stop::PivotFailed;
    }

    // Column k of L in the window; below it the zeros come when the rows enter.
    for (int32_t i = k + 1; i <= h; ++i) {
      double& l = LU_(i, k);
      l = numer_[i - k] / ukk;
      finite = finite && std::isfinite(l);
    }
    if (!finite) return Stop::NotFinite;
    if (ukk < 0.0) negative_steps_.push_back(k);
  }
  step_ = N + 1;
  return Stop::Complete;
}

}  // namespace

bool LUDECOMP_BAND(Matrix& LU, int32_t N, int32_t NBAND, int32_t* IORD, int32_t& IERR,
                   int32_t& KSTEP, const COMPAR& c, recio::TextSink& console) {
  if (N < 1) {
    IERR = 0;
    KSTEP = 1;
    return true;
  }
  if (!band_holds(LU, N, NBAND)) return false;
  // A band of NBAND <= 0 is an all-zero matrix, which the diagonal band treats alike.
  const int32_t b = std::clamp(NBAND, 1, N);

  // The entry band of every row, to put LU back should the elimination meet a value that is
  // not finite.
  const int32_t width = static_cast<int32_t>(std::min<int64_t>(N, 2 * static_cast<int64_t>(b) - 1));
  ZArray<double> entry;
  if (!entry.allocate(static_cast<int64_t>(N) * width)) return false;
  for (int32_t r = 1; r <= N; ++r) {
    const Span s = band_of(r, b, N);
    const double* row = LU.row(r);
    std::copy(row + s.lo - 1, row + s.hi, entry.data() + static_cast<int64_t>(r - 1) * width);
  }

  BandElimination e(LU, N, b);
  const Stop stop = e.run();
  if (stop == Stop::NotFinite) {
    for (int32_t r = 1; r <= N; ++r) {
      const Span s = band_of(r, b, N);
      double* row = LU.row(r);
      std::fill(row, row + N, 0.0);
      const double* saved = entry.data() + static_cast<int64_t>(r - 1) * width;
      std::copy(saved, saved + (s.hi - s.lo + 1), row + s.lo - 1);
    }
    return false;
  }
  std::copy(e.order().begin(), e.order().end(), IORD);
  KSTEP = e.step();
  IERR = 0;
  if (stop == Stop::PivotFailed) {
    report_pivot_failure(KSTEP, e.pivot(), c, console);
    IERR = -1;
  }
  return true;
}

}  // namespace drav
