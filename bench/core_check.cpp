// Compiled for AVX2 with FMA where the compiler has them (the contraction of separate
// operations stays off); the tiles run only after the processor has said it has both.
#include "bench/core_check.h"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) && defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

#include "factor/blocked/tile_kernels.h"
#include "factor/blocked/vec256.h"

namespace drav::bench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSteps = 256;

__attribute__((noinline)) void separate(const double* a, const double* b, double* c) {
  blocked::TileKernels<blocked::Vec256, 6, 2>::tile<true>(kSteps, a, 0, b, c, 8);
}

__attribute__((noinline)) void fused(const double* a, const double* b, double* c) {
  __m256d acc[6][2];
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 2; ++j) acc[i][j] = _mm256_loadu_pd(c + i * 8 + j * 4);
  for (int m = 0; m < kSteps; ++m) {
    const __m256d b0 = _mm256_loadu_pd(b + m * 8), b1 = _mm256_loadu_pd(b + m * 8 + 4);
#pragma GCC unroll 6
    for (int i = 0; i < 6; ++i) {
      const __m256d av = _mm256_set1_pd(a[m * 6 + i]);
      acc[i][0] = _mm256_fmadd_pd(av, b0, acc[i][0]);
      acc[i][1] = _mm256_fmadd_pd(av, b1, acc[i][1]);
    }
  }
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 2; ++j) _mm256_storeu_pd(c + i * 8 + j * 4, acc[i][j]);
}

template <class F>
double rate(F tile, const double* a, const double* b, double* c) {
  constexpr int kCalls = 2000;
  double best = 0.0;
  for (int s = 0; s < 5; ++s) {
    const auto t0 = Clock::now();
    for (int q = 0; q < kCalls; ++q) tile(a, b, c);
    const double t = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::max(best, 48.0 * kSteps * kCalls / t / 1e9);
  }
  return best;
}

}  // namespace

CoreReading read_core() {
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return {};
  alignas(64) static double a[kSteps * 6], b[kSteps * 8], c[48];
  for (int i = 0; i < kSteps * 6; ++i) a[i] = 1e-3 * (i % 7);
  for (int i = 0; i < kSteps * 8; ++i) b[i] = 1e-3 * (i % 5);
  CoreReading r;
  r.separate = rate(separate, a, b, c);
  r.fused = rate(fused, a, b, c);
  return r;
}

}  // namespace drav::bench

#else

namespace drav::bench {

CoreReading read_core() {
  return {};
}

}  // namespace drav::bench

#endif
