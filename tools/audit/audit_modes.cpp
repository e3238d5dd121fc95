#include "tools/audit/audit_modes.h"

#include <algorithm>
#include <string>
#include <utility>

#include "driver/results.h"

namespace drav::audit {

namespace {

using Candidates = std::vector<std::pair<Eigen::VectorXd, std::string>>;

// The rotation about `axis` of the part's equations: component d of w x r, r relative to
// `centre`.
Eigen::VectorXd rotation(const MotionContext& cx, const std::vector<int32_t>& eqs, int32_t axis,
                         const std::vector<double>& centre) {
  const Eigen::Index size = static_cast<Eigen::Index>(eqs.size());
  Eigen::VectorXd r(size);
  for (Eigen::Index k = 0; k < size; ++k) {
    const int32_t eq = eqs[at(k + 1)], n = cx.m.W.loc_node(eq), d = cx.m.W.loc_dir(eq);
    auto rel = [&](int32_t i) { return cx.g.x(n, i) - centre[at(i)]; };
    const int32_t p = axis % 3 + 1, q = (axis + 1) % 3 + 1;  // the plane of the rotation
    r(k) = d == p ? -rel(q) : d == q ? rel(p) : 0.0;
  }
  return r;
}

// The rigid-body motions of the part's nodes with their names: translations along each
// direction, rotations about the centre of the nodes (one in a plane, three in space) and
// about the first few supported nodes (where supports allow a rotation, it is about them).
Candidates rigid_candidates(const MotionContext& cx, const std::vector<int32_t>& eqs,
                            const std::vector<int32_t>& nodes) {
  Candidates out;
  const int32_t dims = cx.m.c.NDOFN;
  const Eigen::Index size = static_cast<Eigen::Index>(eqs.size());
  for (int32_t d = 1; d <= dims; ++d) {
    Eigen::VectorXd t(size);
    for (Eigen::Index k = 0; k < size; ++k) t(k) = cx.m.W.loc_dir(eqs[at(k + 1)]) == d ? 1.0 : 0.0;
    out.emplace_back(t, "translation " + direction_name(d));
  }
  if (dims != 2 && dims != 3) return out;
  for (int32_t n : nodes) {
    if (!cx.g.placed(n)) return out;
  }
  constexpr size_t kCentres = 8;
  std::vector<std::pair<std::vector<double>, std::string>> centres(1);
  centres[0].first.assign(static_cast<size_t>(dims), 0.0);
  for (int32_t n : nodes) {
    for (int32_t d = 1; d <= dims; ++d) {
      centres[0].first[at(d)] += cx.g.x(n, d) / static_cast<double>(nodes.size());
    }
    if (centres.size() <= kCentres && node_supported(cx.m, n)) {
      std::vector<double> at_node;
      for (int32_t d = 1; d <= dims; ++d) at_node.push_back(cx.g.x(n, d));
      centres.emplace_back(at_node, " through node " + std::to_string(n));
    }
  }
  for (const auto& [centre, where] : centres) {
    for (int32_t axis = dims == 2 ? 3 : 1; axis <= 3; ++axis) {
      out.emplace_back(rotation(cx, eqs, axis, centre),
                       "rotation about " + direction_name(axis) + where);
    }
  }
  return out;
}

// The vector over all equations of one over the part's equations.
std::vector<double> over_all(const MotionContext& cx, const std::vector<int32_t>& eqs,
                             const Eigen::VectorXd& v) {
  std::vector<double> x(static_cast<size_t>(cx.A.order()), 0.0);
  for (Eigen::Index k = 0; k < v.size(); ++k) x[at(eqs[static_cast<size_t>(k)])] = v(k);
  return x;
}

// The rigid-body candidates that lie in the zero space and are independent of the ones before
// them, described into `rigid`; returns their coefficients in the zero basis, a column each.
Eigen::MatrixXd rigid_modes(const MotionContext& cx, int32_t part, const Eigen::MatrixXd& zero,
                            std::vector<Motion>& rigid) {
  const std::vector<int32_t>& eqs = cx.parts.eqs[at(part)];
  const Eigen::Index z = zero.cols();
  Eigen::MatrixXd accepted(z, 0);
  if (cx.parts.linked[at(part)] || cx.parts.nodes[at(part)].size() < 2) return accepted;
  for (auto& [r, name] : rigid_candidates(cx, eqs, cx.parts.nodes[at(part)])) {
    const double len = r.norm();
    if (!(len > 0)) continue;
    r /= len;
    const Eigen::VectorXd coef = zero.transpose() * r;
    if (!((r - zero * coef).norm() <= kGeometric)) continue;  // not a zero-energy motion
    // Independent of the ones kept so far?
    Eigen::VectorXd rest = coef;
    if (accepted.cols() > 0) {
      const Eigen::MatrixXd q =
          accepted.householderQr().householderQ() * Eigen::MatrixXd::Identity(z, accepted.cols());
      rest -= q * (q.transpose() * coef);
    }
    if (!(rest.norm() > 1e-3)) continue;
    accepted.conservativeResize(z, accepted.cols() + 1);
    accepted.col(accepted.cols() - 1) = coef;
    rigid.push_back(describe_motion(cx, over_all(cx, eqs, r), name));
  }
  return accepted;
}

// The space `rest` in vectors with 1 at an equation of their own and 0 at the others', in the
// order of their first moving equation.
std::vector<Motion> local_modes(const MotionContext& cx, const std::vector<int32_t>& eqs,
                                const Eigen::MatrixXd& rest) {
  std::vector<Motion> local;
  if (rest.cols() == 0) return local;
  const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(rest.transpose());
  const auto& perm = qr.colsPermutation().indices();
  Eigen::MatrixXd pivots(rest.cols(), rest.cols());
  for (Eigen::Index i = 0; i < rest.cols(); ++i) pivots.row(i) = rest.row(perm(i));
  const Eigen::MatrixXd basis = rest * pivots.inverse();
  for (Eigen::Index j = 0; j < basis.cols(); ++j) {
    local.push_back(describe_motion(cx, over_all(cx, eqs, basis.col(j)), ""));
  }
  auto first_equation = [](const Motion& a) {
    for (size_t i = 0; i < a.x.size(); ++i) {
      if (a.x[i] != 0.0) return i;
    }
    return a.x.size();
  };
  std::stable_sort(local.begin(), local.end(), [&](const Motion& a, const Motion& b) {
    return first_equation(a) < first_equation(b);
  });
  return local;
}

}  // namespace

void readable_modes(const MotionContext& cx, int32_t part, const Eigen::MatrixXd& zero,
                    std::vector<Motion>& out) {
  std::vector<Motion> rigid;
  const Eigen::MatrixXd accepted = rigid_modes(cx, part, zero, rigid);
  // The rest of the zero space, orthogonal to the rigid motions kept.
  Eigen::MatrixXd rest = zero;
  if (accepted.cols() > 0) {
    const Eigen::MatrixXd q = accepted.householderQr().householderQ();
    rest = zero * q.rightCols(zero.cols() - accepted.cols());
  }
  for (Motion& mo : rigid) out.push_back(std::move(mo));
  for (Motion& mo : local_modes(cx, cx.parts.eqs[at(part)], rest)) out.push_back(std::move(mo));
}

}  // namespace drav::audit
