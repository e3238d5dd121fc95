// The blocking and scheduling of the blocked factorization: which sums are formed when, by
// which member of the team, in which pieces. The products and the column steps are the
// kernels' (kernels.h); the scheme itself forms only the rows of U of a panel's groups of steps
// (a few terms each) and subtracts finished sums from their entries.
#pragma once

#include <cstdint>

#include "factor/blocked/kernels.h"
#include "factor/blocked/team.h"
#include "factor/outcome.h"
#include "factor/wide_band.h"

namespace drav::blocked {

// Block sizes. Any positive values give the same results; these only set the speed.
struct Shape {
  int block = 256;  // columns whose running sums are kept at once
  // The same on the dense matrix for a team of more than one member: each member's slice of a
  // block is a part of its columns, and every slice reads all of L left of the block, so wider
  // blocks read L fewer times.
  int team_block = 384;
  int panel = 32;   // columns factored one by one inside a block
  int depth = 256;  // run of the summation index in one matrix product (dense)
  // The same on a band: a run's first columns and last rows hold terms of only part of it,
  // so shorter runs leave out more of what the band makes zero.
  int band_depth = 32;
  int triangle = 16;  // rows of U finished one by one inside a triangle
  // Steps of a panel whose terms the panel's columns after them take together, in one product.
  int group = 8;
  // Multiply-adds below which a phase runs on one member: waking the others costs more.
  int64_t parallel_work = 1 << 17;
  // Rows of a panel below which a member takes no share of its column steps.
  int panel_rows = 256;
  // Rows of one task of the product that runs beside a block's factorization.
  int chunk_rows = 128;
  // Register tiles of columns in one task that finishes rows of U beside it.
  int slice_tiles = 4;
};

// The margins a band's slots need for blocks of `shape` with `kernels`.
WideBand::Pads band_pads(const Shape& shape, const Kernels& kernels);

// The factorization of LUDECOMP_BLOCKED on the n x n matrix at a (row i at a + i*lda), every
// entry with |i-j| >= half_band being +0.0 (half_band >= n: dense). iord receives the row
// order (values from 1). A band narrow enough is factored on band storage of its own, filled
// from a and written back after a complete factorization. Declined only when memory is
// lacking, before anything is touched.
FactorOutcome factor_blocked(double* a, int64_t lda, int32_t n, int32_t half_band, int32_t* iord,
                             const Kernels& kernels, Team& team, const Shape& shape = {});

// The same on a band's own storage (see LUDECOMP_WIDE_BAND). Declined when an entry or a value
// computed on the way is not finite, when the margins of A are too narrow for `shape`, or when
// memory is lacking; A then no longer holds its entries.
FactorOutcome factor_wide_band(WideBand& A, int32_t* iord, const Kernels& kernels, Team& team,
                               const Shape& shape = {});

// True when a band of half band b is worth band storage of its own at order n: its slots,
// about 2b wide (up to 3b where the exchanges fill the rows of U), are well short of the
// dense rows.
bool band_storage_pays(int32_t n, int32_t half_band, const Shape& shape = {});

}  // namespace drav::blocked
