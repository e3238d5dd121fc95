#include "tools/audit/audit_mechanism.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "assembly/element.h"
#include "recio/fatal.h"
#include "tools/audit/eigen_view.h"

namespace drav::audit {

namespace {

// Below this fraction of a motion's largest component an entry is rounding noise of the basis
// change, and is set to zero so that the nodes a motion really leaves alone are not listed.
constexpr double kNoise = 1e-11;
// Relative tolerances of the geometric tests of the classification: a rigid-body fit, a bar's
// change of length, a direction across a bar, two parallel bars.
constexpr double kGeometric = 1e-6;

size_t at(int32_t one_based) {
  return static_cast<size_t>(one_based - 1);
}

// The connected parts of the matrix: nodes joined by a nonzero entry between their equations.
struct Parts {
  std::vector<int32_t> of_node;             // part of each node (from 1), 0 without equations
  std::vector<std::vector<int32_t>> eqs;    // equations of each part, ascending
  std::vector<std::vector<int32_t>> nodes;  // nodes of each part, ascending
  std::vector<bool> supported;              // a blocked direction or a working spring at a node
  std::vector<bool> linked;  // an active element to a node outside, which holds it too
};

int32_t find(std::vector<int32_t>& up, int32_t n) {
  while (up[at(n)] != n) {
    up[at(n)] = up[at(up[at(n)])];
    n = up[at(n)];
  }
  return n;
}

bool node_supported(const Model& m, int32_t node) {
  const COMPAR& c = m.c;
  for (int32_t d = 1; d <= c.NDOFN; ++d) {
    if (c.iblk(node, d) != 0) return true;
  }
  // A spring acts once for every element that meets the node, so only where one does.
  if (!ELASTIC(c, node)) return false;
  for (int32_t e : node_elements(m, node)) {
    if (e >= 1 && e <= c.NUMEL && (m.W.NI[e - 1] == node || m.W.NF[e - 1] == node)) return true;
  }
  return false;
}

Parts find_parts(const Model& m, const Matrix& A) {
  const COMPAR& c = m.c;
  const int32_t n = A.order(), nn = std::max(c.NNODE, 0);
  std::vector<int32_t> up(static_cast<size_t>(nn));
  std::iota(up.begin(), up.end(), 1);
  const int32_t band = std::max(c.NBAND, 0);
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(n, int64_t{i} + band - 1));
    for (int32_t j = i + 1; j <= last; ++j) {
      if (A(i, j) != 0.0) {
        const int32_t a = find(up, m.W.loc_node(i)), b = find(up, m.W.loc_node(j));
        if (a != b) up[at(std::max(a, b))] = std::min(a, b);
      }
    }
  }
  Parts p;
  p.of_node.assign(static_cast<size_t>(nn), 0);
  std::vector<int32_t> part_of_root(static_cast<size_t>(nn), 0);
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t node = m.W.loc_node(k), r = find(up, node);
    int32_t& id = part_of_root[at(r)];
    if (id == 0) {
      id = static_cast<int32_t>(p.eqs.size()) + 1;
      p.eqs.emplace_back();
      p.nodes.emplace_back();
      p.supported.push_back(false);
      p.linked.push_back(false);
    }
    p.eqs[at(id)].push_back(k);
    if (p.of_node[at(node)] == 0) {
      p.of_node[at(node)] = id;
      p.nodes[at(id)].push_back(node);
      if (node_supported(m, node)) p.supported[at(id)] = true;
    }
  }
  // An element that carries stiffness from a part to a node outside it holds the part as a
  // support would (its term enters the part's diagonal only): a fixed node, or another part.
  for (int32_t e = 1; e <= c.NUMEL; ++e) {
    const int32_t a = m.W.NI[e - 1], b = m.W.NF[e - 1], ind = m.W.IND[e - 1];
    if (a < 1 || a > nn || b < 1 || b > nn || ind < 0 || (ind > 0 && m.W.T[e - 1] == 0.0)) {
      continue;
    }
    const int32_t pa = p.of_node[at(a)], pb = p.of_node[at(b)];
    if (pa == pb) continue;
    if (pa != 0) p.linked[at(pa)] = true;
    if (pb != 0) p.linked[at(pb)] = true;
  }
  return p;
}

// One element as the classification sees it.
struct Bar {
  bool usable = false;  // both end nodes are nodes of the model
  int32_t ni = 0, nf = 0, ind = 0;
  std::vector<double> dir;  // V / VMOD (empty when VMOD is 0)
  double axial = 0, t = 0, s0 = 1;
};

Bar bar_of(const Model& m, int32_t e) {
  const COMPAR& c = m.c;
  const WorkArrays& W = m.W;
  Bar b;
  b.ni = W.NI[e - 1];
  b.nf = W.NF[e - 1];
  b.usable = b.ni >= 1 && b.ni <= c.NNODE && b.nf >= 1 && b.nf <= c.NNODE;
  b.ind = W.IND[e - 1];
  const double vmod = W.VMOD[e - 1];
  if (vmod != 0.0 && std::isfinite(vmod)) {
    for (int32_t d = 0; d < c.NDOFN; ++d) {
      b.dir.push_back(W.V[static_cast<int64_t>(e - 1) * c.NDOFN + d] / vmod);
    }
  }
  b.axial = static_cast<double>(W.AL0[e - 1]) * W.YY[e - 1] * static_cast<double>(W.A0[e - 1]);
  b.t = W.T[e - 1];
  b.s0 = static_cast<double>(W.S0[e - 1]);
  return b;
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) s += a[i] * b[i];
  return s;
}

double length(const std::vector<double>& a) {
  return std::sqrt(dot(a, a));
}

// Everything the description of a motion needs.
struct Context {
  const Model& m;
  const Geometry& g;
  const Matrix& A;
  const Parts& parts;
  const MechanismOptions& opt;
};

// The displacement of every node (NDOFN components, 0 in blocked directions).
std::vector<std::vector<double>> node_motion(const Model& m, const std::vector<double>& x) {
  std::vector<std::vector<double>> u(static_cast<size_t>(std::max(m.c.NNODE, 0)),
                                     std::vector<double>(static_cast<size_t>(m.c.NDOFN), 0.0));
  for (int32_t k = 1; k <= static_cast<int32_t>(x.size()); ++k) {
    u[at(m.W.loc_node(k))][at(m.W.loc_dir(k))] = x[at(k)];
  }
  return u;
}

// "node 5", "nodes 3 and 4", "nodes 1, 2 and 7"; long lists cut after ten numbers (the JSON
// output has them all).
std::string node_list(const std::vector<int32_t>& v, const char* one, const char* many) {
  constexpr size_t kShown = 10;
  std::string s = v.size() == 1 ? one : many;
  if (v.size() > kShown) {
    for (size_t i = 0; i < kShown; ++i) s += (i == 0 ? " " : ", ") + std::to_string(v[i]);
    return s + ", ... (" + std::to_string(v.size()) + " in all)";
  }
  for (size_t i = 0; i < v.size(); ++i) {
    s += (i == 0 ? " " : (i + 1 == v.size() ? " and " : ", ")) + std::to_string(v[i]);
  }
  return s;
}

// The rigid-body fit of u over the nodes of the given parts: when u is a translation plus a
// rotation about the parts' centre of nodes, the name of the motion, else "".
std::string rigid_name(const Context& cx, const std::vector<std::vector<double>>& u,
                       const std::vector<int32_t>& nodes) {
  const int32_t dims = cx.m.c.NDOFN;
  if (nodes.empty() || dims < 1) return "";
  for (int32_t n : nodes) {
    if (!cx.g.placed(n)) return "";
  }
  const double count = static_cast<double>(nodes.size());
  Eigen::VectorXd t = Eigen::VectorXd::Zero(dims), centre = Eigen::VectorXd::Zero(dims);
  for (int32_t n : nodes) {
    for (int32_t d = 0; d < dims; ++d) {
      t(d) += u[at(n)][static_cast<size_t>(d)] / count;
      centre(d) += cx.g.x(n, d + 1) / count;
    }
  }
  // The rotation: in a plane one angle, in space a vector w with u - t = w x r.
  double umax = 0;
  for (int32_t n : nodes) umax = std::max(umax, length(u[at(n)]));
  if (umax == 0) return "";
  const int32_t nrot = dims == 2 ? 1 : dims == 3 ? 3 : 0;
  Eigen::VectorXd w = Eigen::VectorXd::Zero(nrot);
  auto rotation_of = [&](int32_t n, const Eigen::VectorXd& omega) {
    Eigen::VectorXd r(dims);
    for (int32_t d = 0; d < dims; ++d) r(d) = cx.g.x(n, d + 1) - centre(d);
    Eigen::VectorXd v = Eigen::VectorXd::Zero(dims);
    if (dims == 2) {
      v << -omega(0) * r(1), omega(0) * r(0);
    } else if (dims == 3) {
      v = Eigen::Vector3d(omega(0), omega(1), omega(2)).cross(Eigen::Vector3d(r(0), r(1), r(2)));
    }
    return v;
  };
  if (nrot > 0) {
    // Least squares: the columns are the rotation fields of the unit rotations.
    Eigen::MatrixXd M(static_cast<Eigen::Index>(nodes.size()) * dims, nrot);
    Eigen::VectorXd rhs(M.rows());
    for (size_t i = 0; i < nodes.size(); ++i) {
      for (int32_t k = 0; k < nrot; ++k) {
        M.block(static_cast<Eigen::Index>(i) * dims, k, dims, 1) =
            rotation_of(nodes[i], Eigen::VectorXd::Unit(nrot, k));
      }
      for (int32_t d = 0; d < dims; ++d) {
        rhs(static_cast<Eigen::Index>(i) * dims + d) =
            u[at(nodes[i])][static_cast<size_t>(d)] - t(d);
      }
    }
    w = M.completeOrthogonalDecomposition().solve(rhs);
    // A rotation about an axis along which every node lies moves nothing.
    if (!((M * w).norm() > kGeometric * umax)) w.setZero();
  }
  for (int32_t n : nodes) {
    const Eigen::VectorXd fit = t + rotation_of(n, w);
    for (int32_t d = 0; d < dims; ++d) {
      if (!(std::fabs(fit(d) - u[at(n)][static_cast<size_t>(d)]) <= kGeometric * umax)) return "";
    }
  }
  const bool turns = nrot > 0 && w.norm() > 0.0;
  const bool shifts = t.norm() > kGeometric * umax;
  std::string axis;
  if (turns && nrot == 1) axis = "Z";
  if (turns && nrot == 3) {
    for (int32_t k = 0; k < 3; ++k) {
      if (std::fabs(w(k)) >= (1 - kGeometric) * w.norm()) axis = direction_name(k + 1);
    }
  }
  if (turns && shifts) return "rigid-body motion";
  if (turns) return axis.empty() ? "rotation" : "rotation about " + axis;
  for (int32_t d = 0; d < dims; ++d) {
    if (std::fabs(t(d)) >= (1 - kGeometric) * t.norm())
      return "translation " + direction_name(d + 1);
  }
  return "translation";
}

// The classification of a motion that is not a rigid-body motion, from what it does to the
// elements at the moving nodes: which would change length, which carry nothing, which lie on
// one line.
void classify(const Context& cx, const std::vector<std::vector<double>>& u, Motion& mo) {
  const Model& m = cx.m;
  const bool one = mo.nodes.size() == 1;
  const std::string moving = one ? "node " + std::to_string(mo.nodes[0]) : "this motion";
  double umax = 0;
  for (int32_t n : mo.nodes) umax = std::max(umax, length(u[at(n)]));
  const double tol = kGeometric * umax;
  auto carries = [](const Bar& b) { return b.ind == 0 || (b.ind > 0 && b.t != 0.0); };

  // Left out but changed in length, force-only without force but moved, elastic and changed
  // in length.
  std::vector<int32_t> left_out, slack, stretched, active;
  for (int32_t e : mo.elements) {
    const Bar b = bar_of(m, e);
    if (!b.usable) continue;
    std::vector<double> rel(u[at(b.nf)]);
    for (size_t d = 0; d < rel.size(); ++d) rel[d] -= u[at(b.ni)][d];
    const bool changes = !b.dir.empty() && std::fabs(dot(b.dir, rel)) > tol;
    if (b.ind < 0) {
      if (changes) left_out.push_back(e);
    } else if (!carries(b)) {
      if (length(rel) > tol) slack.push_back(e);
    } else {
      active.push_back(e);
      if (b.ind == 0 && changes) stretched.push_back(e);
    }
  }
  auto are = [](const std::vector<int32_t>& v) { return v.size() == 1 ? " is" : " are"; };
  if (!left_out.empty()) {
    mo.reasons.push_back({Kind::LeftOut,
                          node_list(left_out, "element", "elements") + are(left_out) +
                              " in a negative state (left out of the matrix) but would have held " +
                              moving + (one ? " in this direction" : ": it changes their length"),
                          {},
                          left_out});
  }
  // Nodes where the carrying bars lie on one line and the node moves across it.
  for (int32_t n : mo.nodes) {
    std::vector<int32_t> on_line;
    std::vector<double> line;
    bool collinear = length(u[at(n)]) > tol;
    for (int32_t e : active) {
      const Bar b = bar_of(m, e);
      if (b.ni != n && b.nf != n) continue;
      if (b.dir.empty()) collinear = false;
      if (!collinear) break;
      if (line.empty()) line = b.dir;
      collinear = std::fabs(std::fabs(dot(line, b.dir)) - 1.0) <= kGeometric &&
                  std::fabs(dot(b.dir, u[at(n)])) <= tol;
      on_line.push_back(e);
    }
    if (collinear && on_line.size() >= 2) {
      mo.reasons.push_back({Kind::Collinear,
                            node_list(on_line, "bar", "bars") + " meet at node " +
                                std::to_string(n) +
                                " on one line: nothing holds it across that line",
                            {n},
                            on_line});
    }
  }
  if (!slack.empty()) {
    mo.reasons.push_back({Kind::Slack,
                          node_list(slack, "element", "elements") + are(slack) +
                              " in the force-only state with zero force (slack) and add no "
                              "stiffness " +
                              (one ? "at " : "against ") + moving,
                          {},
                          slack});
  }
  if (!stretched.empty()) {
    mo.reasons.push_back({Kind::Unclassified,
                          "zero stiffness although " + node_list(stretched, "bar", "bars") +
                              " change length: their axial stiffness and force terms cancel",
                          {},
                          stretched});
  } else if (!one) {
    mo.reasons.push_back(
        {Kind::Mechanism, "no active bar at the moving nodes changes its length", {}, {}});
  } else if (mo.elements.empty()) {
    mo.reasons.push_back({Kind::Unreached, "no element meets " + moving, mo.nodes, {}});
  } else if (active.empty()) {
    mo.reasons.push_back({Kind::Unreached, "no active element reaches " + moving, mo.nodes, {}});
  } else {
    mo.reasons.push_back({Kind::Unreached,
                          "no active element holds " + moving + " in this direction", mo.nodes,
                          active});
  }
}

Motion describe(const Context& cx, std::vector<double> x, const std::string& rigid_hint) {
  const Model& m = cx.m;
  Motion mo;
  double big = 0;
  size_t where = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::fabs(x[i]) > big) {
      big = std::fabs(x[i]);
      where = i;
    }
  }
  if (big == 0 || !std::isfinite(big)) {
    mo.x = std::move(x);
    return mo;
  }
  const double sign = x[where] < 0 ? -1.0 : 1.0;
  for (double& v : x) {
    if (std::fabs(v) <= kNoise * big) v = 0.0;
    v *= sign;
  }
  const double norm = std::sqrt(std::inner_product(x.begin(), x.end(), x.begin(), 0.0));
  for (double& v : x) v /= norm;
  mo.x = std::move(x);

  // The energy from the entries that move only (the motions are mostly local).
  std::vector<int32_t> support;
  for (int32_t k = 1; k <= static_cast<int32_t>(mo.x.size()); ++k) {
    if (mo.x[at(k)] != 0.0) support.push_back(k);
  }
  for (int32_t i : support) {
    for (int32_t j : support) mo.energy += mo.x[at(i)] * cx.A(i, j) * mo.x[at(j)];
  }

  std::vector<Move> all;
  for (int32_t k : support) {
    const double v = mo.x[at(k)];
    all.push_back({k, m.W.loc_node(k), m.W.loc_dir(k), v, v * v});
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const Move& a, const Move& b) { return a.share > b.share; });
  for (const Move& mv : all) {
    if (mv.share >= cx.opt.min_share) {
      mo.moves.push_back(mv);
      mo.nodes.push_back(mv.node);
    } else {
      mo.unlisted_share += mv.share;
    }
  }
  std::sort(mo.nodes.begin(), mo.nodes.end());
  mo.nodes.erase(std::unique(mo.nodes.begin(), mo.nodes.end()), mo.nodes.end());
  for (int32_t n : mo.nodes) {
    for (int32_t e : node_elements(m, n)) {
      if (e >= 1 && e <= m.c.NUMEL && (m.W.NI[e - 1] == n || m.W.NF[e - 1] == n)) {
        mo.elements.push_back(e);
      }
    }
  }
  std::sort(mo.elements.begin(), mo.elements.end());
  mo.elements.erase(std::unique(mo.elements.begin(), mo.elements.end()), mo.elements.end());

  const auto u = node_motion(m, mo.x);
  if (mo.nodes.size() == 1) {
    classify(cx, u, mo);
  } else {
    // A rigid-body motion of whole parts that no element outside holds: a part without
    // supports, or one whose supports allow the motion (all on one line, say).
    std::vector<int32_t> touched;
    for (int32_t n : mo.nodes) touched.push_back(cx.parts.of_node[at(n)]);
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    bool closed = !touched.empty(), supported = false;
    std::vector<int32_t> part_nodes;
    for (int32_t p : touched) {
      closed = closed && p != 0 && !cx.parts.linked[at(p)];
      if (p == 0) continue;
      supported = supported || cx.parts.supported[at(p)];
      part_nodes.insert(part_nodes.end(), cx.parts.nodes[at(p)].begin(),
                        cx.parts.nodes[at(p)].end());
    }
    std::sort(part_nodes.begin(), part_nodes.end());
    mo.rigid = closed ? (rigid_hint.empty() ? rigid_name(cx, u, part_nodes) : rigid_hint) : "";
    if (!mo.rigid.empty()) {
      const bool whole = touched.size() == cx.parts.eqs.size();
      const std::string held = supported ? "its supports do not hold it" : "no support holds it";
      mo.reasons.push_back(
          {Kind::RigidBody,
           mo.rigid + " of " +
               (whole ? "the whole structure: " + held
                      : node_list(part_nodes, "node", "the part of nodes") + ": " + held),
           part_nodes,
           {}});
    } else {
      classify(cx, u, mo);
    }
  }
  // The classification is the first reason in the order of the kinds.
  std::stable_sort(mo.reasons.begin(), mo.reasons.end(),
                   [](const Reason& a, const Reason& b) { return a.kind < b.kind; });
  if (!mo.reasons.empty()) mo.classification = mo.reasons.front().kind;
  return mo;
}

// A rigid-body motion of the part's nodes with its name: translations along each direction,
// rotations about the centre of the nodes (one in a plane, three in space).
std::vector<std::pair<Eigen::VectorXd, std::string>> rigid_candidates(
    const Context& cx, const std::vector<int32_t>& eqs, const std::vector<int32_t>& nodes) {
  std::vector<std::pair<Eigen::VectorXd, std::string>> out;
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
  // Rotations about the centre of the nodes, and about the first few supported nodes (where
  // supports allow a rotation, it is about them).
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
  // Rotation about axis a: component d of w x r, r relative to the centre.
  auto rotation = [&](int32_t axis, const std::vector<double>& centre) {
    Eigen::VectorXd r(size);
    for (Eigen::Index k = 0; k < size; ++k) {
      const int32_t eq = eqs[at(k + 1)], n = cx.m.W.loc_node(eq), d = cx.m.W.loc_dir(eq);
      auto rel = [&](int32_t i) { return cx.g.x(n, i) - centre[at(i)]; };
      const int32_t p = axis % 3 + 1, q = (axis + 1) % 3 + 1;  // the plane of the rotation
      r(k) = d == p ? -rel(q) : d == q ? rel(p) : 0.0;
    }
    return r;
  };
  for (const auto& [centre, where] : centres) {
    for (int32_t axis = dims == 2 ? 3 : 1; axis <= 3; ++axis) {
      out.emplace_back(rotation(axis, centre), "rotation about " + direction_name(axis) + where);
    }
  }
  return out;
}

// The zero-energy modes of one part in a readable basis: first the rigid-body motions that
// lie in the zero space (for a part that no element from outside holds), then the rest of the
// space spanned by vectors that each have 1 at an equation of their own and 0 at the others'
// (a reduced echelon form over equations chosen by a pivoted QR), which makes motions local
// wherever the space allows: a node that nothing holds gets a mode of its own.
void readable_modes(const Context& cx, int32_t part, const Eigen::MatrixXd& zero,
                    std::vector<Motion>& out) {
  const std::vector<int32_t>& eqs = cx.parts.eqs[at(part)];
  const Eigen::Index size = static_cast<Eigen::Index>(eqs.size()), z = zero.cols();
  auto full = [&](const Eigen::VectorXd& v) {
    std::vector<double> x(static_cast<size_t>(cx.A.order()), 0.0);
    for (Eigen::Index k = 0; k < size; ++k) x[at(eqs[static_cast<size_t>(k)])] = v(k);
    return x;
  };

  Eigen::MatrixXd accepted(z, 0);  // coefficients in the zero basis of the rigid motions kept
  std::vector<Motion> rigid;
  if (!cx.parts.linked[at(part)] && cx.parts.nodes[at(part)].size() >= 2) {
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
      rigid.push_back(describe(cx, full(r), name));
    }
  }
  // The rest of the zero space, orthogonal to the rigid motions kept.
  Eigen::MatrixXd rest = zero;
  if (accepted.cols() > 0) {
    const Eigen::MatrixXd q = accepted.householderQr().householderQ();
    rest = zero * q.rightCols(z - accepted.cols());
  }
  std::vector<Motion> local;
  if (rest.cols() > 0) {
    const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(rest.transpose());
    const auto& perm = qr.colsPermutation().indices();
    Eigen::MatrixXd pivots(rest.cols(), rest.cols());
    for (Eigen::Index i = 0; i < rest.cols(); ++i) pivots.row(i) = rest.row(perm(i));
    const Eigen::MatrixXd basis = rest * pivots.inverse();
    for (Eigen::Index j = 0; j < basis.cols(); ++j)
      local.push_back(describe(cx, full(basis.col(j)), ""));
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
  for (Motion& mo : rigid) out.push_back(std::move(mo));
  for (Motion& mo : local) out.push_back(std::move(mo));
}

// (T - shift I) y = b for the symmetric tridiagonal T (diagonal d, off-diagonal e), by
// Gaussian elimination with partial pivoting; a pivot that vanishes is replaced by `tiny`, as
// inverse iteration wants (the solution then grows along the eigenvector of `shift`).
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

// The spectrum of one part: the eigenvalues from the tridiagonal form, and the eigenvectors of
// chosen eigenvalues by inverse iteration on that form, turned back by its orthogonal factor.
// That costs the tridiagonalization (about 4/3 n^3) instead of the several times more that
// accumulating every eigenvector takes; should the vectors not pass their check, the full
// eigen-decomposition gives them.
class PartSpectrum {
 public:
  explicit PartSpectrum(const Eigen::MatrixXd& sub) : tri_(sub) {
    d_ = tri_.diagonal();
    e_ = tri_.subDiagonal();
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es;
    es.computeFromTridiagonal(d_, e_, Eigen::EigenvaluesOnly);
    if (es.info() != Eigen::Success) recio::fail("the eigenvalues of the matrix do not converge");
    lambda_ = es.eigenvalues();
  }
  const Eigen::VectorXd& eigenvalues() const { return lambda_; }
  double largest_abs() const { return lambda_.size() ? lambda_.cwiseAbs().maxCoeff() : 0.0; }

  // Orthonormal eigenvectors of the eigenvalues `which`, all within `limit` of zero (one
  // cluster: each vector is kept orthogonal to the ones before it).
  Eigen::MatrixXd vectors(const std::vector<Eigen::Index>& which, const Eigen::MatrixXd& sub,
                          double limit) const {
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

 private:
  Eigen::MatrixXd full(const std::vector<Eigen::Index>& which, const Eigen::MatrixXd& sub) const {
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(sub);
    if (es.info() != Eigen::Success) recio::fail("the eigenvectors of the matrix do not converge");
    Eigen::MatrixXd Z(sub.rows(), static_cast<Eigen::Index>(which.size()));
    for (size_t j = 0; j < which.size(); ++j)
      Z.col(static_cast<Eigen::Index>(j)) = es.eigenvectors().col(which[j]);
    return Z;
  }

  Eigen::Tridiagonalization<Eigen::MatrixXd> tri_;
  Eigen::VectorXd d_, e_, lambda_;
};

}  // namespace

const char* kind_word(Kind k) {
  switch (k) {
    case Kind::RigidBody:
      return "rigid-body";
    case Kind::LeftOut:
      return "left-out-elements";
    case Kind::Collinear:
      return "collinear-bars";
    case Kind::Slack:
      return "slack-elements";
    case Kind::Unreached:
      return "unreached-node";
    case Kind::Mechanism:
      return "mechanism";
    default:
      return "unclassified";
  }
}

std::string direction_name(int32_t dir) {
  if (dir >= 1 && dir <= 3) return std::string(1, "XYZ"[dir - 1]);
  return std::to_string(dir);
}

MechanismReport analyse_mechanism(Model& m, const MechanismOptions& opt) {
  MechanismReport r;
  r.status = status_if_present();
  Matrix A;
  build_matrix(m, A);
  const int32_t n = A.order();
  const Geometry g = rebuild_positions(m);
  const Parts parts = find_parts(m, A);
  const Context cx{m, g, A, parts, opt};

  // The failing step of the program's factorization and the motion it reveals: with
  // P A = L U, the first k-1 columns of A are independent and column k is, to within the
  // failed pivot, a combination of them, x = (-U11^-1 u, 1, 0, ...).
  {
    Matrix LU;
    build_matrix(m, LU);
    const Factorization f = factor_as_the_program(m.c, LU);
    r.singular = !f.complete;
    r.KSTEP = f.KSTEP;
    if (r.singular) {
      const int32_t k = f.KSTEP;
      r.pivot = LU(k, k);
      const ConstMatrixView lu = view(std::as_const(LU));
      Eigen::VectorXd y = -lu.block(0, k - 1, k - 1, 1);
      lu.topLeftCorner(k - 1, k - 1).triangularView<Eigen::Upper>().solveInPlace(y);
      std::vector<double> x(static_cast<size_t>(n), 0.0);
      for (int32_t i = 0; i < k - 1; ++i) x[static_cast<size_t>(i)] = y(i);
      x[at(k)] = 1.0;
      r.failing = describe(cx, x, "");
      r.failing_residual =
          (view(A) * Eigen::Map<const Eigen::VectorXd>(r.failing->x.data(), n)).norm();
    }
  }

  r.parts = static_cast<int32_t>(parts.eqs.size());
  for (const auto& e : parts.eqs)
    r.largest_part = std::max<int32_t>(r.largest_part, static_cast<int32_t>(e.size()));
  using When = MechanismOptions::Eigen;
  if (opt.eigen == When::Never || (opt.eigen == When::WhenSingular && !r.singular)) return r;
  if (r.largest_part > opt.max_order) return r;

  // The eigenvalues part by part: the matrix is block diagonal over its parts.
  auto part_matrix = [&](size_t p) {
    const std::vector<int32_t>& eqs = parts.eqs[p];
    const Eigen::Index size = static_cast<Eigen::Index>(eqs.size());
    Eigen::MatrixXd sub(size, size);
    for (Eigen::Index i = 0; i < size; ++i) {
      for (Eigen::Index j = 0; j < size; ++j) {
        sub(i, j) = A(eqs[static_cast<size_t>(i)], eqs[static_cast<size_t>(j)]);
      }
    }
    return sub;
  };
  std::vector<PartSpectrum> spectra;
  spectra.reserve(parts.eqs.size());
  for (size_t p = 0; p < parts.eqs.size(); ++p) {
    spectra.emplace_back(part_matrix(p));
    r.largest_eigenvalue = std::max(r.largest_eigenvalue, spectra[p].largest_abs());
  }
  r.eigen_done = true;
  r.zero_limit = opt.zero * r.largest_eigenvalue;
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
    const Eigen::MatrixXd z = spectra[p].vectors(zero, part_matrix(p), r.zero_limit);
    readable_modes(cx, static_cast<int32_t>(p + 1), z, r.modes);
  }
  return r;
}

}  // namespace drav::audit
