// The factorization of a band matrix in O(N * NBAND^2) arithmetic, with results identical bit
// for bit to LUDECOMP's: the same factors (signed zeros included), the same row order, step
// and status, and the same failure records.
//
// Why the work outside the band can be left out: every sum of the compact scheme starts at +0.0
// and runs in ascending order, and a product with one factor +/-0 and the other finite is
// +/-0, which leaves such a sum bit-identical (the running sum is never -0, and s + (+/-0) = s).
// With half band width b (diagonal included) and partial pivoting:
//   - at step k only the rows at positions k..k+b-1 (the window) can have a nonzero candidate;
//     the rows below it are still their entry rows, never moved, with +0 from column k on
//     past their band and +/-0 multipliers in columns 1..k-1;
//   - row k of U is +0 beyond column k+2b-2, so u(m,k) = +0 for m < k-2b+2;
//   - a row below the window gets the multiplier (+0 - (+0)) / u(k,k): a zero carrying the
//     sign of the pivot. These zeros are written when the row enters the window (or at a
//     failure), -0.0 in the columns of the negative pivots; the +0.0 already there is right for
//     the others.
// None of this holds once a value is infinite or NaN (0 * inf is NaN), nor for a matrix whose
// entries outside the band are not +0.0; the function then declines (returns false).
#pragma once

#include <cstdint>

#include "params/compar.h"
#include "params/work.h"
#include "recio/textio.h"

namespace drav {

// Factors LU (order N, as LUDECOMP does) using that every entry (I,J) with |I-J| >= NBAND is
// +0.0. Returns true when it produced LUDECOMP's result: LU, IORD, IERR and KSTEP as
// LUDECOMP leaves them, bit for bit, and the same failure record written the same way
// (report_pivot_failure). N < 1 is the empty system (IERR = 0, KSTEP = 1, nothing touched).
// NBAND >= N is the full matrix; NBAND <= 0 is the zero matrix, which fails at step 1.
//
// Returns false, having written nothing (no record, IORD, IERR and KSTEP untouched) and with
// LU holding its entry values again bit for bit, when
//   - an entry of the leading N x N block outside the band is not +0.0 (-0.0 included), or an
//     entry inside it is infinite or NaN; LU is then only read;
//   - a value computed during the elimination is infinite or NaN (the entry band is kept
//     aside for this and put back: 8 * N * min(N, 2*NBAND-1) bytes more while it runs);
//   - that aside copy cannot be allocated.
// The caller then runs LUDECOMP on the same LU. LU must have order at least N and IORD room
// for N entries.
bool LUDECOMP_BAND(Matrix& LU, int32_t N, int32_t NBAND, int32_t* IORD, int32_t& IERR,
                   int32_t& KSTEP, const COMPAR& c, recio::TextSink& console);

}  // namespace drav
