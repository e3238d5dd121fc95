// Pictures of a run as SVG: the structure with its zero-energy motions, and the nonzero
// pattern of the matrix and of the stored factors.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/audit/audit_mechanism.h"
#include "tools/audit/audit_model.h"

namespace drav::audit {

struct DrawOptions {
  int32_t max_modes = 12;  // mode panels at most (the failing step's motion counts as one)
  int labels = -1;         // node numbers: 1 always, 0 never, -1 up to 60 nodes
  MechanismOptions mechanism;
};

// The structure in the working directory: node positions rebuilt from V, bars coloured by
// state and as wide as their axial force, supports and springs marked; for a singular matrix
// the failing node ringed and, one small panel each, the motion at the failing step and the
// zero-energy modes as displaced shapes. Spatial models in a fixed oblique view. Notes that
// belong beside the picture (vectors that disagree around a loop, parts placed side by side)
// are added to `notes`.
void draw_model(Model& m, const DrawOptions& opt, std::ostream& svg,
                std::vector<std::string>& notes);

struct SpyOptions {
  int32_t max_cells = 256;  // cells a side at most; larger orders gather entries into cells
};

// The nonzero pattern of the rebuilt matrix and, for a finished run (status 0), of the stored
// factors, rows in the stored order; the half band NBAND marked on both.
void draw_spy(Model& m, const SpyOptions& opt, std::ostream& svg);

}  // namespace drav::audit
