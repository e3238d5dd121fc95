// Node positions of a model, rebuilt from the element vectors V. The model files hold no
// coordinates the program relies on, but V(e) is the vector from the first end node NI(e) to
// the second NF(e), so walking the elements from one node places every node it reaches.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/audit/audit_model.h"

namespace drav::audit {

struct Geometry {
  int32_t dims = 0;         // components of a position: NDOFN
  std::vector<double> pos;  // node by node, dims each; relative to the root of the node's part
  // Part of every node through the elements (any state), from 1 in the order of the parts'
  // smallest node; 0 for a node that no element reaches.
  std::vector<int32_t> part;
  std::vector<int32_t> root;  // root node of each part (index part-1): a fixed node if any
  int32_t parts = 0;
  // Elements outside the spanning trees whose V disagrees with the positions of their end
  // nodes (the model's vectors do not close around a loop), with the largest disagreement
  // relative to the element's |V|.
  std::vector<int32_t> disagreeing;
  double worst_mismatch = 0;
  // Elements whose end nodes are not nodes of the model (left out of the walk).
  std::vector<int32_t> unusable;

  bool placed(int32_t node) const { return part[static_cast<size_t>(node - 1)] != 0; }
  double x(int32_t node, int32_t d) const {
    return pos[static_cast<size_t>(node - 1) * static_cast<size_t>(dims) +
               static_cast<size_t>(d - 1)];
  }
};

// Relative disagreement above which an element's V counts as not closing its loop.
inline constexpr double kLoopTolerance = 1e-6;

// Walks each part breadth first from its root: the smallest node with a blocked direction
// (IBLK), else the smallest node of the part, placed at the origin.
Geometry rebuild_positions(const Model& m);

}  // namespace drav::audit
