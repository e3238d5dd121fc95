// The literal factorization against the band one on the same stiffness-like band matrices.
// Both give the same bits; the figures show what the band saves.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "factor/band_lu.h"
#include "factor/ludecomp.h"

namespace {

// Symmetric, |I-J| < band only, diagonal dominant with a few negative diagonal entries (a
// softened structure): exchanges are rare, negative pivots (and -0.0 multipliers) occur.
void fill_stiffness(drav::Matrix& A, int32_t n, int32_t band, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = i; j <= n && j < i + band; ++j) {
      const double v = (i == j) ? (i % 97 == 0 ? -4.0 : 4.0) * band + u(rng) : u(rng);
      A(i, j) = v;
      A(j, i) = v;
    }
  }
}

template <bool kBand>
void BM_Factor(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const int32_t band = static_cast<int32_t>(state.range(1));
  drav::COMPAR c;
  drav::recio::StringSink console;
  std::vector<int32_t> iord(static_cast<size_t>(n));
  bool declined = false;
  for (auto _ : state) {
    state.PauseTiming();
    drav::Matrix A;
    A.allocate(n);
    fill_stiffness(A, n, band, 1);
    drav::BandMatrix B;
    if (kBand) {
      B.allocate(n, band);
      for (int32_t i = 1; i <= n; ++i)
        for (int32_t j = std::max(1, i - band + 1); j <= std::min(n, i + band - 1); ++j)
          B.at(i, j) = A(i, j);
    }
    drav::BandFactors F;
    state.ResumeTiming();
    int32_t ierr = 0, kstep = 0;
    if (kBand) {
      declined |=
          drav::LUDECOMP_BAND(B, iord.data(), F).stop == drav::FactorOutcome::Stop::Declined;
    } else {
      drav::LUDECOMP(A, n, iord.data(), ierr, kstep, c, console);
    }
    benchmark::DoNotOptimize(A.row(1));
  }
  if (declined) state.SkipWithError("the band factorization declined");
}

void BM_LiteralBand(benchmark::State& state) {
  BM_Factor<false>(state);
}
void BM_BandLu(benchmark::State& state) {
  BM_Factor<true>(state);
}

// Equations and half band of the measured matrices, the same for both factorizations.
void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgsProduct({{500, 1000, 2000}, {10, 50, 250}});
}

// The literal one takes seconds at 2000 equations: one pass is enough for it.
BENCHMARK(BM_LiteralBand)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BandLu)->Apply(Sizes)->Unit(benchmark::kMillisecond);

}  // namespace
