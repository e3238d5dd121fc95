// The assembly of the system matrix from the element contributions, and the checks around it.
#include "assembly/genlu.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "assembly/element.h"
#include "assembly/stiffness_report.h"
#include "recio/fatal.h"

namespace drav {

namespace {

std::string eq_text(const WorkArrays& W, int32_t k) {
  return "equation " + std::to_string(k) + ", node " + std::to_string(W.loc_node(k)) +
         ", direction " + std::to_string(W.loc_dir(k));
}

std::string value_text(double v) {
  if (std::isnan(v)) return "NaN";
  return v > 0 ? "Infinity" : "-Infinity";
}

// Fails when `arr` holds fewer than `need` entries.
template <class T>
void need_size(const ZArray<T>& arr, int64_t need, const char* name) {
  if (need > 0 && arr.size() < need) {
    recio::fail(std::string("matrix generation: array ") + name + " holds " +
                std::to_string(arr.size()) + " entries, the model needs " + std::to_string(need));
  }
}

}  // namespace

void check_model(const COMPAR& c, const WorkArrays& W, const Matrix& A) {
  const int32_t NEQ = std::max(c.NEQ, 0);
  if (A.order() != NEQ) {
    recio::fail("matrix generation: the matrix has order " + std::to_string(A.order()) +
                ", the model has " + std::to_string(NEQ) + " equations");
  }
  if (NEQ == 0) return;

  const int64_t NNODE = std::max(c.NNODE, 0), NDOFN = std::max(c.NDOFN, 0);
  const int64_t NUMEL = std::max(c.NUMEL, 0), NEMAX = std::max(c.NEMAX, 0);
  need_size(W.LOC, 2 * static_cast<int64_t>(NEQ), "LOC");
  need_size(W.NEI, NNODE * NEMAX, "NEI");
  need_size(c.ELSUP, NNODE * NDOFN, "ELSUP");
  need_size(W.NI, NUMEL, "NI");
  need_size(W.NF, NUMEL, "NF");
  need_size(W.IND, NUMEL, "IND");
  need_size(W.A0, NUMEL, "A0");
  need_size(W.S0, NUMEL, "S0");
  need_size(W.AL0, NUMEL, "AL0");
  need_size(W.VMOD, NUMEL, "VMOD");
  need_size(W.YY, NUMEL, "YY");
  need_size(W.T, NUMEL, "T");
  need_size(W.V, NUMEL * NDOFN, "V");

  for (int32_t k = 1; k <= NEQ; ++k) {
    const int32_t n = W.loc_node(k), d = W.loc_dir(k);
    if (n < 1 || n > NNODE || d < 1 || d > NDOFN) {
      recio::fail("matrix generation: equation " + std::to_string(k) + " has node " +
                  std::to_string(n) + ", direction " + std::to_string(d) + ", outside the " +
                  std::to_string(NNODE) + " nodes and " + std::to_string(NDOFN) +
                  " directions of the model");
    }
    // Only the lists of nodes that carry an equation are ever read.
    const int32_t* list = W.NEI.data() + (n - 1) * NEMAX;
    for (int64_t j = 0; j < NEMAX; ++j) {
      if (list[j] < 0 || list[j] > NUMEL) {
        recio::fail("matrix generation: node " + std::to_string(n) + ", slot " +
                    std::to_string(j + 1) + " of the node-element list names element " +
                    std::to_string(list[j]) + ", outside 1.." + std::to_string(NUMEL));
      }
    }
  }
}

namespace {

// The equations of every node, ascending: node n (from 1) has eq[first[n-1] .. first[n]-1].
struct NodeEquations {
  std::vector<int64_t> first;
  std::vector<int32_t> eq;
};

NodeEquations equations_by_node(const COMPAR& c, const WorkArrays& W, int32_t NEQ) {
  const int64_t NNODE = std::max(c.NNODE, 0);
  NodeEquations r;
  r.first.assign(static_cast<size_t>(NNODE) + 1, 0);
  for (int32_t k = 1; k <= NEQ; ++k) ++r.first[static_cast<size_t>(W.loc_node(k))];
  for (int64_t n = 1; n <= NNODE; ++n) r.first[n] += r.first[n - 1];
  r.eq.resize(static_cast<size_t>(NEQ));
  std::vector<int64_t> fill(r.first.begin(), r.first.end() - 1);
  for (int32_t k = 1; k <= NEQ; ++k) r.eq[fill[W.loc_node(k) - 1]++] = k;
  return r;
}

inline bool is_plus_zero(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u == 0;
}

}  // namespace

// Why only the pairs of joined nodes are asked for: AA(I,J) starts RES at +0.0 and changes it
// only for an element of NODEI's list that passes its connection test, that is, an element
// with NODEI as an end and NODEJ equal to NODEI or to one of its ends. When NODEJ is another
// node and no element of NODEI's list joins the two, RES is returned as the +0.0 it started
// as, and that is the entry. The pairs that are asked for go through AA itself, unchanged, so
// every entry is the one a call for each pair of the band would give.
UpperRows generate_upper(const COMPAR& c, const WorkArrays& W, const Matrix& A) {
  check_model(c, W, A);
  const int32_t NEQ = std::max(c.NEQ, 0);
  const int64_t NB = c.NBAND;
  UpperRows U;
  U.start.reserve(static_cast<size_t>(NEQ) + 1);
  const NodeEquations by_node = equations_by_node(c, W, NEQ);

  // The equations of NODEI and of the nodes its elements join it to, ascending; the same for
  // every equation of one node, so kept while the node stays the same.
  std::vector<int32_t> cand;
  int32_t cand_node = 0;
  auto add_node = [&](int32_t n) {
    for (int64_t p = by_node.first[n - 1]; p < by_node.first[n]; ++p) cand.push_back(by_node.eq[p]);
  };
  for (int32_t I = 1; I <= NEQ; ++I) {
    const int32_t NODEI = W.loc_node(I);
    if (NODEI != cand_node) {
      cand.clear();
      add_node(NODEI);
      const int32_t* list = W.NEI.data() + static_cast<int64_t>(NODEI - 1) * c.NEMAX;
      for (int32_t KE = 0; KE < c.NEMAX; ++KE) {
        const int32_t IE = list[KE];
        if (IE == 0) continue;
        const int32_t NIE = W.NI[IE - 1], NFE = W.NF[IE - 1];
        if (NODEI != NIE && NODEI != NFE) continue;  // not an element of this node: skipped
        // Ends outside the model never carry an equation (check_model keeps LOC inside it).
        for (int32_t end : {NIE, NFE})
          if (end != NODEI && end >= 1 && end <= c.NNODE) add_node(end);
      }
      std::sort(cand.begin(), cand.end());
      cand.erase(std::unique(cand.begin(), cand.end()), cand.end());
      cand_node = NODEI;
    }
    const int64_t hi = std::min<int64_t>(NEQ, I + NB - 1);
    for (auto it = std::lower_bound(cand.begin(), cand.end(), I); it != cand.end() && *it <= hi;
         ++it) {
      const double v = AA(c, W, I, *it);
      if (!is_plus_zero(v)) U.add(*it, v);
    }
    U.end_row();
  }
  return U;
}

void generate_matrix(const COMPAR& c, const WorkArrays& W, Matrix& A) {
  generate_upper(c, W, A).scatter(A);
}

void GENLU(const COMPAR& c, const WorkArrays& W, Matrix& A) {
  generate_matrix(c, W, A);
  WRITESTIFFNESSMATRIX(c, A);
}

namespace {

std::string non_finite_text(const WorkArrays& W, int32_t I, int32_t J, double v) {
  std::string msg = "stiffness matrix entry (" + std::to_string(I) + "," + std::to_string(J) +
                    ") is " + value_text(v) + ": " + eq_text(W, I);
  if (J != I) msg += "; column " + eq_text(W, J);
  msg += " (an active element of zero length or zero reference length?)";
  return msg;
}

}  // namespace

void check_finite(const COMPAR& c, const WorkArrays& W, const Matrix& A) {
  const int32_t NEQ = std::min(std::max(c.NEQ, 0), A.order());
  for (int32_t I = 1; I <= NEQ; ++I) {
    const double* row = A.row(I);
    for (int32_t J = I; J <= NEQ; ++J) {
      const double v = row[J - 1];
      if (!std::isfinite(v)) recio::fail(non_finite_text(W, I, J, v));
    }
  }
}

std::string first_non_finite(const WorkArrays& W, const UpperRows& U) {
  for (int32_t I = 1; I <= U.n; ++I)
    for (int64_t e = U.row_begin(I); e < U.row_end(I); ++e)
      if (!std::isfinite(U.val[e])) return non_finite_text(W, I, U.col[e], U.val[e]);
  return {};
}

}  // namespace drav
