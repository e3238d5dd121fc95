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
  const int32_t N = n_;
  const int32_t r = id_[p - 1];
  const int32_t lc = std::min(p - 1, lcols_);
  const int32_t zero_end = std::min(lc, entered(r) - 1);
  std::copy(zeros_.begin(), zeros_.begin() + zero_end, out);
  const std::vector<double>& l = l_[r - 1];
  for (int32_t m = zero_end + 1; m <= lc; ++m) out[m - 1] = l[m - base(r)];
  if (p <= urows_) {
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(N, p + 2 * int64_t{b_} - 2));
    const double* u = u_.data() + static_cast<int64_t>(p - 1) * (2 * int64_t{b_} - 1 + kGroup - 1);
    std::copy(u, u + (last - p + 1), out + (p - 1));
    std::fill(out + last, out + N, 0.0);
  } else {
    for (int32_t j = lc + 1; j <= N; ++j) out[j - 1] = a_->get(r, j);
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

FactorOutcome LUDECOMP_BAND(const BandMatrix& A, int32_t* IORD, BandFactors& F) {
  FactorOutcome out;
  const int32_t N = A.order();
  if (N < 1) return out;
  FactorOutcome declined;
  declined.stop = FactorOutcome::Stop::Declined;
  if (!finite_entries(A)) return declined;

  const int32_t b = A.half_band();
  // Slots of a row of U: columns p .. p+2b-2, then kGroup-1 more that stay +0.0 (the entries
  // of U there are +0.0), so that a group of kGroup rows can be read over one range.
  const int64_t wu = 2 * int64_t{b} - 1 + (kGroup - 1);
  // The sums of step k reach back to column k-2b+2, which a row that has just entered (at
  // step k-b+1 or later, or at step 1) reaches with this many zeros in front of its run.
  const int32_t pad = 2 * b - 2;
  try {
    F.a_ = &A;
    F.n_ = N;
    F.b_ = b;
    F.pad_ = pad;
    F.lcols_ = 0;
    F.urows_ = 0;
    F.id_.resize(static_cast<size_t>(N));
    for (int32_t i = 1; i <= N; ++i) F.id_[i - 1] = i;
    F.zeros_.assign(static_cast<size_t>(N), 0.0);
    if (!F.u_.allocate(static_cast<int64_t>(N) * wu)) return declined;
    F.l_.assign(static_cast<size_t>(N), {});
    for (auto& l : F.l_) {
      l.reserve(static_cast<size_t>(pad + b));
      l.assign(static_cast<size_t>(pad), 0.0);
    }
  } catch (const std::bad_alloc&) {
    return declined;
  }

  std::vector<int32_t>& id = F.id_;
  std::vector<double> numer(static_cast<size_t>(b));  // the candidates in double, by window slot
  std::vector<double> ucol(static_cast<size_t>(wu));  // u(m,k), m = lo..k-1
  std::vector<double> sum(static_cast<size_t>(wu));   // running sums of row k of U
  auto urow = [&](int32_t p) { return F.u_.data() + static_cast<int64_t>(p - 1) * wu; };
  // The multipliers of entry row r from column m on.
  auto lrow = [&](int32_t r, int32_t m) { return F.l_[r - 1].data() + (m - F.base(r)); };

  // A row that stays long in the window grows its run of multipliers beyond what was reserved.
  try {
    for (int32_t k = 1; k <= N; ++k) {
      const int32_t h = static_cast<int32_t>(std::min<int64_t>(N, int64_t{k} + b - 1));
      const int32_t lo = static_cast<int32_t>(std::max<int64_t>(1, int64_t{k} - 2 * b + 2));
      const int32_t len = k - lo;  // terms m = lo..k-1

      // The candidates: LU(i,k) - sum of l(i,m) * u(m,k) for the window rows, the same terms in
      // the same order as LUDECOMP forms for the pivot search and for column k of L.
      for (int32_t m = lo; m <= k - 1; ++m) ucol[m - lo] = urow(m)[k - m];
      for (int32_t i = k; i <= h; i += kRows) {
        const int count = std::min(kRows, h - i + 1);
        const double* l[kRows];
        double s[kRows];
        for (int q = 0; q < count; ++q) l[q] = lrow(id[i + q - 1], lo);
        if (count == kRows) {
          dot_rows<kRows>(l, ucol.data(), len, s);
        } else {
          for (int q = 0; q < count; ++q) dot_rows<1>(l + q, ucol.data(), len, s + q);
        }
        for (int q = 0; q < count; ++q) numer[i + q - k] = A.get(id[i + q - 1], k) - s[q];
      }

      if (k < N) {
        // The first of the largest single-precision magnitudes; +/-0 and NaN never win.
        float AMAX = 0.0f;
        int32_t IMAX = k;
        for (int32_t i = k; i <= h; ++i) {
          const float A_II = static_cast<float>(numer[i - k]);
          if (beats(A_II, AMAX)) {
            IMAX = i;
            AMAX = A_II;
          }
        }
        if (IMAX > k) {
          std::swap(id[k - 1], id[IMAX - 1]);
          std::swap(numer[0], numer[IMAX - k]);
        }
      }

      // Row k of U, m outside j as in LUDECOMP; each sum still takes its terms in ascending m.
      const int32_t r = id[k - 1];
      const int32_t jhi = static_cast<int32_t>(std::min<int64_t>(N, int64_t{k} + 2 * b - 2));
      const int32_t width = jhi - k + 1;
      double* uk = urow(k);
      bool finite = true;
      if (k == 1) {
        for (int32_t j = 1; j <= jhi; ++j) uk[j - 1] = A.get(r, j);  // row 1 as it stands
      } else {
        std::fill(sum.begin(), sum.begin() + width, 0.0);
        const double* lk = lrow(r, lo);
        // The columns of row k of U that row m of U reaches (its last nonzero slot).
        auto reach = [&](int32_t m) {
          return static_cast<int32_t>(std::min<int64_t>(jhi, int64_t{m} + 2 * b - 2)) - k + 1;
        };
        double* s = sum.data();
        int32_t m = lo;
        // Four rows of U at a time: every sum still takes its terms one by one in ascending m;
        // the rows that end earlier contribute l * (+0.0) from their zero slots, which leaves
        // the sum as it is.
        for (; m + kGroup - 1 <= k - 1; m += kGroup) {
          const double l0 = lk[m - lo], l1 = lk[m + 1 - lo], l2 = lk[m + 2 - lo],
                       l3 = lk[m + 3 - lo];
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
        for (int32_t j = k; j <= jhi; ++j) {
          uk[j - k] = A.get(r, j) - sum[j - k];
          finite = finite && std::isfinite(uk[j - k]);
        }
      }
      if (!finite) return declined;
      F.urows_ = k;
      const double ukk = uk[0];
      if (pivot_fails(ukk)) {
        std::copy(id.begin(), id.end(), IORD);
        out.stop = FactorOutcome::Stop::PivotFailed;
        out.KSTEP = k;
        out.pivot = ukk;
        return out;
      }

      // Column k of L in the window; below it the zeros of this step's sign.
      for (int32_t i = k + 1; i <= h; ++i) {
        const double l = numer[i - k] / ukk;
        if (!std::isfinite(l)) return declined;
        F.l_[id[i - 1] - 1].push_back(l);
      }
      F.zeros_[k - 1] = ukk < 0.0 ? -0.0 : 0.0;
      F.lcols_ = k;
    }
  } catch (const std::bad_alloc&) {
    return declined;
  }
  F.lcols_ = N - 1;
  std::copy(id.begin(), id.end(), IORD);
  out.KSTEP = N + 1;
  return out;
}

}  // namespace drav
