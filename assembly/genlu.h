// Generation of the system (tangent stiffness) matrix from the element states and the
// supports, and the stiffness matrix report.
#pragma once

#include <cstdint>

#include "params/compar.h"
#include "params/work.h"

namespace drav {

// True when node NODE has a nonzero (or NaN) elastic support value in some direction.
bool ELASTIC(const COMPAR& c, int32_t NODE);

// Entry (I,J) of the system matrix; 0.0 outside the upper half band. Refills W.IEL.
double AA(const COMPAR& c, WorkArrays& W, int32_t I, int32_t J);

// Fills A (NEQ x NEQ) with the symmetric band matrix and writes the stiffness report.
void GENLU(const COMPAR& c, WorkArrays& W, Matrix& A);

// Writes the stiffness report "rig-case<n>.dat" for the load case read from temp.dat.
void WRITESTIFFNESSMATRIX(const COMPAR& c, const Matrix& A);

}  // namespace drav
