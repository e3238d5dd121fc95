// The kernels of kernels.h written once over a small vector type, instantiated by each
// instruction set's source file (included there only, compiled with that file's flags). The
// vector types live in anonymous namespaces, so each instantiation is the file's own: nothing
// here may have external linkage, or the linker could hand one instruction set's code to
// another's callers.
//
// A vector type V provides: T, W (lanes), load, store (unaligned), set1, add, sub, mul, div,
// and max_magnitude (the largest |(float)x[i]| of W values, NaN left out, merged into a running
// maximum); with four lanes also transpose (four vectors as the rows of a 4 x 4 block turned
// into its columns, a pure move of values). Everything here is lane-wise, so each lane performs
// exactly the scalar operations.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "factor/blocked/kernels.h"

namespace drav::blocked {

template <class V, int MR, int NV>
struct TileKernels {
  using T = typename V::T;
  static constexpr int W = V::W;
  static constexpr int NR = NV * W;

  // The blocking of the product, for a core with 32 KB of L1 data cache, 512 KB of L2 and a
  // shared L3. A panel of MR rows of A takes runs of at most kDepth steps of m (12 KB for six
  // rows: it stays in L1) and goes along every tile of B in a block of at most kBlockColumns
  // columns (kDepth x NR values per tile, read from L2 and L3: 2 MB for the whole block). C
  // takes each run's terms before the next run's, its tiles stored in between.
  static constexpr int kDepth = 256;
  static constexpr int kBlockColumns = 1024 / NR * NR;
  // A panel that serves more than this many columns is first copied into one stream of MR
  // values per m: where the rows of A stand a power of two apart in memory they fall into the
  // same cache sets, and the copy costs little against the tiles that read it. A narrower
  // product reads A where it stands.
  static constexpr int kPackColumns = 4 * NR;

  // One tile of R rows (R = MR but at the last rows of C): C(R x NR) += A(R x k) * Bp(k x NR),
  // A packed (kPacked: MR values per m) or in place (row i at a + i*lda). The tile stays in
  // registers through the whole run of m; each accumulator receives its terms in ascending m.
  template <bool kPacked, int R = MR>
  static inline void tile(int k, const double* a, int64_t lda, const double* bp, double* c,
                          int64_t ldc) {
    T acc[R][NV];
#pragma GCC unroll 16
    for (int i = 0; i < R; ++i)
#pragma GCC unroll 8
      for (int j = 0; j < NV; ++j) acc[i][j] = V::load(c + i * ldc + j * W);
    const double* ar[R];
#pragma GCC unroll 16
    for (int i = 0; i < R; ++i) ar[i] = a + i * lda;
    for (int m = 0; m < k; ++m) {
      T bv[NV];
#pragma GCC unroll 8
      for (int j = 0; j < NV; ++j) bv[j] = V::load(bp + m * NR + j * W);
#pragma GCC unroll 16
      for (int i = 0; i < R; ++i) {
        const T av = V::set1(kPacked ? a[m * MR + i] : ar[i][m]);
#pragma GCC unroll 8
        for (int j = 0; j < NV; ++j) acc[i][j] = V::add(acc[i][j], V::mul(av, bv[j]));
      }
    }
#pragma GCC unroll 16
    for (int i = 0; i < R; ++i)
#pragma GCC unroll 8
      for (int j = 0; j < NV; ++j) V::store(c + i * ldc + j * W, acc[i][j]);
  }

  // Rows [0, rows) (at most MR) of A, k steps of m from a (row i at a + i*lda), as `tile` reads
  // a packed panel: MR values per m, rows from `rows` on +0.0. A full panel is the rows stored
  // as columns of MR values (to_columns, inlined here so that the rows are counted at compile
  // time).
  static void pack_panel(int rows, int k, const double* a, int64_t lda, double* dst) {
    if (rows == MR) {
      const double* ar[MR];
      for (int i = 0; i < MR; ++i) ar[i] = a + i * lda;
      to_columns(MR, k, ar, dst, MR);
      return;
    }
    for (int m = 0; m < k; ++m)
      for (int i = 0; i < MR; ++i) dst[m * MR + i] = i < rows ? a[i * lda + m] : 0.0;
  }

  // A block of rows stored as columns and back. Four columns at a time, the rows read side by
  // side (their loads from memory overlap); with four lanes each four rows by four columns are
  // turned in registers (a 4 x 4 block turned twice is itself), the rows past the last four
  // and the columns past the last four one value at a time.
  [[gnu::always_inline]] static inline void to_columns(int rows, int n, const double* const* src,
                                                       double* dst, int64_t ld) {
    int j = 0;
    if constexpr (W == 4) {
      const int whole = rows / 4 * 4;
      for (; j + 4 <= n; j += 4) {
#pragma GCC unroll 4
        for (int q0 = 0; q0 < whole; q0 += 4) {
          T r[4] = {V::load(src[q0] + j), V::load(src[q0 + 1] + j), V::load(src[q0 + 2] + j),
                    V::load(src[q0 + 3] + j)};
          V::transpose(r);
#pragma GCC unroll 4
          for (int c = 0; c < 4; ++c) V::store(dst + (j + c) * ld + q0, r[c]);
        }
#pragma GCC unroll 4
        for (int c = 0; c < 4; ++c)
#pragma GCC unroll 4
          for (int q = whole; q < rows; ++q) dst[(j + c) * ld + q] = src[q][j + c];
      }
    }
    for (; j < n; ++j)
#pragma GCC unroll 16
      for (int q = 0; q < rows; ++q) dst[j * ld + q] = src[q][j];
  }

  static void from_columns(int rows, int n, const double* src, int64_t ld, double* const* dst) {
    int j = 0;
    if constexpr (W == 4) {
      const int whole = rows / 4 * 4;
      for (; j + 4 <= n; j += 4) {
        for (int q0 = 0; q0 < whole; q0 += 4) {
          T r[4] = {V::load(src + j * ld + q0), V::load(src + (j + 1) * ld + q0),
                    V::load(src + (j + 2) * ld + q0), V::load(src + (j + 3) * ld + q0)};
          V::transpose(r);
#pragma GCC unroll 4
          for (int q = 0; q < 4; ++q) V::store(dst[q0 + q] + j, r[q]);
        }
        for (int c = 0; c < 4; ++c)
          for (int q = whole; q < rows; ++q) dst[q][j + c] = src[(j + c) * ld + q];
      }
    }
    for (; j < n; ++j)
      for (int q = 0; q < rows; ++q) dst[q][j] = src[j * ld + q];
  }

  // A tile cut by the right edge of C: a full tile on a copy of its valid part (the columns past
  // the edge compute on zeros and are dropped).
  template <bool kPacked, int R>
  static void edge_tile(int cols, int k, const double* a, int64_t lda, const double* bp, double* c,
                        int64_t ldc) {
    alignas(64) double ct[R * NR];
    for (int i = 0; i < R; ++i)
      for (int j = 0; j < NR; ++j) ct[i * NR + j] = j < cols ? c[i * ldc + j] : 0.0;
    tile<kPacked, R>(k, a, lda, bp, ct, NR);
    for (int i = 0; i < R; ++i)
      for (int j = 0; j < cols; ++j) c[i * ldc + j] = ct[i * NR + j];
  }

  // One panel of A (R rows, packed or in place) along the tiles of B for the columns [0, ncols):
  // the tiles of B at bp, one every `stride` values. With `next` (MR rows of kc values, row i
  // at next + i*lda) the lines of the next panel to be packed are asked for on the way, a share
  // before each tile: its rows come from memory, and the copy would wait for each line.
  template <bool kPacked, int R = MR>
  static void along(int ncols, int kc, const double* a, int64_t lda, const double* bp,
                    int64_t stride, double* c, int64_t ldc, const double* next = nullptr,
                    int64_t next_ld = 0) {
    constexpr int kLine = 8;  // doubles in a cache line
    // The lines a row of kc values can touch, whatever its alignment; the next one to ask for.
    const int row_lines = (kc + kLine - 1) / kLine + 1;
    const int tiles = (ncols + NR - 1) / NR;
    const int per_tile = next ? (MR * row_lines + tiles - 1) / tiles : 0;
    int row = 0, line = 0;
    for (int j0 = 0; j0 < ncols; j0 += NR, bp += stride) {
      for (int q = 0; q < per_tile && row < MR; ++q) {
        __builtin_prefetch(next + row * next_ld + line * kLine);
        if (++line == row_lines) line = 0, ++row;
      }
      const int cols = std::min(NR, ncols - j0);
      if (cols == NR) {
        tile<kPacked, R>(kc, a, lda, bp, c + j0, ldc);
      } else {
        edge_tile<kPacked, R>(cols, kc, a, lda, bp, c + j0, ldc);
      }
    }
  }

  // The last panel of C, of `rows` < MR rows (R or fewer), packed: a tile of its own height.
  template <int R>
  static void along_last(int rows, int ncols, int kc, const double* pa, const double* bp,
                         int64_t stride, double* c, int64_t ldc) {
    if constexpr (R > 0) {
      if (rows == R) {
        along<true, R>(ncols, kc, pa, 0, bp, stride, c, ldc);
      } else {
        along_last<R - 1>(rows, ncols, kc, pa, bp, stride, c, ldc);
      }
    }
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
    const int64_t stride = static_cast<int64_t>(k) * NR;
    alignas(64) double panel[MR * kDepth];
    for (int p0 = 0; p0 < k; p0 += kDepth) {
      const int kc = std::min(kDepth, k - p0);
      for (int j0 = 0; j0 < ncols; j0 += kBlockColumns) {
        const int nc = std::min(kBlockColumns, ncols - j0);
        const double* bb =
            bp + static_cast<int64_t>(j0) / NR * stride + static_cast<int64_t>(p0) * NR;
        for (int i0 = 0; i0 < m_rows; i0 += MR) {
          const int rows = std::min(MR, m_rows - i0);
          const double* ai = a + i0 * lda + p0;
          double* ci = c + i0 * ldc + j0;
          if (rows < MR) {
            pack_panel(rows, kc, ai, lda, panel);
            along_last<MR - 1>(rows, nc, kc, panel, bb, stride, ci, ldc);
          } else if (nc > kPackColumns) {
            pack_panel(rows, kc, ai, lda, panel);
            const bool more = i0 + 2 * MR <= m_rows;
            along<true>(nc, kc, panel, 0, bb, stride, ci, ldc, more ? ai + MR * lda : nullptr, lda);
          } else {
            along<false>(nc, kc, ai, lda, bb, stride, ci, ldc);
          }
        }
      }
    }
  }

  static void swap(int n, double* x, double* y) {
    int j = 0;
    for (; j + W <= n; j += W) {
      const T a = V::load(x + j), b = V::load(y + j);
      V::store(x + j, b);
      V::store(y + j, a);
    }
    for (; j < n; ++j) std::swap(x[j], y[j]);
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

  static constexpr Kernels table(Isa isa) {
    return Kernels{isa,      MR,   NR,   kDepth,     kBlockColumns, kPackColumns,
                   pack_b,   gemm, swap, to_columns, from_columns,  axpy,
                   axpy_col, sub,  div,  pivot};
  }
};

}  // namespace drav::blocked
