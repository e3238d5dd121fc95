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
  // Four magnitudes in single precision; max_ps returns its second operand when the first is
  // NaN, so NaN never enters the running maximum.
  using F = __m128;
  static F no_magnitude() { return _mm_setzero_ps(); }
  static F max_magnitude(const double* x, F most) {
    const __m128 f = _mm256_cvtpd_ps(_mm256_loadu_pd(x));
    return _mm_max_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), f), most);
  }
  static float largest(F most) {
    const __m128 h = _mm_max_ps(most, _mm_movehl_ps(most, most));
    return _mm_cvtss_f32(_mm_max_ss(h, _mm_shuffle_ps(h, h, 1)));
  }
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
