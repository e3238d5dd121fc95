// The one entry point of the factorization: it finds the structure of the generated matrix in
// its entries and chooses the kernel. Every kernel gives LUDECOMP's result bit for bit; none
// writes text (the caller writes the failure record with report_pivot_failure).
#pragma once

#include <atomic>
#include <cstdint>

#include "factor/band_lu.h"
#include "factor/outcome.h"
#include "factor/wide_band.h"
#include "params/upper_rows.h"
#include "params/work.h"

namespace drav {

enum class Kernel {
  Band,      // a narrow band on storage of its own, step by step; the dense LU is not touched
  WideBand,  // a wide band on storage of its own, blocked; the dense LU is not touched
  Blocked,   // the dense LU, filled from the entries
  Literal,   // the dense LU, the literal scheme (where the others decline)
};

struct FactorOptions {
  // Threads of the blocked kernels; 0: the number the machine offers.
  int threads = 0;
  // When given: how many of those threads the caller has busy elsewhere for the moment (the
  // dense kernel then runs its phases on fewer; see BlockedOptions).
  const std::atomic<int>* busy = nullptr;
  // Tests and benchmarks pin a path; Auto chooses by the half band the entries need.
  enum class Path { Auto, Band, WideBand, Dense } path = Path::Auto;
};

// The widest half band the narrow band kernel takes for an order N; wider bands go to the
// blocked kernel on band storage, which is faster there (measured: bench/lu/README.md), or,
// where band storage would not be much smaller than the matrix, to the dense kernel.
//
// A band rather than a profile (the first entry of each row): with partial pivoting any row of
// the window may become the pivot row, so the rows of U reach 2b-2 columns beyond the diagonal
// and the multipliers b-1 columns before it whatever the profile of the entry rows; what a
// profile could save is the leading zeros of the entry rows inside the band, and the trusses
// the program meets, numbered along their short side, have a profile of nearly constant width,
// the band itself. A numbering that spreads the entries gives a profile as wide as the matrix.
int32_t band_limit(int32_t N);

// Where the factors are, and the outcome.
class Factorization {
 public:
  Factorization() = default;
  Factorization(const Factorization&) = delete;
  Factorization& operator=(const Factorization&) = delete;

  FactorOutcome outcome;
  Kernel kernel = Kernel::Literal;
  int32_t half_band = 0;  // the narrowest band that holds every entry

  int32_t order() const { return n_; }
  // Row p (from 1) of the factored matrix as LUDECOMP leaves it in LU: order() values, in
  // the dense LU itself or composed into buf (which must hold order() values).
  const double* row(int32_t p, double* buf) const;
  // The same row where only values [begin, end) (from 0) need be composed: every other value
  // of it is +0.0, and is not written into buf.
  struct Part {
    const double* data = nullptr;
    int32_t begin = 0, end = 0;
  };
  Part row_part(int32_t p, double* buf) const;

 private:
  friend FactorOutcome factor_system(const UpperRows& A, Matrix& LU, int32_t* IORD,
                                     Factorization& F, const FactorOptions& opt);
  int32_t n_ = 0;
  const Matrix* lu_ = nullptr;
  BandMatrix entry_;
  BandFactors band_;
  WideBand wide_;
};

// Factors the symmetric matrix of A (order A.n). LU is the run's dense matrix, of order at
// least A.n and +0.0 everywhere (as allocated): it is filled and factored only on the dense
// paths. IORD receives the row order (A.n entries) after Complete and PivotFailed. The outcome
// is LUDECOMP's (Complete or PivotFailed, with KSTEP and the pivot), never Declined.
FactorOutcome factor_system(const UpperRows& A, Matrix& LU, int32_t* IORD, Factorization& F,
                            const FactorOptions& opt = {});

}  // namespace drav
