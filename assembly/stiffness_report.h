// The stiffness matrix report: the upper triangle of the freshly generated matrix, row by row,
// in a file named after the current load case (rig-case<n>.dat, unit 15; the case from
// temp.dat, unit 11).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "params/compar.h"
#include "params/upper_rows.h"
#include "params/work.h"
#include "recio/textio.h"

namespace drav {

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
