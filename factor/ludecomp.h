// In-place LU decomposition (compact Doolittle scheme) with partial pivoting by trial row
// exchange, and its pivot step. This is the literal reference: every sum starts at +0.0 and
// runs in ascending order in double precision, and the pivot search really exchanges each
// candidate row in and out.
#pragma once

#include <cstdint>

#include "factor/outcome.h"
#include "factor/pivot_rule.h"
#include "params/compar.h"
#include "params/work.h"
#include "recio/textio.h"

namespace drav {

// Exchanges rows R1 and R2 of LU (all N columns) and IORD(R1) with IORD(R2). IORD is 1-based
// in meaning: IORD[0] is IORD(1).
void SWAP_ROW(int32_t N, Matrix& LU, int32_t* IORD, int32_t R1, int32_t R2);

// A_II = LU(k,k) - sum over m=1..k-1 of LU(m,k)*LU(k,m), rounded to single precision; k >= 2.
void COMPUTE_A_II(int32_t N, const Matrix& LU, int32_t KSTEP, float& A_II);

// The pivot step for column k = KSTEP (1 <= k <= N-1). Each candidate row i = k..N is
// exchanged into row k, its diagonal value (A_II, single precision) is computed and the row is
// exchanged back; the first row with the largest |A_II| (strict >, from 0.0) is then brought to
// row k. A column whose candidates are all zero or NaN changes nothing.
void APVT(Matrix& LU, int32_t N, int32_t* IORD, int32_t KSTEP);

// The same pivot step without the trial exchanges: each candidate is evaluated where its row
// stands. Same sums, same order, same rounding, so LU and IORD come out identical bit for bit.
void APVT_DIRECT(Matrix& LU, int32_t N, int32_t* IORD, int32_t KSTEP);

// Writes the failure record of a pivot u = u(k,k) that failed the pivot test at step k: at
// step 1 to `console` and to the report file c.report_path() (appended, unit 1), at a later
// step to the report file only.
void report_pivot_failure(int32_t k, double u, const COMPAR& c, recio::TextSink& console);

// Factors LU in place. IERR: 0 after a complete factorization (KSTEP = N+1), -1 when a pivot
// fell below PIVTOL or is not a number (KSTEP = the failing step). The failure record goes to
// the report file c.report_path() (appended, unit 1) and, at step 1, also to `console`.
// N < 1 is an empty system: IERR = 0, KSTEP = 1, LU and IORD untouched. LU must have order
// at least N and IORD room for N entries.
void LUDECOMP(Matrix& LU, int32_t N, int32_t* IORD, int32_t& IERR, int32_t& KSTEP, const COMPAR& c,
              recio::TextSink& console);

// LUDECOMP with APVT_DIRECT as its pivot step: identical results and records, without the
// data movement of the trial exchanges.
void LUDECOMP_DIRECT(Matrix& LU, int32_t N, int32_t* IORD, int32_t& IERR, int32_t& KSTEP,
                     const COMPAR& c, recio::TextSink& console);

// LUDECOMP_DIRECT writing no text: the outcome tells the step reached and, after a failure,
// the pivot, from which the caller writes the record (report_pivot_failure). LU and IORD as
// LUDECOMP leaves them.
FactorOutcome LUDECOMP_OUTCOME(Matrix& LU, int32_t N, int32_t* IORD);

}  // namespace drav
