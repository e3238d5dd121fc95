// The 256-bit vector type of tile_kernels.h, for the instruction-set files that run on four
// lanes (AVX2 and AVX-512 alike). Included only by those files, each compiled with its own
// flags: the anonymous namespace gives every one of them its own copy, so that no function
// compiled for one instruction set can stand in for another's at link time.
#pragma once

#include <immintrin.h>

namespace drav::blocked {
namespace {

// Separate multiply and add intrinsics; with contraction off the compiler keeps them apart.
struct Vec256 {
  using T = __m256d;
  static constexpr int W = 4;
  static T load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, T v) { _mm256_storeu_pd(p, v); }
  static T set1(double x) { return _mm256_set1_pd(x); }
  static T add(T a, T b) { return _mm256_add_pd(a, b); }
  static T sub(T a, T b) { return _mm256_sub_pd(a, b); }
  static T mul(T a, T b) { return _mm256_mul_pd(a, b); }
  static T div(T a, T b) { return _mm256_div_pd(a, b); }
  // r[0..3], the rows of a 4 x 4 block, become its columns.
  static void transpose(T r[4]) {
    const T t0 = _mm256_unpacklo_pd(r[0], r[1]), t1 = _mm256_unpackhi_pd(r[0], r[1]);
    const T t2 = _mm256_unpacklo_pd(r[2], r[3]), t3 = _mm256_unpackhi_pd(r[2], r[3]);
    r[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    r[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    r[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    r[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
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

}  // namespace
}  // namespace drav::blocked
