#include "tools/lib/audit_linalg.h"

#include <cmath>

namespace drav::audit {

namespace {

// The larger of two magnitudes, a NaN winning, so that a damaged value is never hidden.
double worse(double best, double v) {
  return (std::isnan(v) || v > best) ? v : best;
}

double abs_sum(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += std::fabs(x);
  return s;
}

}  // namespace

bool is_permutation(const std::vector<int32_t>& IORD, int32_t n) {
  if (n < 0 || IORD.size() != static_cast<size_t>(n)) return false;
  std::vector<bool> seen(static_cast<size_t>(n), false);
  for (int32_t v : IORD) {
    if (v < 1 || v > n || seen[static_cast<size_t>(v - 1)]) return false;
    seen[static_cast<size_t>(v - 1)] = true;
  }
  return true;
}

double max_abs(const Matrix& A) {
  double m = 0;
  for (int32_t i = 1; i <= A.order(); ++i) {
    for (int32_t j = 1; j <= A.order(); ++j) {
      m = worse(m, std::fabs(A(i, j)));
      if (std::isnan(m)) return m;
    }
  }
  return m;
}

double norm1(const Matrix& A) {
  double m = 0;
  for (int32_t j = 1; j <= A.order(); ++j) {
    double s = 0;
    for (int32_t i = 1; i <= A.order(); ++i) s += std::fabs(A(i, j));
    m = worse(m, s);
  }
  return m;
}

double lu_residual(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD) {
  const int32_t n = F.order();
  double worst = 0;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t src = IORD[static_cast<size_t>(i - 1)];
    for (int32_t j = 1; j <= n; ++j) {
      // Row i of L (unit diagonal) times column j of U.
      const int32_t last = i - 1 < j ? i - 1 : j;
      long double s = 0;
      for (int32_t m = 1; m <= last; ++m) {
        s += static_cast<long double>(F(i, m)) * static_cast<long double>(F(m, j));
      }
      if (i <= j) s += F(i, j);
      const double r = static_cast<double>(std::fabs(s - static_cast<long double>(A(src, j))));
      worst = worse(worst, r);
    }
  }
  return worst;
}

void lu_solve(const Matrix& F, const std::vector<int32_t>& IORD, std::vector<double>& b,
              bool transposed) {
  const int32_t n = F.order();
  std::vector<double> y(static_cast<size_t>(n));
  auto at = [](std::vector<double>& v, int32_t k) -> double& {
    return v[static_cast<size_t>(k - 1)];
  };
  if (!transposed) {
    // P A = L U: L y = P b, then U x = y.
    for (int32_t i = 1; i <= n; ++i) {
      double s = b[static_cast<size_t>(IORD[static_cast<size_t>(i - 1)] - 1)];
      for (int32_t m = 1; m < i; ++m) s -= F(i, m) * at(y, m);
      at(y, i) = s;
    }
    for (int32_t i = n; i >= 1; --i) {
      double s = at(y, i);
      for (int32_t m = i + 1; m <= n; ++m) s -= F(i, m) * at(b, m);
      at(b, i) = s / F(i, i);
    }
    return;
  }
  // A^T = U^T L^T P: U^T w = b, then L^T v = w, then x = P^T v.
  for (int32_t i = 1; i <= n; ++i) {
    double s = at(b, i);
    for (int32_t m = 1; m < i; ++m) s -= F(m, i) * at(y, m);
    at(y, i) = s / F(i, i);
  }
  for (int32_t i = n; i >= 1; --i) {
    double s = at(y, i);
    for (int32_t m = i + 1; m <= n; ++m) s -= F(m, i) * at(y, m);
    at(y, i) = s;
  }
  for (int32_t i = 1; i <= n; ++i) at(b, IORD[static_cast<size_t>(i - 1)]) = at(y, i);
}

double inverse_norm1_exact(const Matrix& F, const std::vector<int32_t>& IORD) {
  const int32_t n = F.order();
  double worst = 0;
  std::vector<double> col(static_cast<size_t>(n));
  for (int32_t j = 1; j <= n; ++j) {
    std::fill(col.begin(), col.end(), 0.0);
    col[static_cast<size_t>(j - 1)] = 1.0;
    lu_solve(F, IORD, col, false);
    worst = worse(worst, abs_sum(col));
  }
  return worst;
}

double inverse_norm1_estimate(const Matrix& F, const std::vector<int32_t>& IORD) {
  const int32_t n = F.order();
  if (n < 1) return 0;
  const size_t un = static_cast<size_t>(n);
  std::vector<double> x(un, 1.0 / n), y, z(un);
  double est = 0;
  int32_t last_j = 0;
  for (int iter = 1; iter <= 5; ++iter) {
    y = x;
    lu_solve(F, IORD, y, false);
    const double e = abs_sum(y);
    if (std::isnan(e)) return e;
    if (iter > 1 && e <= est) break;  // no progress: the previous vector was the best
    est = e;
    for (size_t i = 0; i < un; ++i) z[i] = y[i] >= 0 ? 1.0 : -1.0;
    lu_solve(F, IORD, z, true);
    int32_t j = 1;
    double zmax = -1, ztx = 0;
    for (int32_t i = 1; i <= n; ++i) {
      const double a = std::fabs(z[static_cast<size_t>(i - 1)]);
      if (a > zmax) {
        zmax = a;
        j = i;
      }
      ztx += z[static_cast<size_t>(i - 1)] * x[static_cast<size_t>(i - 1)];
    }
    if (iter > 1 && (zmax <= ztx || j == last_j)) break;  // a local maximum was reached
    last_j = j;
    std::fill(x.begin(), x.end(), 0.0);
    x[static_cast<size_t>(j - 1)] = 1.0;
  }
  // The alternating vector catches matrices on which the iteration stalls early.
  std::vector<double> b(un);
  for (int32_t i = 1; i <= n; ++i) {
    const double mag = 1.0 + (n > 1 ? static_cast<double>(i - 1) / (n - 1) : 0.0);
    b[static_cast<size_t>(i - 1)] = (i % 2 == 1) ? mag : -mag;
  }
  lu_solve(F, IORD, b, false);
  const double alt = 2.0 * abs_sum(b) / (3.0 * n);
  return worse(est, alt);
}

Condition condition_1norm(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD,
                          int32_t exact_limit) {
  Condition c;
  c.norm_a = norm1(A);
  c.exact = F.order() <= exact_limit;
  c.norm_inv = c.exact ? inverse_norm1_exact(F, IORD) : inverse_norm1_estimate(F, IORD);
  c.kappa = c.norm_a * c.norm_inv;
  return c;
}

}  // namespace drav::audit
