// Generation of the system (tangent stiffness) matrix from the element states and the
// supports, and the stiffness matrix report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "params/compar.h"
#include "params/upper_rows.h"
#include "params/work.h"
#include "recio/textio.h"

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
// The element list of NODEI is read in place from W.NEI; W.IEL is not used and W is not
// changed. The inputs must be in range (check_model): I and J in 1..NEQ, the nodes and
// directions of LOC inside the model, element numbers of the list in 0..NUMEL. Divisions by
// VMOD and S0 are not guarded: a zero gives an infinite or NaN entry (see check_finite).
double AA(const COMPAR& c, WorkArrays& W, int32_t I, int32_t J);

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
UpperRows generate_upper(const COMPAR& c, WorkArrays& W, const Matrix& A);

// The generation alone, without the report, as a dense matrix (used to rebuild a matrix).
// Fills A (NEQ x NEQ) with the symmetric band matrix: A(I,J) = AA(min(I,J), max(I,J)) when
// |I-J| < NBAND, 0.0 otherwise, the lower triangle an exact copy of the upper.
void generate_matrix(const COMPAR& c, WorkArrays& W, Matrix& A);

// generate_matrix, then the stiffness report (WRITESTIFFNESSMATRIX).
void GENLU(const COMPAR& c, WorkArrays& W, Matrix& A);

// Ends the run with a fatal report when an entry of the upper triangle of A is not a finite
// number (for example an active element of zero length), naming the first such entry in row
// order: its equations with their nodes and directions. Called after the report, before the
// factorization.
void check_finite(const COMPAR& c, const WorkArrays& W, const Matrix& A);

// The message check_finite would end the run with for the matrix of U, or "" when every entry
// is finite (the caller decides when to report it).
std::string first_non_finite(const WorkArrays& W, const UpperRows& U);

// Name of the stiffness report for load case NCASE: "rig-case", the case written as (I2) when
// NCASE > 9 and as (I1) otherwise, without trailing blanks, then ".dat" ("rig-case7.dat",
// "rig-case12.dat", "rig-case**.dat" for 100 and more, "rig-case*.dat" for negative cases).
std::string rig_file_name(int32_t NCASE);

// The stiffness report's lines: the title (Romanian or English by LANG), the half band width,
// then for each row I one empty line and A(I,I..NEQ) as (1P,G17.7) fields, MIN(NEQ,6) a line.
void write_stiffness_report(const COMPAR& c, const Matrix& A, recio::TextSink& out);

// The same report from the compact form, laid out in large blocks: the lines that hold only
// zero fields are copied as constants, and only the entries are edited.
void write_stiffness_report(const COMPAR& c, const UpperRows& U, recio::TextSink& out);

// Reads the load case from temp.dat (unit 11) and opens the stiffness report file
// rig_file_name(case) on unit 15 (rewritten from the start by the first record).
std::unique_ptr<recio::TextFileOut> open_stiffness_report();

// open_stiffness_report, the report, and the close.
void WRITESTIFFNESSMATRIX(const COMPAR& c, const Matrix& A);
void WRITESTIFFNESSMATRIX(const COMPAR& c, const UpperRows& U);

}  // namespace drav
