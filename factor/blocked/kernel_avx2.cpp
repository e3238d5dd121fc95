// The kernels for AVX2 (this file is compiled with -mavx2 and without FMA): a 6 x 8 tile, twelve
// accumulators of four lanes in the sixteen vector registers.
#include "factor/blocked/kernels.h"

#if defined(__x86_64__) && defined(__AVX2__)

#include <immintrin.h>

#include "factor/blocked/tile_kernels.h"

namespace drav::blocked {

namespace {

// Separate multiply and add intrinsics; with contraction off the compiler keeps them apart.
struct Avx2 {
  using T = __m256d;
  static constexpr int W = 4;
  static T load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, T v) { _mm256_storeu_pd(p, v); }
  static T set1(double x) { return _mm256_set1_pd(x); }
  static T add(T a, T b) { return _mm256_add_pd(a, b); }
  static T sub(T a, T b) { return _mm256_sub_pd(a, b); }
  static T mul(T a, T b) { return _mm256_mul_pd(a, b); }
  static T div(T a, T b) { return _mm256_div_pd(a, b); }
};

const Kernels kTable = TileKernels<Avx2, 6, 2>::table(Isa::Avx2);

}  // namespace

const Kernels* avx2_kernels() {
  return &kTable;
}

}  // namespace drav::blocked

#else

namespace drav::blocked {
const Kernels* avx2_kernels() {
  return nullptr;
}
}  // namespace drav::blocked

#endif
