#include "factor/factor_system.h"

#include <algorithm>

#include "factor/reference/ludecomp.h"
#if __has_include("factor/blocked_lu.h")
#include "factor/blocked_lu.h"
#endif

namespace drav {

namespace {

#if __has_include("factor/blocked_lu.h")
constexpr bool kBlockedKernel = true;

FactorOutcome dense_kernel(Matrix& LU, int32_t N, int32_t half_band, int32_t* IORD,
                           const FactorOptions& opt) {
  BlockedOptions blocked;
  blocked.threads = opt.threads;
  blocked.busy = opt.busy;
  return LUDECOMP_BLOCKED(LU, N, half_band, IORD, blocked);
}
#else
// Until the blocked kernel is there, the dense path is the literal scheme alone.
constexpr bool kBlockedKernel = false;

FactorOutcome dense_kernel(Matrix&, int32_t, int32_t, int32_t*, const FactorOptions&) {
  FactorOutcome r;
  r.stop = FactorOutcome::Stop::Declined;
  return r;
}
#endif

}  // namespace

// Both kernels cost about N b^2 on a band of half width b; the band kernel is faster on
// narrow bands, where the blocked kernel's blocks are mostly edge, and slower on wide ones.
// Measured (bench/pipeline_bench.cpp on grid trusses, seconds, a busy machine):
//      N     b   band  blocked        N     b   band  blocked
//   1980    64  0.019    0.062     3960    64  0.048    0.265
//   1920   124  0.060    0.087     3960   124  0.094    0.160
//   1968   250  0.147    0.117     3936   250  0.468    0.283
//   7872   250  0.719    0.756     7936   500  3.917    1.390
// so the band kernel takes half bands up to 192. The literal scheme is some ten times slower
// than the band kernel on any band, so without the blocked kernel the band kernel takes every
// band up to N / 4, where its storage (about 7 N b doubles) is near twice the dense matrix.
int32_t band_limit(int32_t N) {
  const int32_t quarter = std::max(64, N / 4);
  return kBlockedKernel ? std::min(192, quarter) : quarter;
}

const double* Factorization::row(int32_t p, double* buf) const {
  if (kernel == Kernel::Band) {
    band_.row(p, buf);
    return buf;
  }
  return lu_->row(p);
}

FactorOutcome factor_system(const UpperRows& A, Matrix& LU, int32_t* IORD, Factorization& F,
                            const FactorOptions& opt) {
  const int32_t N = A.n;
  F.n_ = N;
  F.lu_ = &LU;
  F.half_band = A.half_band();
  const bool band = opt.path == FactorOptions::Path::Band ||
                    (opt.path == FactorOptions::Path::Auto && F.half_band <= band_limit(N));
  if (band && F.entry_.allocate(N, F.half_band)) {
    for (int32_t I = 1; I <= N; ++I)
      for (int64_t e = A.row_begin(I); e < A.row_end(I); ++e) {
        const int32_t J = A.col[static_cast<size_t>(e)];
        F.entry_.at(I, J) = A.val[static_cast<size_t>(e)];
        F.entry_.at(J, I) = A.val[static_cast<size_t>(e)];
      }
    F.outcome = LUDECOMP_BAND(F.entry_, IORD, F.band_);
    if (F.outcome.stop != FactorOutcome::Stop::Declined) {
      F.kernel = Kernel::Band;
      return F.outcome;
    }
  }
  F.band_ = BandFactors();  // not needed any more
  F.entry_.allocate(0, 1);
  A.scatter(LU);
  F.outcome = dense_kernel(LU, N, F.half_band, IORD, opt);
  F.kernel = Kernel::Blocked;
  if (F.outcome.stop == FactorOutcome::Stop::Declined) {
    F.outcome = LUDECOMP_OUTCOME(LU, N, IORD);
    F.kernel = Kernel::Literal;
  }
  return F.outcome;
}

}  // namespace drav
