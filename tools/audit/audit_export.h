// The matrices of a run as Matrix Market files, for other programs (scipy, Octave, Julia).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "params/work.h"
#include "tools/audit/audit_model.h"

namespace drav::audit {

// A symmetric matrix as "%%MatrixMarket matrix coordinate real symmetric": the nonzero
// entries of the lower triangle (i >= j), 1-based, row by row, values with 17 significant
// digits so that each reads back as the same double. Entries that are zero (-0.0 included)
// are not listed. `comments` become "%" lines after the header.
void write_mm_symmetric(const Matrix& A, const std::vector<std::string>& comments,
                        std::ostream& out);

// Any square matrix as "%%MatrixMarket matrix coordinate real general": every nonzero entry.
void write_mm_general(const Matrix& A, const std::vector<std::string>& comments, std::ostream& out);

// The files written by export_run, in the order written.
struct ExportResult {
  std::vector<std::string> files;
  std::string note;  // why the factors were not written, if they were not
};

// PREFIX.mtx: the rebuilt matrix; for a finished run (drav0.dat holding 0) also
// PREFIX-factors.mtx (the stored factor array as the matrix file holds it) and
// PREFIX-order.txt (the row order, one number a line). Text with LF line ends.
ExportResult export_run(Model& m, const std::string& prefix);

}  // namespace drav::audit
