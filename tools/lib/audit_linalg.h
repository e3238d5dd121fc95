// Checks of a factored matrix: how well the factors reproduce the matrix, and how well the
// matrix is conditioned. The factors are held as the program writes them: one N x N array with
// the multipliers of the unit lower factor L strictly below the diagonal and the upper factor
// U on and above it, for the rows in the order IORD (IORD(k) = equation of row k, 1-based).
#pragma once

#include <cstdint>
#include <vector>

#include "params/work.h"

namespace drav::audit {

// True when IORD(1..n) holds every number 1..n exactly once.
bool is_permutation(const std::vector<int32_t>& IORD, int32_t n);

// Largest |A(i,j)| (NaN when an entry is NaN).
double max_abs(const Matrix& A);

// Largest column sum of |A(i,j)|.
double norm1(const Matrix& A);

// Largest |(L*U)(i,j) - A(IORD(i),j)| over all entries, the products summed in extended
// precision so that the result measures the factors, not this sum. NaN when any term is NaN.
double lu_residual(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD);

// Solves A x = b (transposed = false) or A^T x = b (true) with the factors, in place.
void lu_solve(const Matrix& F, const std::vector<int32_t>& IORD, std::vector<double>& b,
              bool transposed);

// ||A^-1||_1 from the exact inverse, one column at a time (n solves).
double inverse_norm1_exact(const Matrix& F, const std::vector<int32_t>& IORD);

// ||A^-1||_1 estimated by Hager's method as refined by Higham (at most five pairs of solves
// and one extra solve with an alternating vector): a lower bound that is usually exact.
double inverse_norm1_estimate(const Matrix& F, const std::vector<int32_t>& IORD);

struct Condition {
  double norm_a = 0;    // ||A||_1
  double norm_inv = 0;  // ||A^-1||_1, exact or estimated
  double kappa = 0;     // their product
  bool exact = false;
};

// The 1-norm condition number of A; exact up to order `exact_limit`, estimated above it.
Condition condition_1norm(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD,
                          int32_t exact_limit = 400);

}  // namespace drav::audit
