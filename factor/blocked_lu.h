// The blocked factorization: the literal scheme's results, bit for bit, at the speed of a
// register-tiled matrix product on every core.
//
// Why blocking cannot change a bit: every value of the literal scheme is a function of one sum
// per entry, S(i,j) = sum over m < min(i,j) of l(i,m)*u(m,j), formed from +0.0 in ascending m
// with each product rounded and then added (u = a - S on and above the diagonal, l = (a - S) /
// u(j,j) below it, and the pivot candidate of row i at step k is (float)(a(i,k) - S(i,k))). A
// running sum stored to memory and loaded again is the same double, so S may be built in
// pieces, by any thread, in any loop nesting, as long as its terms arrive in ascending m by a
// separate multiply and add. The kernel keeps exactly that: it never folds S into a, never
// splits m between threads, never reduces in a tree, never fuses a multiply into an add.
#pragma once

#include <atomic>
#include <cstdint>

#include "factor/outcome.h"
#include "factor/wide_band.h"
#include "params/upper_rows.h"
#include "params/work.h"

namespace drav {

// The instruction sets the matrix-product kernels are built for. Every variant performs the
// same scalar operations in the same order in each lane, so all give identical results.
enum class Isa {
  Best,        // the fastest one the processor runs, chosen at run time
  Portable,    // plain C++, any processor
  Avx2,        // 256-bit vectors, 16 registers
  Avx512,      // 256-bit vectors with the 32 registers of AVX-512 (F and VL)
  Avx512Wide,  // 512-bit vectors, the same instructions
};

struct BlockedOptions {
  int threads = 0;      // 0: the machine's cores
  Isa isa = Isa::Best;  // Best = chosen at run time; tests can force each variant the CPU runs
  // When given: how many of those threads the caller has busy with other work for the moment;
  // each phase of the factorization leaves that many out (and none of its results changes).
  const std::atomic<int>* busy = nullptr;
};

// True when this build has the variant and the processor (and its operating system) runs it.
// Best and Portable are always available.
bool isa_available(Isa isa);

// The variant LUDECOMP_BLOCKED runs for `isa`: Best resolved, and a variant that is not
// available replaced by the best one that is.
Isa isa_in_use(Isa isa);

// The thread count the blocked kernels use for `threads` (see BlockedOptions::threads) before
// they fit the count to the size of the system.
int threads_in_use(int threads);

// Factors the leading N x N block of LU in place as LUDECOMP does, given that every entry (I,J)
// with |I-J| >= half_band is +0.0 (half_band = N: a dense matrix; values outside 1..N are taken
// as N). IORD[k-1] receives IORD(k), 1-based. A band narrow enough for band storage of its own
// is factored there (as LUDECOMP_WIDE_BAND does) and written back.
//
// Complete: LU and IORD exactly as LUDECOMP leaves them, every bit (signed zeros included),
// KSTEP = N+1. N < 1 is the empty system: Complete with KSTEP = 1, nothing touched.
// PivotFailed: KSTEP and the bits of pivot = u(KSTEP,KSTEP) exactly as LUDECOMP's failing step.
// LU then holds a partial state and IORD the exchanges made so far; neither is meant for use.
// Declined: only when the working memory cannot be had; LU and IORD are then untouched.
//
// No text is written. Working memory besides LU, for blocks of nb = 256 columns: about
// 8 * N * (3 * nb + 64) bytes (the running sums of two blocks, the rows of U above the next
// block packed for the products, a 32-column panel stored by columns twice) and a little per
// thread. Threads: none for N <= 160.
FactorOutcome LUDECOMP_BLOCKED(Matrix& LU, int32_t N, int32_t half_band, int32_t* IORD,
                               const BlockedOptions& opt = {});

// The same on the dense matrix of the entries U (N = U.n, half_band = N), written into LU
// first (as U.scatter(LU) writes it, large pages asked for before) by the factorization's own
// threads: they take its rows in pieces, and a thread busy elsewhere when the writing starts
// joins it as soon as it is free. LU holds the matrix even when the factorization declines.
FactorOutcome LUDECOMP_BLOCKED(const UpperRows& U, Matrix& LU, int32_t* IORD,
                               const BlockedOptions& opt = {});

// The margins that LUDECOMP_WIDE_BAND needs in the slots of a band (WideBand::allocate).
WideBand::Pads wide_band_pads(const BlockedOptions& opt = {});

// Factors the band A (allocated with wide_band_pads and filled with the entries) in place as
// LUDECOMP factors the dense matrix, following the fill that the row exchanges make: the work
// is about N * b * (b + the fill), the memory besides A about 8 * (3 * nb * (2b + nb)) bytes.
// Complete: IORD and A.row() exactly as LUDECOMP leaves IORD and LU. PivotFailed: KSTEP and
// the pivot's bits exact. Declined (IORD and A no longer meant for use) when an entry or a
// value computed on the way is not finite, or memory is lacking: another kernel must run on the
// entries. N = 0 is the empty system (Complete, KSTEP 1).
FactorOutcome LUDECOMP_WIDE_BAND(WideBand& A, int32_t* IORD, const BlockedOptions& opt = {});

// True when a band of half band b of order N is worth factoring on storage of its own: the
// slots (about 2b wide, up to 3b where the exchanges fill the rows of U) are well short of
// the dense rows.
bool wide_band_pays(int32_t N, int32_t half_band);

}  // namespace drav
