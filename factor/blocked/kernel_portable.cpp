// The kernels in plain C++ for any processor (on x86-64 the compiler's baseline, SSE2): a
// 4 x 4 tile of scalars.
#include <cmath>

#include "factor/blocked/isa.h"
#include "factor/blocked/tile_kernels.h"

namespace drav::blocked {

namespace {

struct Scalar {
  using T = double;
  static constexpr int W = 1;
  static T load(const double* p) { return *p; }
  static void store(double* p, T v) { *p = v; }
  static T set1(double x) { return x; }
  static T add(T a, T b) { return a + b; }
  static T sub(T a, T b) { return a - b; }
  static T mul(T a, T b) { return a * b; }
  static T div(T a, T b) { return a / b; }
  using F = float;
  static F no_magnitude() { return 0.0f; }
  static F max_magnitude(const double* x, F most) {
    const float m = std::fabs(static_cast<float>(*x));
    return m > most ? m : most;
  }
  static float largest(F most) { return most; }
};

constinit const Kernels kTable = TileKernels<Scalar, 4, 4>::table(Isa::Portable);

}  // namespace

const Kernels* portable_kernels() {
  return &kTable;
}

}  // namespace drav::blocked
