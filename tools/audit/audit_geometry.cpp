#include "tools/audit/audit_geometry.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace drav::audit {

namespace {

bool fixed_somewhere(const COMPAR& c, int32_t node) {
  for (int32_t d = 1; d <= c.NDOFN; ++d) {
    if (c.iblk(node, d) != 0) return true;
  }
  return false;
}

}  // namespace

Geometry rebuild_positions(const Model& m) {
  const COMPAR& c = m.c;
  const WorkArrays& W = m.W;
  Geometry g;
  g.dims = std::max(c.NDOFN, 0);
  const int32_t nn = std::max(c.NNODE, 0), ne = std::max(c.NUMEL, 0);
  const size_t dims = static_cast<size_t>(g.dims);
  g.pos.assign(static_cast<size_t>(nn) * dims, 0.0);
  g.part.assign(static_cast<size_t>(nn), 0);

  // Node to element adjacency from the end nodes (the incidence lists may leave slots empty).
  std::vector<std::vector<int32_t>> at(static_cast<size_t>(nn));
  auto valid = [&](int32_t n) { return n >= 1 && n <= nn; };
  for (int32_t e = 1; e <= ne; ++e) {
    const int32_t a = W.NI[e - 1], b = W.NF[e - 1];
    if (!valid(a) || !valid(b)) {
      g.unusable.push_back(e);
      continue;
    }
    at[static_cast<size_t>(a - 1)].push_back(e);
    if (b != a) at[static_cast<size_t>(b - 1)].push_back(e);
  }
  auto v = [&](int32_t e, size_t d) { return W.V[static_cast<int64_t>(e - 1) * g.dims + d]; };

  // Parts first (so that the root can be a fixed node), then the walk from each root.
  for (int32_t start = 1; start <= nn; ++start) {
    if (g.part[static_cast<size_t>(start - 1)] != 0 || at[static_cast<size_t>(start - 1)].empty()) {
      continue;
    }
    const int32_t p = ++g.parts;
    std::deque<int32_t> queue{start};
    g.part[static_cast<size_t>(start - 1)] = p;
    while (!queue.empty()) {
      const int32_t n = queue.front();
      queue.pop_front();
      for (int32_t e : at[static_cast<size_t>(n - 1)]) {
        for (int32_t o : {W.NI[e - 1], W.NF[e - 1]}) {
          if (g.part[static_cast<size_t>(o - 1)] == 0) {
            g.part[static_cast<size_t>(o - 1)] = p;
            queue.push_back(o);
          }
        }
      }
    }
    // The smallest fixed node of the part, else its smallest node.
    int32_t root = 0;
    for (int32_t n = start; n <= nn && root == 0; ++n) {
      if (g.part[static_cast<size_t>(n - 1)] == p && fixed_somewhere(c, n)) root = n;
    }
    g.root.push_back(root != 0 ? root : start);
  }

  std::vector<bool> done(static_cast<size_t>(nn), false);
  std::vector<bool> tree(static_cast<size_t>(ne), false);
  for (int32_t root : g.root) {
    std::deque<int32_t> queue{root};
    done[static_cast<size_t>(root - 1)] = true;
    while (!queue.empty()) {
      const int32_t n = queue.front();
      queue.pop_front();
      for (int32_t e : at[static_cast<size_t>(n - 1)]) {
        const int32_t a = W.NI[e - 1], b = W.NF[e - 1];
        const int32_t o = a == n ? b : a;
        if (done[static_cast<size_t>(o - 1)]) continue;
        // x(NF) = x(NI) + V.
        const double sign = o == b ? 1.0 : -1.0;
        for (size_t d = 0; d < dims; ++d) {
          g.pos[static_cast<size_t>(o - 1) * dims + d] =
              g.pos[static_cast<size_t>(n - 1) * dims + d] + sign * v(e, d);
        }
        done[static_cast<size_t>(o - 1)] = true;
        tree[static_cast<size_t>(e - 1)] = true;
        queue.push_back(o);
      }
    }
  }

  // The elements that close loops: does their V agree with the positions?
  for (int32_t e = 1; e <= ne; ++e) {
    if (tree[static_cast<size_t>(e - 1)]) continue;
    const int32_t a = W.NI[e - 1], b = W.NF[e - 1];
    if (!valid(a) || !valid(b)) continue;
    double diff = 0, len = 0;
    for (size_t d = 0; d < dims; ++d) {
      const double gap = g.pos[static_cast<size_t>(b - 1) * dims + d] -
                         g.pos[static_cast<size_t>(a - 1) * dims + d] - v(e, d);
      diff += gap * gap;
      len += v(e, d) * v(e, d);
    }
    diff = std::sqrt(diff);
    len = std::sqrt(len);
    const double rel = len > 0 ? diff / len : diff;
    if (!(rel <= kLoopTolerance)) {
      g.disagreeing.push_back(e);
      g.worst_mismatch = std::isnan(rel) ? rel : std::max(g.worst_mismatch, rel);
    }
  }
  return g;
}

}  // namespace drav::audit
