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
#include "params/work.h"

namespace drav {

// The instruction sets the matrix-product kernels are built for. Every variant performs the
// same scalar operations in the same order in each lane, so all give identical results.
enum class Isa {
  Best,      // the fastest one the processor runs, chosen at run time
  Portable,  // plain C++, any processor
  Avx2,      // 256-bit vectors, 16 registers
  Avx512,    // 256-bit vectors with the 32 registers of AVX-512 (F and VL)
};

struct BlockedOptions {
  int threads = 0;      // 0: DRAV_THREADS if set (a positive integer), else the machine's cores
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

// The thread count LUDECOMP_BLOCKED uses for `threads` (see BlockedOptions::threads) before it
// fits the count to the size of the system.
int threads_in_use(int threads);

// Factors the leading N x N block of LU in place as LUDECOMP does, given that every entry (I,J)
// with |I-J| >= half_band is +0.0 (half_band = N: a dense matrix; values outside 1..N are taken
// as N). IORD[k-1] receives IORD(k), 1-based.
//
// Complete: LU and IORD exactly as LUDECOMP leaves them, every bit (signed zeros included),
// KSTEP = N+1. N < 1 is the empty system: Complete with KSTEP = 1, nothing touched.
// PivotFailed: KSTEP and the bits of pivot = u(KSTEP,KSTEP) exactly as LUDECOMP's failing step.
// LU then holds a partial state (every factor of the steps before KSTEP in the columns of the
// blocks already finished, entry values or running work elsewhere, rows partly exchanged) and
// IORD the exchanges made so far; neither is meant for use.
// Declined: only when the working memory cannot be had; LU and IORD are then untouched.
//
// No text is written. Working memory besides LU, for blocks of 256 columns: about
// 8 * N * 840 bytes (the running sums of two blocks, the rows of U above the next block packed
// for the products, a 32-column panel stored by columns twice: a fifth of the matrix at
// N = 4000, a tenth at N = 8000), 0.5 MB per thread and 0.5 MB of packed rows; for a band
// (half_band < N, narrow enough to be worth clipping) also two blocks kept aside within the
// band, 2 * 8 * 256 * (3 * half_band + 256) bytes, so that a value that is not finite can send
// a block back to be redone on the whole matrix (see blocked/scheme.cpp). Threads: none for
// N <= 160.
FactorOutcome LUDECOMP_BLOCKED(Matrix& LU, int32_t N, int32_t half_band, int32_t* IORD,
                               const BlockedOptions& opt = {});

}  // namespace drav
