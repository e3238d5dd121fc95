#include "factor/band_lu.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "factor/pivot_rule.h"

namespace drav {

namespace {

// Rows of U taken together in the sums of a row of U.
constexpr int kGroup = 4;

}  // namespace

bool BandMatrix::allocate(int32_t n, int32_t b) noexcept {
  const int32_t m = std::max(n, 0);
  const int32_t half = std::clamp(b, 1, std::max(m, 1));
  if (!a_.allocate(static_cast<int64_t>(m) * (2 * static_cast<int64_t>(half) - 1))) return false;
  n_ = m;
  b_ = half;
  return true;
}

void BandFactors::row(int32_t p, double* out) const {
  int32_t begin = 0, end = 0;
  row(p, out, begin, end);
  std::fill(out, out + begin, 0.0);
  std::fill(out + end, out + n_, 0.0);
}

void BandFactors::row(int32_t p, double* out, int32_t& begin, int32_t& end) const {
  const int32_t N = n_;
  const int32_t r = id_[p - 1];
  const int32_t lc = std::min(p - 1, lcols_);
  const int32_t zero_end = std::min(lc, entered(r) - 1);
  begin = std::min(zero_end, plus_zeros_);
  std::copy(zeros_.begin() + begin, zeros_.begin() + zero_end, out + begin);
  const std::vector<double>& l = l_[r - 1];
  for (int32_t m = zero_end + 1; m <= lc; ++m) out[m - 1] = l[m - base(r)];
  if (p <= urows_) {
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(N, p + 2 * int64_t{b_} - 2));
    const double* u = u_.data() + static_cast<int64_t>(p - 1) * (2 * int64_t{b_} - 1 + kGroup - 1);
    std::copy(u, u + (last - p + 1), out + (p - 1));
    end = last;
  } else {
    for (int32_t j = lc + 1; j <= N; ++j) out[j - 1] = a_->get(r, j);
    end = N;
  }
}

namespace {

// s[q] = sum over t < len of l[q][t] * u[t] for q < R, each from +0.0 in ascending t: R
// independent sums side by side, each in its own order, so that the additions of one do not
// wait for each other.
constexpr int kRows = 8;
template <int R>
void dot_rows(const double* const* l, const double* u, int32_t len, double* s) {
  double acc[R] = {};
  for (int32_t t = 0; t < len; ++t) {
    const double ut = u[t];
    for (int q = 0; q < R; ++q) acc[q] += l[q][t] * ut;
  }
  for (int q = 0; q < R; ++q) s[q] = acc[q];
}

bool finite_entries(const BandMatrix& A) {
  const int32_t N = A.order(), b = A.half_band();
  for (int32_t r = 1; r <= N; ++r) {
    const int32_t lo = std::max(1, r - b + 1);
    const int32_t hi = static_cast<int32_t>(std::min<int64_t>(N, int64_t{r} + b - 1));
    for (int32_t j = lo; j <= hi; ++j)
      if (!std::isfinite(A.get(r, j))) return false;
  }
  return true;
}

}  // namespace

// The elimination of LUDECOMP_BAND, step by step: the candidates of the window, the pivot and
// its exchange, the row of U, the column of L.
class BandSteps {
 public:
  BandSteps(const BandMatrix& A, BandFactors& F)
      : A_(A),
        F_(F),
        N_(A.order()),
        b_(A.half_band()),
        // Slots of a row of U: columns p .. p+2b-2, then kGroup-1 more that stay +0.0 (the
        // entries of U there are +0.0), so that a group of kGroup rows can be read over one
        // range.
        wu_(2 * int64_t{b_} - 1 + (kGroup - 1)) {}

  // The storage of the factors; false when the memory cannot be had.
  bool start();
  // The candidates of step k: LU(i,k) - sum of l(i,m) * u(m,k) for the window rows, the same
  // terms in the same order as LUDECOMP forms for the pivot search and for column k of L.
  void candidates(int32_t k);
  // The first of the largest single-precision magnitudes; +/-0 and NaN never win.
  void choose_pivot(int32_t k);
  // Row k of U; false when a value is not finite.
  bool row_of_u(int32_t k);
  // Column k of L in the window, below it the zeros of this step's sign; false when a value is
  // not finite.
  bool column_of_l(int32_t k);

  double pivot(int32_t k) { return urow(k)[0]; }

 private:
  int32_t window_end(int32_t k) const {
    return static_cast<int32_t>(std::min<int64_t>(N_, int64_t{k} + b_ - 1));
  }
  // The sums of step k take the terms m = first(k)..k-1.
  int32_t first(int32_t k) const {
    return static_cast<int32_t>(std::max<int64_t>(1, int64_t{k} - 2 * b_ + 2));
  }
  double* urow(int32_t p) { return F_.u_.data() + static_cast<int64_t>(p - 1) * wu_; }
  // The multipliers of entry row r from column m on.
  const double* lrow(int32_t r, int32_t m) const { return F_.l_[r - 1].data() + (m - F_.base(r)); }

  const BandMatrix& A_;
  BandFactors& F_;
  const int32_t N_, b_;
  const int64_t wu_;
  std::vector<double> numer_;  // the candidates in double, by window slot
  std::vector<double> ucol_;   // u(m,k), m = first(k)..k-1
  std::vector<double> sum_;    // running sums of row k of U
};

bool BandSteps::start() {
  // The sums of step k reach back to column k-2b+2, which a row that has just entered (at
  // step k-b+1 or later, or at step 1) reaches with this many zeros in front of its run.
  const int32_t pad = 2 * b_ - 2;
  try {
    F_.a_ = &A_;
    F_.n_ = N_;
    F_.b_ = b_;
    F_.pad_ = pad;
    F_.lcols_ = 0;
    F_.urows_ = 0;
    F_.id_.resize(static_cast<size_t>(N_));
    for (int32_t i = 1; i <= N_; ++i) F_.id_[i - 1] = i;
    F_.zeros_.assign(static_cast<size_t>(N_), 0.0);
    F_.plus_zeros_ = N_;
    if (!F_.u_.allocate(static_cast<int64_t>(N_) * wu_)) return false;
    F_.l_.assign(static_cast<size_t>(N_), {});
    for (auto& l : F_.l_) {
      l.reserve(static_cast<size_t>(pad + b_));
      l.assign(static_cast<size_t>(pad), 0.0);
    }
    numer_.resize(static_cast<size_t>(b_));
    ucol_.resize(static_cast<size_t>(wu_));
    sum_.resize(static_cast<size_t>(wu_));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void BandSteps::candidates(int32_t k) {
  const std::vector<int32_t>& id = F_.id_;
  const int32_t h = window_end(k), lo = first(k), len = k - lo;
  for (int32_t m = lo; m <= k - 1; ++m) ucol_[m - lo] = urow(m)[k - m];
  for (int32_t i = k; i <= h; i += kRows) {
    const int count = std::min(kRows, h - i + 1);
    const double* l[kRows];
    double s[kRows];
    for (int q = 0; q < count; ++q) l[q] = lrow(id[i + q - 1], lo);
    if (count == kRows) {
      dot_rows<kRows>(l, ucol_.data(), len, s);
    } else {
      for (int q = 0; q < count; ++q) dot_rows<1>(l + q, ucol_.data(), len, s + q);
    }
    for (int q = 0; q < count; ++q) numer_[i + q - k] = A_.get(id[i + q - 1], k) - s[q];
  }
}

void BandSteps::choose_pivot(int32_t k) {
  if (k >= N_) return;  // one candidate at the last step
  std::vector<int32_t>& id = F_.id_;
  float AMAX = 0.0f;
  int32_t IMAX = k;
  for (int32_t i = k; i <= window_end(k); ++i) {
    const float A_II = static_cast<float>(numer_[i - k]);
    if (beats(A_II, AMAX)) {
      IMAX = i;
      AMAX = A_II;
    }
  }
  if (IMAX > k) {
    std::swap(id[k - 1], id[IMAX - 1]);
    std::swap(numer_[0], numer_[IMAX - k]);
  }
}

// m outside j as in LUDECOMP; each sum still takes its terms in ascending m.
bool BandSteps::row_of_u(int32_t k) {
  const int32_t r = F_.id_[k - 1];
  const int32_t lo = first(k);
  const int32_t jhi = static_cast<int32_t>(std::min<int64_t>(N_, int64_t{k} + 2 * b_ - 2));
  const int32_t width = jhi - k + 1;
  double* uk = urow(k);
  F_.urows_ = k;
  if (k == 1) {
    for (int32_t j = 1; j <= jhi; ++j) uk[j - 1] = A_.get(r, j);  // row 1 as it stands
    return true;
  }
  std::fill(sum_.begin(), sum_.begin() + width, 0.0);
  const double* lk = lrow(r, lo);
  // The columns of row k of U that row m of U reaches (its last nonzero slot).
  auto reach = [&](int32_t m) {
    return static_cast<int32_t>(std::min<int64_t>(jhi, int64_t{m} + 2 * b_ - 2)) - k + 1;
  };
  double* s = sum_.data();
  int32_t m = lo;
  // Four rows of U at a time: every sum still takes its terms one by one in ascending m; the
  // rows that end earlier contribute l * (+0.0) from their zero slots, which leaves the sum as
  // it is.
  for (; m + kGroup - 1 <= k - 1; m += kGroup) {
    const double l0 = lk[m - lo], l1 = lk[m + 1 - lo], l2 = lk[m + 2 - lo], l3 = lk[m + 3 - lo];
    const double* u0 = urow(m) + (k - m);
    const double* u1 = urow(m + 1) + (k - m - 1);
    const double* u2 = urow(m + 2) + (k - m - 2);
    const double* u3 = urow(m + 3) + (k - m - 3);
    const int32_t n = reach(m + 3);
    for (int32_t t = 0; t < n; ++t) {
      double x = s[t];
      x += l0 * u0[t];
      x += l1 * u1[t];
      x += l2 * u2[t];
      x += l3 * u3[t];
      s[t] = x;
    }
  }
  for (; m <= k - 1; ++m) {
    const double lkm = lk[m - lo];
    const double* um = urow(m) + (k - m);
    const int32_t n = reach(m);
    for (int32_t t = 0; t < n; ++t) s[t] += lkm * um[t];
  }
  bool finite = true;
  for (int32_t j = k; j <= jhi; ++j) {
    uk[j - k] = A_.get(r, j) - sum_[j - k];
    finite = finite && std::isfinite(uk[j - k]);
  }
  return finite;
}

bool BandSteps::column_of_l(int32_t k) {
  const double ukk = pivot(k);
  for (int32_t i = k + 1; i <= window_end(k); ++i) {
    const double l = numer_[i - k] / ukk;
    if (!std::isfinite(l)) return false;
    // A row that stays long in the window grows its run of multipliers beyond what was
    // reserved (bad_alloc, caught by the caller).
    F_.l_[F_.id_[i - 1] - 1].push_back(l);
  }
  F_.zeros_[k - 1] = ukk < 0.0 ? -0.0 : 0.0;
  if (ukk < 0.0) F_.plus_zeros_ = std::min(F_.plus_zeros_, k - 1);
  F_.lcols_ = k;
  return true;
}

FactorOutcome LUDECOMP_BAND(const BandMatrix& A, int32_t* IORD, BandFactors& F) {
  const int32_t N = A.order();
  if (N < 1) return {};
  const FactorOutcome declined{FactorOutcome::Stop::Declined, 1, 0.0};
  if (!finite_entries(A)) return declined;
  BandSteps steps(A, F);
  if (!steps.start()) return declined;
  try {
    for (int32_t k = 1; k <= N; ++k) {
      steps.candidates(k);
      steps.choose_pivot(k);
      if (!steps.row_of_u(k)) return declined;
      if (pivot_fails(steps.pivot(k))) {
        std::copy(F.id_.begin(), F.id_.end(), IORD);
        return {FactorOutcome::Stop::PivotFailed, k, steps.pivot(k)};
      }
      if (!steps.column_of_l(k)) return declined;
    }
  } catch (const std::bad_alloc&) {
    return declined;
  }
  F.lcols_ = N - 1;
  std::copy(F.id_.begin(), F.id_.end(), IORD);
  return {FactorOutcome::Stop::Complete, N + 1, 0.0};
}

}  // namespace drav
