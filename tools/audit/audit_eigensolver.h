// The eigenvalues of a symmetric matrix and the eigenvectors of chosen ones, for the mechanism
// analysis; defined in audit_linalg.cpp beside the other linear algebra. For the tool's own
// sources (it speaks Eigen).
#pragma once

#include <vector>

#include "tools/audit/eigen_view.h"

namespace drav::audit {

// (T - shift I) y = b for the symmetric tridiagonal T (diagonal d, off-diagonal e), by
// Gaussian elimination with partial pivoting; a pivot that vanishes is replaced by `tiny`, as
// inverse iteration wants (the solution then grows along the eigenvector of `shift`).
Eigen::VectorXd tridiagonal_solve(const Eigen::VectorXd& d, const Eigen::VectorXd& e, double shift,
                                  double tiny, Eigen::VectorXd b);

// The spectrum of a symmetric matrix: the eigenvalues from its tridiagonal form, and the
// eigenvectors of chosen eigenvalues by inverse iteration on that form, turned back by its
// orthogonal factor. That costs the tridiagonalization (about 4/3 n^3) instead of the several
// times more that accumulating every eigenvector takes; should the vectors not pass their
// check, the full eigen-decomposition gives them. Eigenvalues that do not converge end with a
// fatal report.
class Spectrum {
 public:
  explicit Spectrum(const Eigen::MatrixXd& sub);
  const Eigen::VectorXd& eigenvalues() const { return lambda_; }
  double largest_abs() const { return lambda_.size() ? lambda_.cwiseAbs().maxCoeff() : 0.0; }

  // Orthonormal eigenvectors of the eigenvalues `which`, all within `limit` of zero (one
  // cluster: each vector is kept orthogonal to the ones before it); `sub` is the matrix.
  Eigen::MatrixXd vectors(const std::vector<Eigen::Index>& which, const Eigen::MatrixXd& sub,
                          double limit) const;

 private:
  Eigen::MatrixXd full(const std::vector<Eigen::Index>& which, const Eigen::MatrixXd& sub) const;

  Eigen::Tridiagonalization<Eigen::MatrixXd> tri_;
  Eigen::VectorXd d_, e_, lambda_;
};

}  // namespace drav::audit
