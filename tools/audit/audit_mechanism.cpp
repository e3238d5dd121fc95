#include "tools/audit/audit_mechanism.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "tools/audit/audit_classify.h"
#include "tools/audit/audit_eigensolver.h"
#include "tools/audit/audit_modes.h"
#include "tools/audit/audit_parts.h"

namespace drav::audit {

namespace {

// The failing step of the program's factorization and the motion it reveals: with
// P A = L U, the first k-1 columns of A are independent and column k is, to within the
// failed pivot, a combination of them, x = (-U11^-1 u, 1, 0, ...).
void add_failing_step(Model& m, const MotionContext& cx, MechanismReport& r) {
  const int32_t n = cx.A.order();
  Matrix LU;
  build_matrix(m, LU);
  const RepeatedFactorization f = factor_as_the_program(m.c, LU);
  r.singular = !f.complete;
  r.KSTEP = f.KSTEP;
  if (!r.singular) return;
  const int32_t k = f.KSTEP;
  r.pivot = LU(k, k);
  const ConstMatrixView lu = view(std::as_const(LU));
  Eigen::VectorXd y = -lu.block(0, k - 1, k - 1, 1);
  lu.topLeftCorner(k - 1, k - 1).triangularView<Eigen::Upper>().solveInPlace(y);
  std::vector<double> x(static_cast<size_t>(n), 0.0);
  for (int32_t i = 0; i < k - 1; ++i) x[static_cast<size_t>(i)] = y(i);
  x[at(k)] = 1.0;
  r.failing = describe_motion(cx, x, "");
  r.failing_residual =
      (view(cx.A) * Eigen::Map<const Eigen::VectorXd>(r.failing->x.data(), n)).norm();
}

// The block of A on the equations of one part.
Eigen::MatrixXd part_matrix(const Matrix& A, const std::vector<int32_t>& eqs) {
  const Eigen::Index size = static_cast<Eigen::Index>(eqs.size());
  Eigen::MatrixXd sub(size, size);
  for (Eigen::Index i = 0; i < size; ++i) {
    for (Eigen::Index j = 0; j < size; ++j) {
      sub(i, j) = A(eqs[static_cast<size_t>(i)], eqs[static_cast<size_t>(j)]);
    }
  }
  return sub;
}

// The eigenvalues part by part (the matrix is block diagonal over its parts), the limit
// below which they count as zero, and the zero-energy modes of every part in a readable basis.
void add_zero_modes(const MotionContext& cx, MechanismReport& r) {
  const Parts& parts = cx.parts;
  std::vector<Spectrum> spectra;
  spectra.reserve(parts.eqs.size());
  for (size_t p = 0; p < parts.eqs.size(); ++p) {
    spectra.emplace_back(part_matrix(cx.A, parts.eqs[p]));
    r.largest_eigenvalue = std::max(r.largest_eigenvalue, spectra[p].largest_abs());
  }
  r.eigen_done = true;
  r.zero_limit = cx.opt.zero * r.largest_eigenvalue;
  for (size_t p = 0; p < parts.eqs.size(); ++p) {
    const Eigen::VectorXd& lambda = spectra[p].eigenvalues();
    std::vector<Eigen::Index> zero;
    for (Eigen::Index i = 0; i < lambda.size(); ++i) {
      const double a = std::fabs(lambda(i));
      if (a <= r.zero_limit) {
        zero.push_back(i);
        r.largest_zero = std::max(r.largest_zero, a);
      } else {
        if (lambda(i) < 0) ++r.negative;
        if (r.smallest_nonzero == 0 || a < r.smallest_nonzero) r.smallest_nonzero = a;
      }
    }
    if (zero.empty()) continue;
    const Eigen::MatrixXd z =
        spectra[p].vectors(zero, part_matrix(cx.A, parts.eqs[p]), r.zero_limit);
    readable_modes(cx, static_cast<int32_t>(p + 1), z, r.modes);
  }
}

}  // namespace

const char* kind_word(MotionKind k) {
  static const char* const kWords[] = {"rigid-body",     "left-out-elements", "collinear-bars",
                                       "slack-elements", "unreached-node",    "mechanism",
                                       "unclassified"};
  const auto i = static_cast<size_t>(k);
  return i < std::size(kWords) ? kWords[i] : "unclassified";
}

MechanismReport analyse_mechanism(Model& m, const MechanismOptions& opt) {
  MechanismReport r;
  r.status = status_if_present();
  Matrix A;
  build_matrix(m, A);
  const Geometry g = rebuild_positions(m);
  const Parts parts = find_parts(m, A);
  const MotionContext cx{m, g, A, parts, opt};
  add_failing_step(m, cx, r);
  r.parts = static_cast<int32_t>(parts.eqs.size());
  for (const auto& e : parts.eqs)
    r.largest_part = std::max<int32_t>(r.largest_part, static_cast<int32_t>(e.size()));
  using When = MechanismOptions::Eigen;
  if (opt.eigen == When::Never || (opt.eigen == When::WhenSingular && !r.singular)) return r;
  if (r.largest_part > opt.max_order) return r;
  add_zero_modes(cx, r);
  return r;
}

}  // namespace drav::audit
