// The blocking and scheduling of the blocked factorization: which sums are formed when, by
// which member of the team, in which pieces. The arithmetic itself is the kernels' (kernels.h).
#pragma once

#include <cstdint>

#include "factor/blocked/kernels.h"
#include "factor/blocked/team.h"
#include "factor/outcome.h"

namespace drav::blocked {

// Block sizes. Any positive values give the same results; these only set the speed.
struct Shape {
  int block = 256;    // columns whose running sums are kept at once
  int panel = 32;     // columns factored one by one inside a block
  int depth = 256;    // run of the summation index in one matrix product
  int triangle = 16;  // rows of U finished one by one inside a triangle
  // Multiply-adds below which a phase runs on one member: waking the others costs more.
  int64_t parallel_work = 1 << 17;
  // Rows of a panel below which a member takes no share of its column steps.
  int panel_rows = 256;
  // Rows of one task of the product that runs beside a block's factorization.
  int chunk_rows = 128;
};

// The factorization of LUDECOMP_BLOCKED on the n x n matrix at a (row i at a + i*lda), every
// entry with |i-j| >= half_band being +0.0 (half_band >= n: dense). iord receives the row
// order (values from 1). Declined only when memory is lacking, before anything is touched.
FactorOutcome factor_blocked(double* a, int64_t lda, int32_t n, int32_t half_band, int32_t* iord,
                             const Kernels& kernels, Team& team, const Shape& shape = {});

}  // namespace drav::blocked
