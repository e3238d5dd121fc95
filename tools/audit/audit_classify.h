// One motion of the structure (a vector over the equations) as the mechanism analysis
// describes it: scaled, its moves, the elements at the moving nodes, and what kind of motion it
// is. For the tool's own sources.
#pragma once

#include <string>
#include <vector>

#include "params/work.h"
#include "tools/audit/audit_geometry.h"
#include "tools/audit/audit_mechanism.h"
#include "tools/audit/audit_parts.h"

namespace drav::audit {

// Relative tolerance of the geometric tests: a rigid-body fit, a bar's change of length, a
// direction across a bar, two parallel bars; and of a rigid-body motion lying in a zero space.
inline constexpr double kGeometric = 1e-6;

// Everything the description of a motion needs.
struct MotionContext {
  const Model& m;
  const Geometry& g;
  const Matrix& A;
  const Parts& parts;
  const MechanismOptions& opt;
};

// The motion x scaled to length 1 with its largest component positive (entries below 1e-11 of
// the largest set to 0), its energy x^T A x, the moves down to the smallest share listed, the
// moving nodes and the elements that end there, and its classification with every reason that
// applies. `rigid_hint` names a motion known to be rigid ("" to find out).
Motion describe_motion(const MotionContext& cx, std::vector<double> x,
                       const std::string& rigid_hint);

}  // namespace drav::audit
