#include "tools/audit/audit_classify.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "driver/results.h"
#include "tools/audit/eigen_view.h"

namespace drav::audit {

namespace {

// Below this fraction of a motion's largest component an entry is rounding noise of the basis
// change, and is set to zero so that the nodes a motion really leaves alone are not listed.
constexpr double kNoise = 1e-11;

// The displacement of every node: NDOFN components, 0 in blocked directions.
using NodeMotion = std::vector<std::vector<double>>;

// One element as the classification sees it.
struct Bar {
  bool usable = false;  // both end nodes are nodes of the model
  int32_t ni = 0, nf = 0, ind = 0;
  std::vector<double> dir;  // V / VMOD (empty when VMOD is 0)
  double t = 0;
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
  b.t = W.T[e - 1];
  return b;
}

// An element that adds stiffness: elastic, or force-only with a force.
bool carries(const Bar& b) {
  return b.ind == 0 || (b.ind > 0 && b.t != 0.0);
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) s += a[i] * b[i];
  return s;
}

double length(const std::vector<double>& a) {
  return std::sqrt(dot(a, a));
}

NodeMotion node_motion(const Model& m, const std::vector<double>& x) {
  NodeMotion u(static_cast<size_t>(std::max(m.c.NNODE, 0)),
               std::vector<double>(static_cast<size_t>(m.c.NDOFN), 0.0));
  for (int32_t k = 1; k <= static_cast<int32_t>(x.size()); ++k) {
    u[at(m.W.loc_node(k))][at(m.W.loc_dir(k))] = x[at(k)];
  }
  return u;
}

// The largest displacement of the given nodes.
double largest_move(const NodeMotion& u, const std::vector<int32_t>& nodes) {
  double umax = 0;
  for (int32_t n : nodes) umax = std::max(umax, length(u[at(n)]));
  return umax;
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

const char* are(const std::vector<int32_t>& v) {
  return v.size() == 1 ? " is" : " are";
}

// The motion of node n under the rotation omega about `centre`: in a plane one angle, in
// space the vector omega x r.
Eigen::VectorXd rotation_at(const MotionContext& cx, int32_t n, const Eigen::VectorXd& centre,
                            const Eigen::VectorXd& omega) {
  const int32_t dims = cx.m.c.NDOFN;
  Eigen::VectorXd r(dims);
  for (int32_t d = 0; d < dims; ++d) r(d) = cx.g.x(n, d + 1) - centre(d);
  Eigen::VectorXd v = Eigen::VectorXd::Zero(dims);
  if (dims == 2) {
    v << -omega(0) * r(1), omega(0) * r(0);
  } else if (dims == 3) {
    v = Eigen::Vector3d(omega(0), omega(1), omega(2)).cross(Eigen::Vector3d(r(0), r(1), r(2)));
  }
  return v;
}

// The rotation w (nrot components) that best gives u - t over the nodes, by least squares on
// the rotation fields of the unit rotations; zero where it moves nothing (every node on the
// axis).
Eigen::VectorXd fit_rotation(const MotionContext& cx, const NodeMotion& u,
                             const std::vector<int32_t>& nodes, const Eigen::VectorXd& t,
                             const Eigen::VectorXd& centre, int32_t nrot, double umax) {
  const int32_t dims = cx.m.c.NDOFN;
  Eigen::VectorXd w = Eigen::VectorXd::Zero(nrot);
  if (nrot == 0) return w;
  Eigen::MatrixXd M(static_cast<Eigen::Index>(nodes.size()) * dims, nrot);
  Eigen::VectorXd rhs(M.rows());
  for (size_t i = 0; i < nodes.size(); ++i) {
    for (int32_t k = 0; k < nrot; ++k) {
      M.block(static_cast<Eigen::Index>(i) * dims, k, dims, 1) =
          rotation_at(cx, nodes[i], centre, Eigen::VectorXd::Unit(nrot, k));
    }
    for (int32_t d = 0; d < dims; ++d) {
      rhs(static_cast<Eigen::Index>(i) * dims + d) = u[at(nodes[i])][static_cast<size_t>(d)] - t(d);
    }
  }
  w = M.completeOrthogonalDecomposition().solve(rhs);
  if (!((M * w).norm() > kGeometric * umax)) w.setZero();
  return w;
}

// The name of the rigid-body motion of translation t and rotation w.
std::string rigid_words(const Eigen::VectorXd& t, const Eigen::VectorXd& w, double umax) {
  const Eigen::Index nrot = w.size();
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
  for (Eigen::Index d = 0; d < t.size(); ++d) {
    if (std::fabs(t(d)) >= (1 - kGeometric) * t.norm()) {
      return "translation " + direction_name(static_cast<int32_t>(d) + 1);
    }
  }
  return "translation";
}

// The rigid-body fit of u over the nodes of the given parts: when u is a translation plus a
// rotation about the parts' centre of nodes, the name of the motion, else "".
std::string rigid_name(const MotionContext& cx, const NodeMotion& u,
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
  const double umax = largest_move(u, nodes);
  if (umax == 0) return "";
  const int32_t nrot = dims == 2 ? 1 : dims == 3 ? 3 : 0;
  const Eigen::VectorXd w = fit_rotation(cx, u, nodes, t, centre, nrot, umax);
  for (int32_t n : nodes) {
    const Eigen::VectorXd fit = t + rotation_at(cx, n, centre, w);
    for (int32_t d = 0; d < dims; ++d) {
      if (!(std::fabs(fit(d) - u[at(n)][static_cast<size_t>(d)]) <= kGeometric * umax)) return "";
    }
  }
  return rigid_words(t, w, umax);
}

// What a motion does to the elements at its moving nodes.
struct BarEffects {
  std::vector<int32_t> left_out;   // left out, but changed in length
  std::vector<int32_t> slack;      // force-only without force, but moved
  std::vector<int32_t> stretched;  // elastic and changed in length
  std::vector<int32_t> active;     // adding stiffness
};

BarEffects bar_effects(const Model& m, const NodeMotion& u, const Motion& mo, double tol) {
  BarEffects fx;
  for (int32_t e : mo.elements) {
    const Bar b = bar_of(m, e);
    if (!b.usable) continue;
    std::vector<double> rel(u[at(b.nf)]);
    for (size_t d = 0; d < rel.size(); ++d) rel[d] -= u[at(b.ni)][d];
    const bool changes = !b.dir.empty() && std::fabs(dot(b.dir, rel)) > tol;
    if (b.ind < 0) {
      if (changes) fx.left_out.push_back(e);
    } else if (!carries(b)) {
      if (length(rel) > tol) fx.slack.push_back(e);
    } else {
      fx.active.push_back(e);
      if (b.ind == 0 && changes) fx.stretched.push_back(e);
    }
  }
  return fx;
}

// Nodes where the active bars lie on one line and the node moves across it.
void add_collinear(const Model& m, const NodeMotion& u, const std::vector<int32_t>& active,
                   double tol, Motion& mo) {
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
      mo.reasons.push_back({MotionKind::Collinear,
                            node_list(on_line, "bar", "bars") + " meet at node " +
                                std::to_string(n) +
                                " on one line: nothing holds it across that line",
                            {n},
                            on_line});
    }
  }
}

// Why the active bars do not hold the motion: they change length and yet add nothing, several
// nodes move as a mechanism, or a single node is not reached.
void add_unheld(const BarEffects& fx, const std::string& moving, Motion& mo) {
  const bool one = mo.nodes.size() == 1;
  if (!fx.stretched.empty()) {
    mo.reasons.push_back({MotionKind::Unclassified,
                          "zero stiffness although " + node_list(fx.stretched, "bar", "bars") +
                              " change length: their axial stiffness and force terms cancel",
                          {},
                          fx.stretched});
  } else if (!one) {
    mo.reasons.push_back(
        {MotionKind::Mechanism, "no active bar at the moving nodes changes its length", {}, {}});
  } else if (mo.elements.empty()) {
    mo.reasons.push_back({MotionKind::Unreached, "no element meets " + moving, mo.nodes, {}});
  } else if (fx.active.empty()) {
    mo.reasons.push_back(
        {MotionKind::Unreached, "no active element reaches " + moving, mo.nodes, {}});
  } else {
    mo.reasons.push_back({MotionKind::Unreached,
                          "no active element holds " + moving + " in this direction", mo.nodes,
                          fx.active});
  }
}

// The classification of a motion that is not a rigid-body motion, from what it does to the
// elements at the moving nodes: which would change length, which carry nothing, which lie on
// one line.
void classify(const MotionContext& cx, const NodeMotion& u, Motion& mo) {
  const bool one = mo.nodes.size() == 1;
  const std::string moving = one ? "node " + std::to_string(mo.nodes[0]) : "this motion";
  const double tol = kGeometric * largest_move(u, mo.nodes);
  const BarEffects fx = bar_effects(cx.m, u, mo, tol);
  if (!fx.left_out.empty()) {
    mo.reasons.push_back({MotionKind::LeftOut,
                          node_list(fx.left_out, "element", "elements") + are(fx.left_out) +
                              " in a negative state (left out of the matrix) but would have held " +
                              moving + (one ? " in this direction" : ": it changes their length"),
                          {},
                          fx.left_out});
  }
  add_collinear(cx.m, u, fx.active, tol, mo);
  if (!fx.slack.empty()) {
    mo.reasons.push_back({MotionKind::Slack,
                          node_list(fx.slack, "element", "elements") + are(fx.slack) +
                              " in the force-only state with zero force (slack) and add no "
                              "stiffness " +
                              (one ? "at " : "against ") + moving,
                          {},
                          fx.slack});
  }
  add_unheld(fx, moving, mo);
}

// Scales x to length 1 with its largest component positive, rounding noise set to 0; false
// when it has no finite largest component (x is left as it is).
bool scale(std::vector<double>& x) {
  double big = 0;
  size_t where = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::fabs(x[i]) > big) {
      big = std::fabs(x[i]);
      where = i;
    }
  }
  if (big == 0 || !std::isfinite(big)) return false;
  const double sign = x[where] < 0 ? -1.0 : 1.0;
  for (double& v : x) {
    if (std::fabs(v) <= kNoise * big) v = 0.0;
    v *= sign;
  }
  const double norm = std::sqrt(std::inner_product(x.begin(), x.end(), x.begin(), 0.0));
  for (double& v : x) v /= norm;
  return true;
}

// The moves largest share first, those below the smallest share listed summed apart, and the
// nodes they move.
void list_moves(const MotionContext& cx, const std::vector<int32_t>& support, Motion& mo) {
  std::vector<Move> all;
  for (int32_t k : support) {
    const double v = mo.x[at(k)];
    all.push_back({k, cx.m.W.loc_node(k), cx.m.W.loc_dir(k), v, v * v});
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
    for (int32_t e : elements_ending_at(cx.m, n)) mo.elements.push_back(e);
  }
  std::sort(mo.elements.begin(), mo.elements.end());
  mo.elements.erase(std::unique(mo.elements.begin(), mo.elements.end()), mo.elements.end());
}

// A rigid-body motion of whole parts that no element outside holds (a part without supports,
// or one whose supports allow the motion: all on one line, say) is named as one; any other
// motion is classified by what it does to the elements.
void add_reasons(const MotionContext& cx, const NodeMotion& u, const std::string& rigid_hint,
                 Motion& mo) {
  if (mo.nodes.size() == 1) return classify(cx, u, mo);
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
    part_nodes.insert(part_nodes.end(), cx.parts.nodes[at(p)].begin(), cx.parts.nodes[at(p)].end());
  }
  std::sort(part_nodes.begin(), part_nodes.end());
  mo.rigid = closed ? (rigid_hint.empty() ? rigid_name(cx, u, part_nodes) : rigid_hint) : "";
  if (mo.rigid.empty()) return classify(cx, u, mo);
  const bool whole = touched.size() == cx.parts.eqs.size();
  const std::string held = supported ? "its supports do not hold it" : "no support holds it";
  mo.reasons.push_back(
      {MotionKind::RigidBody,
       mo.rigid + " of " +
           (whole ? "the whole structure: " + held
                  : node_list(part_nodes, "node", "the part of nodes") + ": " + held),
       part_nodes,
       {}});
}

}  // namespace

Motion describe_motion(const MotionContext& cx, std::vector<double> x,
                       const std::string& rigid_hint) {
  Motion mo;
  const bool scaled = scale(x);
  mo.x = std::move(x);
  if (!scaled) return mo;
  // The energy from the entries that move only (the motions are mostly local).
  std::vector<int32_t> support;
  for (int32_t k = 1; k <= static_cast<int32_t>(mo.x.size()); ++k) {
    if (mo.x[at(k)] != 0.0) support.push_back(k);
  }
  for (int32_t i : support) {
    for (int32_t j : support) mo.energy += mo.x[at(i)] * cx.A(i, j) * mo.x[at(j)];
  }
  list_moves(cx, support, mo);
  add_reasons(cx, node_motion(cx.m, mo.x), rigid_hint, mo);
  // The classification is the first reason in the order of the kinds.
  std::stable_sort(mo.reasons.begin(), mo.reasons.end(),
                   [](const Reason& a, const Reason& b) { return a.kind < b.kind; });
  if (!mo.reasons.empty()) mo.classification = mo.reasons.front().kind;
  return mo;
}

}  // namespace drav::audit
