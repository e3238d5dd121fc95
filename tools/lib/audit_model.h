// The model of a finished run as the program saw it, read back from the working directory, and
// the small text result files, read strictly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "params/compar.h"
#include "params/work.h"

namespace drav::audit {

struct Model {
  COMPAR c;
  WorkArrays W;  // model arrays and the equation table LOC
};

// Reads COMZOR.DAT, nei.UNF, x0.UNF and el.unf of the working directory and numbers the
// equations, as the program does. A model whose supports do not leave NEQ free degrees of
// freedom, or that is too large to hold, ends with a fatal report.
void load_model(Model& m);

// Builds the system matrix (NEQ x NEQ) from the element contribution AA, the upper half band
// mirrored into the lower triangle, without writing the stiffness report. Model arrays that do
// not fit the sizes, and entries that are not finite, end with a fatal report.
void build_matrix(Model& m, Matrix& A);

// The element numbers in the incidence row of `node` (empty slots left out).
std::vector<int32_t> node_elements(const Model& m, int32_t node);

// A small text file read whole; larger than `max_bytes` is a read error (a result file of
// the run can never be that long, and it must not be loaded whole).
std::string read_text_file(int unit, const std::string& path, uint64_t max_bytes);

// The integers of a free-format file (separated by blanks, commas and line ends). Anything
// else is a syntax error naming the line.
std::vector<int32_t> parse_integers(int unit, const std::string& path, const std::string& text);

// The bytes a free-format write of `values` gives: I12 fields, six to a line, lines ending in
// CR LF; no value is one line of a single blank.
std::string free_format_integers(const std::vector<int32_t>& values);

// The first line (from 1) on which `actual` differs from `expected`, 0 when equal.
int64_t first_differing_line(const std::string& expected, const std::string& actual);

}  // namespace drav::audit
