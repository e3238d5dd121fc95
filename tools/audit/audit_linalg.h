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

// Largest |(L*U)(i,j) - A(IORD(i),j)| over all entries. NaN when any term is NaN. The product
// is formed in double precision by Eigen's triangular product, a strip of rows at a time; its
// own rounding (a few units of n * eps * max |L| |U|) stays far below any useful tolerance.
double lu_residual(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD);

// Solves A x = b (transposed = false) or A^T x = b (true) with the factors, in place.
void lu_solve(const Matrix& F, const std::vector<int32_t>& IORD, std::vector<double>& b,
              bool transposed);

// ||A^-1||_1 from the exact inverse, formed with the factors (triangular solves).
double inverse_norm1_exact(const Matrix& F, const std::vector<int32_t>& IORD);

// ||A^-1||_1 estimated from Eigen's own LU factorization of A (its rcond(): Hager's method as
// refined by Higham): a lower bound that is usually exact. O(n^3) for the factorization, and a
// copy of A.
double inverse_norm1_estimate(const Matrix& A);

struct Condition {
  double norm_a = 0;    // ||A||_1
  double norm_inv = 0;  // ||A^-1||_1, exact or estimated
  double kappa = 0;     // their product
  bool exact = false;
};

// The 1-norm condition number of A; exact up to order `exact_limit` (from the factors F),
// estimated above it (from A).
Condition condition_1norm(const Matrix& A, const Matrix& F, const std::vector<int32_t>& IORD,
                          int32_t exact_limit = 400);

}  // namespace drav::audit
