// Generation of the system (tangent stiffness) matrix: the element contributions (AA,
// assembly/element.h) of every pair of equations inside the band, and the checks of the model
// arrays before and of the entries after. The report of the matrix: assembly/stiffness_report.h.
#pragma once

#include <cstdint>
#include <string>

#include "params/compar.h"
#include "params/upper_rows.h"
#include "params/work.h"

namespace drav {

// Ends the run with a fatal report when the model arrays do not fit what AA and GENLU read:
// A is not NEQ x NEQ, LOC is short or names a node or direction outside the model, the element
// list of an equation's node is short or names an element outside 1..NUMEL, or an element
// or support array is shorter than the model sizes say. Generation calls it first.
void check_model(const COMPAR& c, const WorkArrays& W, const Matrix& A);

// The generation in compact form: check_model first (A only tells the order the matrix has),
// then the upper triangle inside the band, row by row, with every entry that is not +0.0:
// entry (I,J) = AA(I,J) for I <= J < I+NBAND. AA is asked only for the pairs whose nodes are
// the same or joined by an element of NODEI's list; every other entry is +0.0 (see the
// reasoning at the definition).
UpperRows generate_upper(const COMPAR& c, const WorkArrays& W, const Matrix& A);

// The generation alone, without the report, as a dense matrix (used to rebuild a matrix).
// Fills A (NEQ x NEQ) with the symmetric band matrix: A(I,J) = AA(min(I,J), max(I,J)) when
// |I-J| < NBAND, 0.0 otherwise, the lower triangle an exact copy of the upper.
void generate_matrix(const COMPAR& c, const WorkArrays& W, Matrix& A);

// generate_matrix, then the stiffness report (WRITESTIFFNESSMATRIX).
void GENLU(const COMPAR& c, const WorkArrays& W, Matrix& A);

// Ends the run with a fatal report when an entry of the upper triangle of A is not a finite
// number (for example an active element of zero length), naming the first such entry in row
// order: its equations with their nodes and directions. Called after the report, before the
// factorization.
void check_finite(const COMPAR& c, const WorkArrays& W, const Matrix& A);

// The message check_finite would end the run with for the matrix of U, or "" when every entry
// is finite (the caller decides when to report it).
std::string first_non_finite(const WorkArrays& W, const UpperRows& U);

}  // namespace drav
