#include "factor/factor_system.h"

#include "factor/ludecomp.h"
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

// The band kernel does about 4 N b^2 multiply-adds at some 5 G a second on one core (half
// band 250, measured with bench/band_bench.cpp); the blocked kernel N^3 / 3 at some 25 G a
// second on two: they meet near b = N / 8. The literal scheme manages some 0.4 G a second,
// so without the blocked kernel the band kernel is faster for every band; it stops at N / 4,
// where its storage (about 7 N b doubles) is near twice the dense matrix. Below 64 the
// blocked kernel's blocks would be mostly edge.
int32_t band_limit(int32_t N) {
  const int32_t share = kBlockedKernel ? N / 8 : N / 4;
  return share > 64 ? share : 64;
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
