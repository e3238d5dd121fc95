#include "factor/factor_system.h"

#include <algorithm>

#include "factor/blocked_lu.h"
#include "factor/reference/ludecomp.h"

namespace drav {

namespace {

// The narrow kernel goes step by step with a few rows at a time; the blocked one pays for its
// blocks, panels and team from about this half band on (measured: bench/lu/README.md).
constexpr int32_t kNarrowBand = 32;

}  // namespace

int32_t band_limit(int32_t N) {
  // Where band storage for the blocked kernel would be near the dense matrix's size, the narrow
  // kernel still beats the dense one on bands up to a quarter of the order.
  if (wide_band_pays(N, kNarrowBand + 1)) return kNarrowBand;
  return std::min(192, std::max(64, N / 4));
}

const double* Factorization::row(int32_t p, double* buf) const {
  switch (kernel) {
    case Kernel::Band:
      band_.row(p, buf);
      return buf;
    case Kernel::WideBand:
      wide_.row(p, buf);
      return buf;
    default:
      return lu_->row(p);
  }
}

Factorization::Part Factorization::row_part(int32_t p, double* buf) const {
  Part part{buf, 0, n_};
  switch (kernel) {
    case Kernel::Band:
      band_.row(p, buf, part.begin, part.end);
      break;
    case Kernel::WideBand:
      wide_.row(p, buf, part.begin, part.end);
      break;
    default:
      part.data = lu_->row(p);
  }
  return part;
}

FactorOutcome factor_system(const UpperRows& A, Matrix& LU, int32_t* IORD, Factorization& F,
                            const FactorOptions& opt) {
  using Path = FactorOptions::Path;
  const int32_t N = A.n;
  F.n_ = N;
  F.lu_ = &LU;
  F.half_band = A.half_band();
  const int32_t b = F.half_band;
  Path path = opt.path;
  if (path == Path::Auto)
    path = b <= band_limit(N) ? Path::Band : wide_band_pays(N, b) ? Path::WideBand : Path::Dense;
  // Each entry and its mirror, from the compact rows.
  auto fill = [&](auto&& put) {
    for (int32_t I = 1; I <= N; ++I)
      for (int64_t e = A.row_begin(I); e < A.row_end(I); ++e) {
        const int32_t J = A.col[static_cast<size_t>(e)];
        put(I, J, A.val[static_cast<size_t>(e)]);
        put(J, I, A.val[static_cast<size_t>(e)]);
      }
  };
  BlockedOptions blocked;
  blocked.threads = opt.threads;
  blocked.busy = opt.busy;
  if (path == Path::Band && F.entry_.allocate(N, b)) {
    fill([&](int32_t I, int32_t J, double v) { F.entry_.at(I, J) = v; });
    F.outcome = LUDECOMP_BAND(F.entry_, IORD, F.band_);
    if (F.outcome.stop != FactorOutcome::Stop::Declined) {
      F.kernel = Kernel::Band;
      return F.outcome;
    }
  }
  if (path == Path::WideBand && F.wide_.allocate(N, b, wide_band_pads(blocked))) {
    fill([&](int32_t I, int32_t J, double v) { F.wide_.set(I, J, v); });
    F.outcome = LUDECOMP_WIDE_BAND(F.wide_, IORD, blocked);
    if (F.outcome.stop != FactorOutcome::Stop::Declined) {
      F.kernel = Kernel::WideBand;
      return F.outcome;
    }
  }
  // Not needed any more.
  F.band_ = BandFactors();
  F.entry_.allocate(0, 1);
  F.wide_.allocate(0, 1, {});
  // The dense matrix as a whole, first written into LU here by the factorization's threads: a
  // band the storage of its own could not take is not one here.
  F.outcome = LUDECOMP_BLOCKED(A, LU, IORD, blocked);
  F.kernel = Kernel::Blocked;
  if (F.outcome.stop == FactorOutcome::Stop::Declined) {
    F.outcome = LUDECOMP_OUTCOME(LU, N, IORD);
    F.kernel = Kernel::Literal;
  }
  return F.outcome;
}

}  // namespace drav
