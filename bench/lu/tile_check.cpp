// drav_tile_check: what this core gives the product's register tile right now. Times the
// 6 x 8 tile of the AVX2 kernel (a multiply and an addition for each term, as the factorization
// needs them) and the same tile with fused multiply-adds (what dgetrf uses), both with
// everything in L1, one after the other in each round. On an idle core the two rates are about
// equal (the multiplies and the additions go to different pipes); where the core's pipes are
// shared with other work, the separate operations, twice as many, lose more. Read the
// factorization's ratios against dgetrf beside this one.
//
// Usage: drav_tile_check [--rounds R] [--gap SECONDS]
// Compiled for AVX2 with FMA (the contraction of separate operations stays off): it runs on
// such processors only.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__x86_64__) && defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

#include "factor/blocked/tile_kernels.h"
#include "factor/blocked/vec256.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSteps = 256;

__attribute__((noinline)) void separate(const double* a, const double* b, double* c) {
  drav::blocked::TileKernels<drav::blocked::Vec256, 6, 2>::tile<true>(kSteps, a, 0, b, c, 8);
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

// G multiply-adds per second of `tile`, the best of five stretches of about 20 ms.
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

int main(int argc, char** argv) {
  int rounds = 10;
  double gap = 0.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--gap") && i + 1 < argc) {
      gap = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--rounds R] [--gap SECONDS]\n", argv[0]);
      return 2;
    }
  }
  alignas(64) static double a[kSteps * 6], b[kSteps * 8], c[48];
  for (int i = 0; i < kSteps * 6; ++i) a[i] = 1e-3 * (i % 7);
  for (int i = 0; i < kSteps * 8; ++i) b[i] = 1e-3 * (i % 5);
  std::printf("# G multiply-adds per second of the 6 x 8 tile in L1, best of 5 stretches\n");
  std::printf("%-5s %12s %8s %8s\n", "round", "mul + add", "fused", "ratio");
  for (int r = 0; r < rounds; ++r) {
    if (r > 0 && gap > 0) std::this_thread::sleep_for(std::chrono::duration<double>(gap));
    const double s = rate(separate, a, b, c), f = rate(fused, a, b, c);
    std::printf("%-5d %12.2f %8.2f %8.2f\n", r + 1, s, f, f / s);
    std::fflush(stdout);
  }
  return 0;
}

#else

int main() {
  std::printf("drav_tile_check is built for x86-64 with AVX2 and FMA only\n");
  return 0;
}

#endif
