#include "tools/audit/audit_linalg.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "recio/fatal.h"
#include "tools/audit/audit_eigensolver.h"
#include "tools/audit/eigen_view.h"

namespace drav::audit {

namespace {

// The larger of two magnitudes, a NaN winning, so that a damaged value is never hidden.
double worse(double best, double v) {
  return (std::isnan(v) || v > best) ? v : best;
}

template <class M>
double max_abs_of(const M& m) {
  return m.size() == 0 ? 0.0 : m.cwiseAbs().template maxCoeff<Eigen::PropagateNaN>();
}

// Rows of L*U formed at a time: bounds the scratch memory to a strip of the product.
constexpr Eigen::Index kResidualStrip = 128;

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
  return max_abs_of(view(A));
}

double norm1(const Matrix& A) {
  if (A.order() == 0) return 0.0;
  return view(A).cwiseAbs().colwise().sum().maxCoeff<Eigen::PropagateNaN>();
}

double lu_residual(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD) {
  const Eigen::Index n = F.order();
  const ConstMatrixView f = view(F), a = view(A);
  double worst = 0;
  RowMatrix strip, product;
  for (Eigen::Index i0 = 0; i0 < n; i0 += kResidualStrip) {
    const Eigen::Index rows = std::min(kResidualStrip, n - i0), k = i0 + rows;
    // Rows i0.. of the unit lower factor: the multipliers left of the diagonal, then 1. They
    // reach column k at most, so only the first k rows of U take part.
    strip.setZero(rows, k);
    for (Eigen::Index r = 0; r < rows; ++r) {
      strip.row(r).head(i0 + r) = f.row(i0 + r).head(i0 + r);
      strip(r, i0 + r) = 1.0;
    }
    product.noalias() = strip * f.topRows(k).triangularView<Eigen::Upper>();
    for (Eigen::Index r = 0; r < rows; ++r) {
      const Eigen::Index src = IORD[static_cast<size_t>(i0 + r)] - 1;
      worst = worse(worst, max_abs_of(product.row(r) - a.row(src)));
    }
  }
  return worst;
}

void lu_solve(const Matrix& F, const std::vector<int32_t>& IORD, std::vector<double>& b,
              bool transposed) {
  const Eigen::Index n = F.order();
  const ConstMatrixView f = view(F);
  Eigen::Map<Eigen::VectorXd> x(b.data(), n);
  Eigen::VectorXd y(n);
  if (!transposed) {
    // P A = L U: L U x = P b.
    for (Eigen::Index i = 0; i < n; ++i) y(i) = x(IORD[static_cast<size_t>(i)] - 1);
    f.triangularView<Eigen::UnitLower>().solveInPlace(y);
    f.triangularView<Eigen::Upper>().solveInPlace(y);
    x = y;
    return;
  }
  // A^T = U^T L^T P: U^T L^T (P x) = b.
  y = x;
  f.triangularView<Eigen::Upper>().transpose().solveInPlace(y);
  f.triangularView<Eigen::UnitLower>().transpose().solveInPlace(y);
  for (Eigen::Index i = 0; i < n; ++i) x(IORD[static_cast<size_t>(i)] - 1) = y(i);
}

double inverse_norm1_exact(const Matrix& F, const std::vector<int32_t>& IORD) {
  const Eigen::Index n = F.order();
  if (n == 0) return 0.0;
  const ConstMatrixView f = view(F);
  // A^-1 = U^-1 L^-1 P, all columns at once.
  Eigen::MatrixXd X = Eigen::MatrixXd::Zero(n, n);
  for (Eigen::Index i = 0; i < n; ++i) X(i, IORD[static_cast<size_t>(i)] - 1) = 1.0;
  f.triangularView<Eigen::UnitLower>().solveInPlace(X);
  f.triangularView<Eigen::Upper>().solveInPlace(X);
  return X.cwiseAbs().colwise().sum().maxCoeff<Eigen::PropagateNaN>();
}

double inverse_norm1_estimate(const Matrix& A) {
  const Eigen::Index n = A.order();
  if (n == 0) return 0.0;
  const Eigen::PartialPivLU<RowMatrix> lu(view(A));
  // rcond() = 1 / (||A||_1 * estimate of ||A^-1||_1).
  const double norm_a = norm1(A);
  return 1.0 / (lu.rcond() * norm_a);
}

Condition condition_1norm(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD,
                          int32_t exact_limit) {
  Condition c;
  c.norm_a = norm1(A);
  c.exact = F.order() <= exact_limit;
  c.norm_inv = c.exact ? inverse_norm1_exact(F, IORD) : inverse_norm1_estimate(A);
  c.kappa = c.norm_a * c.norm_inv;
  return c;
}

Eigen::VectorXd tridiagonal_solve(const Eigen::VectorXd& d, const Eigen::VectorXd& e, double shift,
                                  double tiny, Eigen::VectorXd b) {
  const Eigen::Index n = d.size();
  Eigen::VectorXd diag = d.array() - shift;
  if (n == 1) {
    b(0) /= diag(0) != 0.0 ? diag(0) : tiny;
    return b;
  }
  Eigen::VectorXd lower = e, upper = e, upper2 = Eigen::VectorXd::Zero(n);
  for (Eigen::Index i = 0; i + 1 < n; ++i) {
    if (std::fabs(diag(i)) >= std::fabs(lower(i))) {
      if (diag(i) == 0.0) diag(i) = tiny;
      const double f = lower(i) / diag(i);
      diag(i + 1) -= f * upper(i);
      b(i + 1) -= f * b(i);
    } else {
      // Rows i and i+1 exchanged.
      const double f = diag(i) / lower(i);
      diag(i) = lower(i);
      const double t = diag(i + 1);
      diag(i + 1) = upper(i) - f * t;
      if (i + 2 < n) {
        upper2(i) = upper(i + 1);
        upper(i + 1) = -f * upper2(i);
      }
      upper(i) = t;
      const double bt = b(i);
      b(i) = b(i + 1);
      b(i + 1) = bt - f * b(i + 1);
    }
  }
  if (diag(n - 1) == 0.0) diag(n - 1) = tiny;
  b(n - 1) /= diag(n - 1);
  b(n - 2) = (b(n - 2) - upper(n - 2) * b(n - 1)) / diag(n - 2);
  for (Eigen::Index i = n - 3; i >= 0; --i) {
    b(i) = (b(i) - upper(i) * b(i + 1) - upper2(i) * b(i + 2)) / diag(i);
  }
  return b;
}

Spectrum::Spectrum(const Eigen::MatrixXd& sub) : tri_(sub) {
  d_ = tri_.diagonal();
  e_ = tri_.subDiagonal();
  Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es;
  es.computeFromTridiagonal(d_, e_, Eigen::EigenvaluesOnly);
  if (es.info() != Eigen::Success) recio::fail("the eigenvalues of the matrix do not converge");
  lambda_ = es.eigenvalues();
}

Eigen::MatrixXd Spectrum::vectors(const std::vector<Eigen::Index>& which,
                                  const Eigen::MatrixXd& sub, double limit) const {
  const Eigen::Index n = d_.size(), z = static_cast<Eigen::Index>(which.size());
  const double norm = d_.cwiseAbs().maxCoeff() + 2 * (e_.size() ? e_.cwiseAbs().maxCoeff() : 0.0);
  const double tiny = std::max(norm, 1e-300) * std::numeric_limits<double>::epsilon();
  Eigen::MatrixXd Y(n, z);
  for (Eigen::Index j = 0; j < z; ++j) {
    // Shifts a little apart, so that no two solves are alike.
    const double shift = lambda_(which[static_cast<size_t>(j)]) + static_cast<double>(j) * tiny;
    Eigen::VectorXd y(n);
    for (Eigen::Index i = 0; i < n; ++i)
      y(i) = std::sin(1.0 + static_cast<double>(i) + 7.0 * static_cast<double>(j));
    for (int round = 0; round < 4; ++round) {
      y = tridiagonal_solve(d_, e_, shift, tiny, y);
      for (int twice = 0; twice < 2; ++twice) {
        for (Eigen::Index k = 0; k < j; ++k) y -= Y.col(k).dot(y) * Y.col(k);
      }
      const double len = y.norm();
      if (!(len > 0) || !std::isfinite(len)) return full(which, sub);
      y /= len;
    }
    Y.col(j) = y;
  }
  Eigen::MatrixXd Z = tri_.matrixQ() * Y;
  // Eigenvectors of eigenvalues within the limit: |A z| small, and orthonormal.
  const double allowed = 2 * limit + 64 * tiny * std::sqrt(static_cast<double>(n));
  const double worst = (sub * Z).colwise().norm().maxCoeff();
  const double skew = (Z.transpose() * Z - Eigen::MatrixXd::Identity(z, z)).cwiseAbs().maxCoeff();
  if (!(worst <= allowed) || !(skew <= 1e-8)) return full(which, sub);
  return Z;
}

Eigen::MatrixXd Spectrum::full(const std::vector<Eigen::Index>& which,
                               const Eigen::MatrixXd& sub) const {
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(sub);
  if (es.info() != Eigen::Success) recio::fail("the eigenvectors of the matrix do not converge");
  Eigen::MatrixXd Z(sub.rows(), static_cast<Eigen::Index>(which.size()));
  for (size_t j = 0; j < which.size(); ++j)
    Z.col(static_cast<Eigen::Index>(j)) = es.eigenvectors().col(which[j]);
  return Z;
}

}  // namespace drav::audit
