// The element contribution to the system matrix: the springs of a node (ELASTIC) and one
// matrix entry (AA) from the states of the elements that meet at its nodes.
#pragma once

#include <cstdint>

#include "params/compar.h"
#include "params/work.h"

namespace drav {

// True when node NODE has a nonzero (or NaN) elastic support value in some direction
// 1..NDOFN; false when NDOFN <= 0.
bool ELASTIC(const COMPAR& c, int32_t NODE);

// Entry (I,J) of the system matrix: 0.0 unless I <= J <= I+NBAND-1. For two equations of one
// node, the sum of the terms of every connected element with state >= 0, minus the node's
// spring once per connected element (any state) when the directions agree. For two nodes, the
// negated term of the first element in NODEI's list that joins them with state >= 0, the loop
// stopping there (so springs subtracted for earlier negative-state elements are discarded).
//
// The element list of NODEI is read in place from W.NEI (W.IEL is not used). The inputs must be in
// range (check_model): I and J in 1..NEQ, the nodes and directions of LOC inside the model, element
// numbers of the list in 0..NUMEL. Divisions by VMOD and S0 are not guarded: a zero gives an
// infinite or NaN entry (see check_finite).
double AA(const COMPAR& c, const WorkArrays& W, int32_t I, int32_t J);

}  // namespace drav
