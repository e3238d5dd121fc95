// The model of a finished run as the program saw it, read back from the working directory, and
// the small text result files, read strictly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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
// not fit the sizes, and entries that are not finite, end with a fatal report. The only place
// where the tools call the program's generation.
void build_matrix(Model& m, Matrix& A);

// The program's factorization of LU (order NEQ) in place, with the program's choice of kernel,
// so that the failing step is the one the program found. No failure record is written: the
// run's report file is left alone. The only place where the tools call the program's
// factorization.
struct RepeatedFactorization {
  bool complete = true;       // false: the pivot test failed at step KSTEP
  int32_t KSTEP = 1;          // the failing step, NEQ + 1 after a complete factorization
  double pivot = 0.0;         // u(KSTEP,KSTEP) after a failure
  std::vector<int32_t> IORD;  // the row order, as far as the factorization got
};
RepeatedFactorization factor_as_the_program(COMPAR& c, Matrix& LU);

// The element numbers in the incidence row of `node` (empty slots left out).
std::vector<int32_t> node_elements(const Model& m, int32_t node);

// Those of them that are elements of the model and end at `node` (the row of a damaged model
// may name others).
std::vector<int32_t> elements_ending_at(const Model& m, int32_t node);

// The index from 0 of a number from 1: a node, an element, an equation, a direction.
inline size_t at(int32_t one_based) {
  return static_cast<size_t>(one_based - 1);
}

// A small text file read whole; larger than `max_bytes` is a read error (a result file of
// the run can never be that long, and it must not be loaded whole).
std::string read_text_file(int unit, const std::string& path, uint64_t max_bytes);

// The integers of a free-format file (separated by blanks, commas and line ends). Anything
// else is a syntax error naming the line.
std::vector<int32_t> parse_integers(int unit, const std::string& path, const std::string& text);

// The bytes a free-format write of `values` gives: I12 fields, six to a line, lines ending in
// CR LF; no value is one line of a single blank.
std::string free_format_integers(const std::vector<int32_t>& values);

// The status in drav0.dat (unit 3), which must hold one integer; `text` receives the file's
// bytes for a check of their layout.
int32_t read_status(std::string& text);

// The matrix file of a run: AA0.UNF when ITER = 1, else AA.UNF.
std::string matrix_file_name(const COMPAR& c);

// The framing and record lengths of the matrix file (unit 3), read without keeping the data.
struct RecordScan {
  int64_t records = 0;
  int64_t bad_record = 0, bad_length = 0;  // the first record whose length is not 8*n bytes
  bool fits(int32_t n) const { return records == (n > 0 ? n : 0) && bad_record == 0; }
};
RecordScan scan_matrix_file(const std::string& name, int32_t n);

// The rows of the matrix file into F (allocated, order n, as many records as rows).
void read_matrix_rows(const std::string& name, Matrix& F);

// The text of order.dat (unit 7), no longer than n integers in the free-format layout can be.
std::string read_order_text(int32_t n);

// The factors and the row order that a finished run left, for the tools that show them. A
// matrix file or an order.dat that does not fit NEQ ends with a fatal report.
void read_stored_factors(const COMPAR& c, Matrix& F, std::vector<int32_t>& IORD);

// The status in drav0.dat when the file is there.
std::optional<int32_t> status_if_present();

// The factors of a run that finished (drav0.dat holding 0), read with read_stored_factors:
// true; else false with the reason, for a note, in `why_not`.
bool read_factors_if_finished(const COMPAR& c, Matrix& F, std::vector<int32_t>& IORD,
                              std::string& why_not);

// The first line (from 1) on which `actual` differs from `expected`, 0 when equal.
int64_t first_differing_line(const std::string& expected, const std::string& actual);

}  // namespace drav::audit
