// The middle of a run on the threads it may use: the stiffness report is written on a thread of
// its own while the matrix is factored and, once the factors are complete, while their rows go
// into the new matrix file. Every file, message and failure is the one the steps leave when they
// run one after the other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "factor/factor_system.h"
#include "params/compar.h"
#include "params/upper_rows.h"
#include "params/work.h"
#include "recio/binrec.h"

namespace drav {

// The matrix file of the run (unit 3: AA0.UNF in the first iteration, else AA.UNF, which must
// exist), open until close(). Replaced whole at close where it can be, so that it is never seen
// half written; the rows of a banded matrix are mostly +0.0, and whole pages of them are left as
// holes.
class MatrixFile {
 public:
  explicit MatrixFile(int32_t ITER);

  // The rows of the complete factors as its new content (a factored matrix of no rows still
  // replaces the file of an earlier run), written by up to `threads` threads.
  void write_rows(const Factorization& F, int threads = 1);
  // Whether write_rows has been called (whatever it came to).
  bool rows_begun() const { return begun_; }
  // True when the new content goes to a scratch file and the earlier file stays until close().
  bool replaces_whole() const { return out_->replaces_whole(); }
  // Drops whatever was written, the earlier file staying as it was, and closes the file;
  // reopen() opens it anew.
  void drop();
  void reopen();
  // The rows written become the file's content; without rows the earlier file stays.
  void close() { out_->close(); }

 private:
  int32_t ITER_;
  std::unique_ptr<recio::SeqWriter> out_;
  bool begun_ = false;
};

// Writes the stiffness report of A and, when its entries are finite (`not_finite` is empty;
// else the run ends with that message once the report is written), factors the matrix into F
// (allocating W.IORD) and returns the outcome. On more than one thread the report is written
// beside the factorization, which then leaves the report's thread out until it is done, and the
// rows of complete factors are already written into `matrix_file` where it is replaced whole.
// A failure is reported as if the steps had run one after the other: the report's first, then
// the entries', the factorization's, the matrix file's.
FactorOutcome report_and_factor(const COMPAR& c, WorkArrays& W, const UpperRows& A,
                                const std::string& not_finite, Matrix& LU, Factorization& F,
                                int threads, MatrixFile& matrix_file);

}  // namespace drav
