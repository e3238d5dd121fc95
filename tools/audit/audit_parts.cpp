#include "tools/audit/audit_parts.h"

#include <algorithm>
#include <numeric>

#include "assembly/element.h"

namespace drav::audit {

namespace {

// The root of n's set, halving the path on the way.
int32_t find(std::vector<int32_t>& up, int32_t n) {
  while (up[at(n)] != n) {
    up[at(n)] = up[at(up[at(n)])];
    n = up[at(n)];
  }
  return n;
}

// The root node of every node: nodes joined by a nonzero entry between their equations share
// one, the smallest of them.
std::vector<int32_t> joined_nodes(const Model& m, const Matrix& A) {
  const int32_t n = A.order(), nn = std::max(m.c.NNODE, 0);
  std::vector<int32_t> up(static_cast<size_t>(nn));
  std::iota(up.begin(), up.end(), 1);
  const int32_t band = std::max(m.c.NBAND, 0);
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(n, int64_t{i} + band - 1));
    for (int32_t j = i + 1; j <= last; ++j) {
      if (A(i, j) != 0.0) {
        const int32_t a = find(up, m.W.loc_node(i)), b = find(up, m.W.loc_node(j));
        if (a != b) up[at(std::max(a, b))] = std::min(a, b);
      }
    }
  }
  return up;
}

// An element that carries stiffness from a part to a node outside it holds the part as a
// support would (its term enters the part's diagonal only): a fixed node, or another part.
void mark_linked(const Model& m, Parts& p) {
  const int32_t nn = std::max(m.c.NNODE, 0);
  for (int32_t e = 1; e <= m.c.NUMEL; ++e) {
    const int32_t a = m.W.NI[e - 1], b = m.W.NF[e - 1], ind = m.W.IND[e - 1];
    if (a < 1 || a > nn || b < 1 || b > nn || ind < 0 || (ind > 0 && m.W.T[e - 1] == 0.0)) {
      continue;
    }
    const int32_t pa = p.of_node[at(a)], pb = p.of_node[at(b)];
    if (pa == pb) continue;
    if (pa != 0) p.linked[at(pa)] = true;
    if (pb != 0) p.linked[at(pb)] = true;
  }
}

}  // namespace

bool node_supported(const Model& m, int32_t node) {
  const COMPAR& c = m.c;
  for (int32_t d = 1; d <= c.NDOFN; ++d) {
    if (c.iblk(node, d) != 0) return true;
  }
  return ELASTIC(c, node) && !elements_ending_at(m, node).empty();
}

Parts find_parts(const Model& m, const Matrix& A) {
  std::vector<int32_t> up = joined_nodes(m, A);
  const size_t nn = up.size();
  Parts p;
  p.of_node.assign(nn, 0);
  std::vector<int32_t> part_of_root(nn, 0);
  for (int32_t k = 1; k <= A.order(); ++k) {
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
  mark_linked(m, p);
  return p;
}

}  // namespace drav::audit
