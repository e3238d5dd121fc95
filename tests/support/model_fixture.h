// Small hand-built models in the program's own arrays, for the tests of the matrix generation
// and of the programs that read it.
#pragma once

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "params/compar.h"
#include "params/model_files.h"
#include "params/work.h"
#include "support/scratch.h"

namespace drav::testing {

struct Elem {
  int32_t ni = 0, nf = 0;
  std::vector<double> v;  // direction components; VMOD is their length
  int32_t ind = 0;
  double t = 0.0;
  float al0 = 1.0f;
  double yy = 1.0;
  float a0 = 1.0f;
  float s0 = 1.0f;
};

// A model of NNODE nodes with NDOFN directions and up to NEMAX elements a node. Add the
// elements (each is listed at both end nodes, in the order added), supports and springs, then
// call number() to set up LOC and NEQ as the driver's numbering does.
class Model {
 public:
  Model(int32_t nnode, int32_t ndofn, int32_t nemax, int32_t numel, int32_t nband) {
    c.NNODE = nnode;
    c.NDOFN = ndofn;
    c.NEMAX = nemax;
    c.NUMEL = numel;
    c.NBAND = nband;
    std::memset(c.LANG.data(), ' ', c.LANG.size());
    c.IBLK.allocate(int64_t{nnode} * ndofn);
    c.ELSUP.allocate(int64_t{nnode} * ndofn);
    W.NEI.allocate(int64_t{nnode} * nemax);
    W.NI.allocate(numel);
    W.NF.allocate(numel);
    W.A0.allocate(numel);
    W.S0.allocate(numel);
    W.V.allocate(int64_t{numel} * ndofn);
    W.VMOD.allocate(numel);
    W.YY.allocate(numel);
    W.T.allocate(numel);
    W.IND.allocate(numel);
    W.AL0.allocate(numel);
  }

  // Element e (from 1); listed in the first free slot of both end nodes unless `list` is false.
  void element(int32_t e, const Elem& x, bool list = true) {
    const int32_t k = e - 1;
    W.NI[k] = x.ni;
    W.NF[k] = x.nf;
    W.IND[k] = x.ind;
    W.T[k] = x.t;
    W.AL0[k] = x.al0;
    W.YY[k] = x.yy;
    W.A0[k] = x.a0;
    W.S0[k] = x.s0;
    double sq = 0.0;
    int32_t d = 0;
    for (double comp : x.v) {
      W.V[int64_t{k} * c.NDOFN + d++] = comp;
      sq += comp * comp;
    }
    W.VMOD[k] = std::sqrt(sq);
    if (list) {
      attach(x.ni, e);
      if (x.nf != x.ni) attach(x.nf, e);
    }
  }
  void attach(int32_t node, int32_t e) {
    for (int32_t j = 0; j < c.NEMAX; ++j) {
      int32_t& slot = W.NEI[int64_t{node - 1} * c.NEMAX + j];
      if (slot == 0) {
        slot = e;
        return;
      }
    }
  }
  void slot(int32_t node, int32_t j, int32_t e) { W.NEI[int64_t{node - 1} * c.NEMAX + j - 1] = e; }
  void block(int32_t node, int32_t dir) { c.IBLK[c.sup_index(node, dir)] = 1; }
  void spring(int32_t node, int32_t dir, float k) { c.ELSUP[c.sup_index(node, dir)] = k; }

  // Numbers the free directions as the program does (for_each_free_dof) into LOC and NEQ.
  void number() {
    const auto blocked = [&](int32_t n, int32_t d) { return c.iblk(n, d) != 0; };
    int32_t neq = 0;
    for_each_free_dof(c.NNODE, c.NDOFN, blocked, [&](int32_t, int32_t) { ++neq; });
    c.NEQ = neq;
    W.LOC.allocate(2 * int64_t{neq});
    int32_t k = 0;
    for_each_free_dof(c.NNODE, c.NDOFN, blocked, [&](int32_t n, int32_t d) {
      W.LOC[k] = n;
      W.LOC[neq + k] = d;
      ++k;
    });
  }
  // Equation of (node, dir), 0 when blocked.
  int32_t eq(int32_t node, int32_t dir) const {
    for (int32_t k = 1; k <= c.NEQ; ++k)
      if (W.loc_node(k) == node && W.loc_dir(k) == dir) return k;
    return 0;
  }

  COMPAR c;
  WorkArrays W;
};

}  // namespace drav::testing
