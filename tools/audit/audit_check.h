// The check of a finished run: are the result files in the working directory what the model
// there gives?
#pragma once

#include <cstdint>
#include <ostream>

namespace drav::audit {

inline constexpr int kCheckPass = 0;   // factors verified, or the singular unknown named
inline constexpr int kCheckFail = 1;   // the results disagree with the model
inline constexpr int kCheckError = 2;  // a file is missing or cannot be read (FatalError)

struct CheckOptions {
  double tol = 1e-10;         // largest relative residual accepted
  int32_t exact_limit = 400;  // up to this order ||A^-1||_1 comes from the exact inverse
};

// Checks the run in the working directory and describes it on `out`. Returns kCheckPass or
// kCheckFail; a missing or damaged file throws recio::FatalError.
//
// Status 0: the matrix file (AA0.UNF when ITER = 1, else AA.UNF) must hold NEQ records of
// 8*NEQ bytes and order.dat a permutation of 1..NEQ in the free-format layout; the factors
// must reproduce the rebuilt matrix, rows in that order, to within `tol` relative to its
// largest entry. The 1-norm condition number is reported.
// Status -1: the factorization is repeated on the rebuilt matrix to find the failing step,
// and its unknown is named with its node, direction and the elements at that node.
int check_run(const CheckOptions& opt, std::ostream& out);

}  // namespace drav::audit
