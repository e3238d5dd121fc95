// The 512-bit vector type of tile_kernels.h, for the instruction-set file that runs on eight
// lanes. Included only by that file, compiled with its flags; the anonymous namespace keeps
// every function it instantiates the file's own.
#pragma once

#include <immintrin.h>

namespace drav::blocked {
namespace {

// Separate multiply and add intrinsics; with contraction off the compiler keeps them apart.
struct Vec512 {
  using T = __m512d;
  static constexpr int W = 8;
  static T load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, T v) { _mm512_storeu_pd(p, v); }
  static T set1(double x) { return _mm512_set1_pd(x); }
  static T add(T a, T b) { return _mm512_add_pd(a, b); }
  static T sub(T a, T b) { return _mm512_sub_pd(a, b); }
  static T mul(T a, T b) { return _mm512_mul_pd(a, b); }
  static T div(T a, T b) { return _mm512_div_pd(a, b); }
  // Eight magnitudes in single precision; max_ps returns its second operand when the first is
  // NaN, so NaN never enters the running maximum.
  using F = __m256;
  static F no_magnitude() { return _mm256_setzero_ps(); }
  static F max_magnitude(const double* x, F most) {
    // (All eight lanes; the merge source only keeps a compiler from warning.)
    const __m256 f = _mm512_mask_cvtpd_ps(_mm256_setzero_ps(), 0xFF, _mm512_loadu_pd(x));
    return _mm256_max_ps(_mm256_andnot_ps(_mm256_set1_ps(-0.0f), f), most);
  }
  static float largest(F most) {
    __m128 h = _mm_max_ps(_mm256_castps256_ps128(most), _mm256_extractf128_ps(most, 1));
    h = _mm_max_ps(h, _mm_movehl_ps(h, h));
    return _mm_cvtss_f32(_mm_max_ss(h, _mm_shuffle_ps(h, h, 1)));
  }
};

}  // namespace
}  // namespace drav::blocked
