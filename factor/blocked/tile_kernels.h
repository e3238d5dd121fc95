// The kernels of kernels.h written once over a small vector type, instantiated by each
// instruction set's source file (included there only, compiled with that file's flags). The
// vector types live in anonymous namespaces, so each instantiation is the file's own: nothing
// here may have external linkage, or the linker could hand one instruction set's code to
// another's callers.
//
// A vector type V provides: T, W (lanes), load, store (unaligned), set1, add, sub, mul, div,
// and max_magnitude (the largest |(float)x[i]| of W values, NaN left out, merged into a running
// maximum). Everything here is lane-wise, so each lane performs exactly the scalar operations.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "factor/blocked/kernels.h"

namespace drav::blocked {

template <class V, int MR, int NV>
struct TileKernels {
  using T = typename V::T;
  static constexpr int W = V::W;
  static constexpr int NR = NV * W;
  // Longest run of the summation index an edge tile copies at once.
  static constexpr int kEdgeChunk = 256;

  // One full tile: C(MR x NR) += A(MR x k) * Bp(k x NR). The tile stays in registers through
  // the whole run of m; each accumulator receives its terms in ascending m.
  static inline void tile(int k, const double* a, int64_t lda, const double* bp, double* c,
                          int64_t ldc) {
    T acc[MR][NV];
#pragma GCC unroll 16
    for (int i = 0; i < MR; ++i)
#pragma GCC unroll 8
      for (int j = 0; j < NV; ++j) acc[i][j] = V::load(c + i * ldc + j * W);
    const double* ar[MR];
#pragma GCC unroll 16
    for (int i = 0; i < MR; ++i) ar[i] = a + i * lda;
    for (int m = 0; m < k; ++m) {
      T bv[NV];
#pragma GCC unroll 8
      for (int j = 0; j < NV; ++j) bv[j] = V::load(bp + m * NR + j * W);
#pragma GCC unroll 16
      for (int i = 0; i < MR; ++i) {
        const T av = V::set1(ar[i][m]);
#pragma GCC unroll 8
        for (int j = 0; j < NV; ++j) acc[i][j] = V::add(acc[i][j], V::mul(av, bv[j]));
      }
    }
#pragma GCC unroll 16
    for (int i = 0; i < MR; ++i)
#pragma GCC unroll 8
      for (int j = 0; j < NV; ++j) V::store(c + i * ldc + j * W, acc[i][j]);
  }

  // A tile cut by the edge of C: the valid part goes through a full tile in local memory (rows
  // past the edge compute on zeros and are dropped), the run of m in chunks.
  static void edge_tile(int rows, int cols, int k, const double* a, int64_t lda, const double* bp,
                        double* c, int64_t ldc) {
    alignas(64) double ct[MR * NR];
    alignas(64) double at[MR * kEdgeChunk];
    for (int i = 0; i < MR; ++i)
      for (int j = 0; j < NR; ++j) ct[i * NR + j] = (i < rows && j < cols) ? c[i * ldc + j] : 0.0;
    for (int m0 = 0; m0 < k; m0 += kEdgeChunk) {
      const int kk = std::min(kEdgeChunk, k - m0);
      for (int i = 0; i < MR; ++i)
        for (int m = 0; m < kk; ++m) at[i * kEdgeChunk + m] = i < rows ? a[i * lda + m0 + m] : 0.0;
      tile(kk, at, kEdgeChunk, bp + static_cast<int64_t>(m0) * NR, ct, NR);
    }
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) c[i * ldc + j] = ct[i * NR + j];
  }

  static void pack_b(int k, int ncols, const double* b, int64_t ldb, double* bp) {
    for (int j0 = 0; j0 < ncols; j0 += NR) {
      const int w = std::min(NR, ncols - j0);
      if (w == NR) {
        for (int m = 0; m < k; ++m) {
          const double* src = b + m * ldb + j0;
          double* dst = bp + static_cast<int64_t>(m) * NR;
#pragma GCC unroll 8
          for (int j = 0; j < NV; ++j) V::store(dst + j * W, V::load(src + j * W));
        }
      } else {
        for (int m = 0; m < k; ++m) {
          const double* src = b + m * ldb + j0;
          double* dst = bp + static_cast<int64_t>(m) * NR;
          for (int j = 0; j < w; ++j) dst[j] = src[j];
          for (int j = w; j < NR; ++j) dst[j] = 0.0;
        }
      }
      bp += static_cast<int64_t>(k) * NR;
    }
  }

  static void gemm(int m_rows, int ncols, int k, const double* a, int64_t lda, const double* bp,
                   double* c, int64_t ldc) {
    if (k <= 0) return;
    for (int i0 = 0; i0 < m_rows; i0 += MR) {
      const int rows = std::min(MR, m_rows - i0);
      const double* ai = a + i0 * lda;
      double* ci = c + i0 * ldc;
      const double* bt = bp;
      for (int j0 = 0; j0 < ncols; j0 += NR, bt += static_cast<int64_t>(k) * NR) {
        const int cols = std::min(NR, ncols - j0);
        if (rows == MR && cols == NR) {
          tile(k, ai, lda, bt, ci + j0, ldc);
        } else {
          edge_tile(rows, cols, k, ai, lda, bt, ci + j0, ldc);
        }
      }
    }
  }

  static void axpy(int n, double x, const double* u, double* y) {
    const T xv = V::set1(x);
    int j = 0;
    for (; j + W <= n; j += W) V::store(y + j, V::add(V::load(y + j), V::mul(xv, V::load(u + j))));
    for (; j < n; ++j) y[j] = y[j] + x * u[j];
  }

  static void axpy_col(int n, const double* l, double u, double* y) {
    const T uv = V::set1(u);
    int i = 0;
    for (; i + W <= n; i += W) V::store(y + i, V::add(V::load(y + i), V::mul(V::load(l + i), uv)));
    for (; i < n; ++i) y[i] = y[i] + l[i] * u;
  }

  static void sub(int n, const double* a, const double* s, double* out) {
    int j = 0;
    for (; j + W <= n; j += W) V::store(out + j, V::sub(V::load(a + j), V::load(s + j)));
    for (; j < n; ++j) out[j] = a[j] - s[j];
  }

  static void div(int n, double* x, double d) {
    const T dv = V::set1(d);
    int i = 0;
    for (; i + W <= n; i += W) V::store(x + i, V::div(V::load(x + i), dv));
    for (; i < n; ++i) x[i] = x[i] / d;
  }

  // The largest magnitude first, then the first value that has it: the same row as a scan
  // that keeps the first strictly larger one.
  static int pivot(int n, const double* x) {
    float most = 0.0f;
    int i = 0;
    if (n >= W) {
      typename V::F acc = V::no_magnitude();
      for (; i + W <= n; i += W) acc = V::max_magnitude(x + i, acc);
      most = V::largest(acc);
    }
    for (; i < n; ++i) {
      const float m = std::fabs(static_cast<float>(x[i]));
      if (m > most) most = m;
    }
    if (!(most > 0.0f)) return -1;
    for (i = 0; i < n; ++i)
      if (std::fabs(static_cast<float>(x[i])) == most) return i;
    return -1;
  }

  static Kernels table(Isa isa) {
    return Kernels{isa, MR, NR, pack_b, gemm, axpy, axpy_col, sub, div, pivot};
  }
};

}  // namespace drav::blocked
