// The compute kernels of the blocked factorization, one table per instruction set (isa.h lists
// them; each comes from its own source file, compiled for its instruction set, and select.cpp
// picks one at run time). The scheme (scheme.cpp) does the blocking and the scheduling, and of
// the arithmetic only a few scalar steps of its own: in a panel, the rows of U of a group of
// steps in the later columns (the terms of the group's rows above, then u = a - S), the choice
// among the members' pivot candidates, and the tests of the pivot and of values that are not
// finite. Everything else is computed here.
//
// Every kernel keeps the order of the literal scheme's arithmetic: each entry of a sum receives
// its terms one at a time in ascending order of the summation index, each term a rounded
// product (the multiplier of L first, as in the literal code) added by a separate, rounded
// addition. Lanes of a vector never exchange values, so every instruction set gives the same
// bits.
#pragma once

#include <cstdint>

#include "factor/blocked_lu.h"

namespace drav::blocked {

struct Kernels {
  Isa isa;
  int mr, nr;  // register tile of the matrix product: mr rows by nr columns
  // The product's blocking inside `gemm` (results do not depend on it): runs of at most `depth`
  // steps of m, blocks of at most `columns` columns of B, and panels of A copied once they
  // serve more than `packed_from` columns.
  int depth, columns, packed_from;

  // Packs the k x ncols block B (rows of stride ldb) for `gemm`: tiles of nr columns one after
  // the other, each k rows of nr values, columns past ncols filled with +0.0. bp holds
  // k * roundup(ncols, nr) values.
  void (*pack_b)(int k, int ncols, const double* b, int64_t ldb, double* bp);
  // C(i,j) += A(i,m) * B(m,j) for m = 0..k-1 in this order, i < m_rows, j < ncols; A row i at
  // a + i*lda, C row i at c + i*ldc, B packed by pack_b. Needs no memory beyond a panel of A
  // on the stack (mr x depth values).
  void (*gemm)(int m_rows, int ncols, int k, const double* a, int64_t lda, const double* bp,
               double* c, int64_t ldc);
  // x[j] and y[j] exchanged, j < n.
  void (*swap)(int n, double* x, double* y);
  // Rows, each where it stands, as the columns of a block and back, q < rows, j < n:
  // to_columns sets dst[j*ld + q] = src[q][j], from_columns dst[q][j] = src[j*ld + q].
  void (*to_columns)(int rows, int n, const double* const* src, double* dst, int64_t ld);
  void (*from_columns)(int rows, int n, const double* src, int64_t ld, double* const* dst);
  // y[j] += x * u[j], j < n.
  void (*axpy)(int n, double x, const double* u, double* y);
  // y[i] += l[i] * u, i < n.
  void (*axpy_col)(int n, const double* l, double u, double* y);
  // out[j] = a[j] - s[j], j < n (out may be a).
  void (*sub)(int n, const double* a, const double* s, double* out);
  // x[i] = x[i] / d, i < n.
  void (*div)(int n, double* x, double d);
  // The pivot search: the first i < n whose (float)x[i] has the largest magnitude, -1 when
  // every one is +/-0 or NaN (as the strict comparison `beats` from 0.0 finds it).
  int (*pivot)(int n, const double* x);
};

// The table LUDECOMP_BLOCKED uses for `isa` (see isa_in_use).
const Kernels& kernels_for(Isa isa);

}  // namespace drav::blocked
