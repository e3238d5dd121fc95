// The zero-energy modes of a part of the matrix in a basis an engineer can name. For the tool's
// own sources (it speaks Eigen).
#pragma once

#include <cstdint>
#include <vector>

#include "tools/audit/audit_classify.h"
#include "tools/audit/eigen_view.h"

namespace drav::audit {

// The modes spanned by the orthonormal columns of `zero` (over the equations of part `part`,
// from 1), described and appended to `out`: first the rigid-body motions that lie in the space
// (for a part that no element from outside holds): translations along each direction,
// rotations about the centre of its nodes and about its first supported nodes; then the rest
// of the space in vectors that each have 1 at an equation of their own and 0 at the others' (a
// reduced echelon form over equations chosen by a pivoted QR), which makes motions local
// wherever the space allows: a node that nothing holds gets a mode of its own.
void readable_modes(const MotionContext& cx, int32_t part, const Eigen::MatrixXd& zero,
                    std::vector<Motion>& out);

}  // namespace drav::audit
