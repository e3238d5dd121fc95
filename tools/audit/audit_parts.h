// The connected parts of a stiffness matrix: nodes joined by a nonzero entry between their
// equations. The matrix is block diagonal over its parts, so each has a spectrum of its own,
// and a part that nothing holds can move as a rigid body.
#pragma once

#include <cstdint>
#include <vector>

#include "params/work.h"
#include "tools/audit/audit_model.h"

namespace drav::audit {

struct Parts {
  std::vector<int32_t> of_node;             // part of each node (from 1), 0 without equations
  std::vector<std::vector<int32_t>> eqs;    // equations of each part, ascending
  std::vector<std::vector<int32_t>> nodes;  // nodes of each part, ascending
  std::vector<bool> supported;              // a blocked direction or a working spring at a node
  std::vector<bool> linked;  // an active element to a node outside, which holds it too
};

// A blocked direction at the node, or a spring that acts there (a spring acts once for every
// element that meets the node, so only where one does).
bool node_supported(const Model& m, int32_t node);

// The parts of A (the model's matrix, entries beyond the half band NBAND never looked at).
Parts find_parts(const Model& m, const Matrix& A);

}  // namespace drav::audit
