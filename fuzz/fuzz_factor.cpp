// The factorization kernels against the literal scheme on matrices made from the input: every
// kernel path (factor_system on each path, LUDECOMP_BAND, LUDECOMP_BLOCKED, the blocked scheme
// with small and default blocks) with every instruction-set variant the processor runs, at 1
// thread and at 2 or 3, compared bit for bit by the shared harness (tests/support/
// lu_differential.h): factors, row order, step and pivot, as each outcome promises them.
//
// Input: a header of 8 bytes, then records of 3 bytes that plant one value each.
//   byte 0   the order: below 160 1-40, below 248 41-128, else 161-280 (every 17th, to
//            cross the default block of 256 columns): the larger ones are slow, so the
//            fuzzer meets them less often
//   byte 1   bits 0-1: rows and columns of filler beyond the system; bit 2: symmetric
//            (mirrored, so factor_system runs too); bits 3-5: the fill; bits 6-7: the
//            structure (dense, band, profile, dense)
//   byte 2   the half band: 1-8 below 128, else 1 to the order
//   byte 3   bits 0-1: the half band announced to the blocked kernels (the true one, 1 or 2
//            wider, or out of range: 0 with bit 3, else N + 7); bit 2: 3 threads rather
//            than 2
//   bytes 4-6 the small block shape: block, panel, depth, triangle, panel rows, chunk rows,
//            and whether every phase runs in parallel
//   byte 7   the seed of the fill (with the other header bytes)
//   records  row, column (moved into the structure), value code (see value())
// A short input is padded with zeros.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "fuzz/harness.h"
#include "tests/support/lu_differential.h"

namespace {

using drav::Matrix;
namespace lu = drav::testing;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMin = std::numeric_limits<double>::min();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();
constexpr double kMax = std::numeric_limits<double>::max();

// A value from one byte: small integers (exact zeros, ties, singular minors), values that are
// not finite or overflow, pivots at the tolerance, subnormals, magnitudes that differ in double
// but not in single precision, and ordinary values of moderate size.
double value(uint8_t code) {
  const double sign = (code & 1) ? -1.0 : 1.0;
  const int k = (code >> 1) & 15;
  const double tol = drav::PIVTOL;
  switch (code >> 5) {
    case 0:
      return static_cast<double>(code % 5) - 2.0;
    case 1: {
      const double nan = lu::processor_nan();
      const double special[16] = {
          0.0,   nan,    kInf,   1.5e308,
          1e300, kMax,   1e154,  std::numeric_limits<double>::quiet_NaN(),
          0.0,   nan,    kInf,   8.9e307,
          1e200, 1e-300, 3e-160, std::bit_cast<double>(0x7ff4000000000123ull)};
      const double v = special[k];
      return std::isnan(v) ? v : sign * v;  // -0.0 included; NaNs keep their own sign
    }
    case 2: {
      const double at[8] = {tol,
                            std::nextafter(tol, 0.0),
                            std::nextafter(tol, 1.0),
                            1e-7,
                            static_cast<double>(std::nextafter(1.0e-7f, 0.0f)),
                            2 * tol,
                            tol / 2,
                            tol * (1 + 0x1p-30)};
      return sign * at[k % 8];
    }
    case 3: {
      const double sub[8] = {kTiny,     3 * kTiny, kMin,      kMin - kTiny,
                             0x1p-1060, kMin / 2,  0x1p-1000, 1.5 * kMin};
      return sign * sub[k % 8];
    }
    case 4: {
      const double ties[16] = {1.0,           1.0 + 0x1p-30,     1.0 - 0x1p-40, 1.0 + 0x1p-24,
                               1.0 + 0x1p-23, 1.0 + 3 * 0x1p-24, 0.5 - 0x1p-33, 2.0 - 0x1p-29,
                               0.75,          0.75 + 0x1p-28,    3.0,           3.0 + 0x1p-23,
                               1e-3,          1e-3 + 0x1p-40,    1e8,           1e8 + 1.0};
      return sign * ties[k];
    }
    default:
      return sign * (1.0 + (k & 7) / 8.0) * std::ldexp(1.0, ((code >> 4) - 12) * 3 + (k >> 3));
  }
}

enum class Fill { Zeros, Uniform, ScaledRows, SmallIntegers, SingleTies, Graded, Triangle, Sparse };
enum class Structure { Dense, Band, Profile };

struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t at(size_t i) const { return i < size ? data[i] : 0; }
};

// The matrix a (rows from 0) and what the kernels are told about it.
struct Case {
  int n = 1;
  bool symmetric = false;
  std::vector<std::vector<double>> a;
};

double draw(Fill fill, int i, int j, double row_scale, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  switch (fill) {
    case Fill::Zeros:
      return 0.0;
    case Fill::Uniform:
      return u(rng);
    case Fill::ScaledRows:  // rows of very different sizes, a small diagonal: exchanges
      return u(rng) * row_scale * (i == j ? 1e-3 : 1.0);
    case Fill::SmallIntegers:
      return static_cast<double>(std::uniform_int_distribution<int>(-2, 2)(rng));
    case Fill::SingleTies:
      return value(static_cast<uint8_t>(0x80 + std::uniform_int_distribution<int>(0, 31)(rng)));
    case Fill::Graded:  // decaying away from the diagonal: few exchanges
      return u(rng) / (1.0 + 4.0 * std::abs(i - j)) + (i == j ? 2.0 : 0.0);
    case Fill::Triangle:  // an upper triangle, its rows shuffled below: each pivot exactly
      return j < i ? 0.0 : i == j ? (u(rng) < 0 ? -1.0 : 1.0) * (1.5 + u(rng) / 2) : u(rng);
    case Fill::Sparse:  // a diagonal with few other entries: pivots exactly as planted
      return i == j ? (u(rng) < 0 ? -1.0 : 1.0) * (1.5 + u(rng) / 2) : u(rng) < -0.9 ? u(rng) : 0.0;
  }
  return 0.0;
}

Case decode(Input in, int& b) {
  Case c;
  const uint8_t b0 = in.at(0), b1 = in.at(1);
  c.n = b0 < 160 ? 1 + b0 % 40 : b0 < 248 ? 41 + (b0 - 160) : 161 + (b0 - 248) * 17;
  const int n = c.n;
  const auto fill = static_cast<Fill>((b1 >> 3) & 7);
  const int s = (b1 >> 6) & 3;
  const Structure structure = s == 1   ? Structure::Band
                              : s == 2 ? Structure::Profile
                                       : Structure::Dense;
  c.symmetric = (b1 & 4) && fill != Fill::Triangle;
  b = in.at(2) < 128 ? 1 + in.at(2) % 8 : 1 + in.at(2) % n;
  b = std::min(b, n);
  if (structure == Structure::Dense) b = n;

  uint64_t seed = 0;
  for (size_t i = 0; i < 8; ++i) seed = seed << 8 | in.at(i);
  std::mt19937_64 rng(seed);
  // A profile: row i holds columns lo[i] .. i, and column i the mirror.
  std::vector<int> lo(n);
  std::uniform_int_distribution<int> reach(0, b - 1);
  for (int i = 0; i < n; ++i) lo[i] = std::max(0, i - reach(rng));
  auto inside = [&](int i, int j) {
    if (structure != Structure::Profile) return std::abs(i - j) < b;
    return j <= i ? j >= lo[i] : i >= lo[j];
  };

  c.a.assign(n, std::vector<double>(n, 0.0));
  std::uniform_int_distribution<int> expo(-12, 12);
  for (int i = 0; i < n; ++i) {
    const double row_scale = std::ldexp(1.0, expo(rng));
    for (int j = 0; j < n; ++j)
      if (inside(i, j)) c.a[i][j] = draw(fill, i, j, row_scale, rng);
  }
  // The planted values, inside the structure (the triangle's before its rows are shuffled).
  for (size_t r = 8; r + 3 <= in.size; r += 3) {
    const int i = in.at(r) % n;
    int j = in.at(r + 1) % n;
    if (structure == Structure::Band) j = i - (b - 1) + in.at(r + 1) % (2 * b - 1);
    if (j < 0 || j >= n || !inside(i, j)) j = i;
    c.a[i][j] = value(in.at(r + 2));
    if (c.symmetric) c.a[j][i] = c.a[i][j];
  }
  if (c.symmetric)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < i; ++j) c.a[i][j] = c.a[j][i];
  if (fill == Fill::Triangle) std::shuffle(c.a.begin(), c.a.end(), rng);
  return c;
}

// The narrowest half band that holds every entry that is not +0.0.
int true_band(const Case& c) {
  int b = 1;
  for (int i = 0; i < c.n; ++i)
    for (int j = 0; j < c.n; ++j)
      if (lu::lu_bits(c.a[i][j]) != 0) b = std::max(b, std::abs(i - j) + 1);
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Input in{data, size};
  int b = 1;
  const Case c = decode(in, b);
  const int n = c.n;
  const uint8_t b3 = in.at(3), b4 = in.at(4), b5 = in.at(5), b6 = in.at(6);

  // The entries, with filler rows and columns beyond the system.
  const int extra = in.at(1) & 3;
  Matrix a;
  a.allocate(n + extra);
  for (int i = 1; i <= n + extra; ++i)
    for (int j = 1; j <= n + extra; ++j)
      a(i, j) = (i <= n && j <= n) ? c.a[i - 1][j - 1] : -1.25e300;

  const int tb = true_band(c);
  const int wider = b3 & 3;
  lu::KernelChoice k;
  k.n = n;
  k.half_band = wider < 3 ? std::min(n, tb + wider) : (b3 & 8) ? 0 : n + 7;
  k.band = std::min(n, std::max(tb, b));
  k.threads = (b3 & 4) ? 3 : 2;
  k.symmetric = c.symmetric;
  k.shape.block = 1 + b4 % 24;
  k.shape.team_block = k.shape.block + (b3 >> 7) * 8;
  k.shape.panel = 1 + (b4 >> 5) * 2 + b5 % 2;
  k.shape.depth = 1 + (b5 >> 1) % 16;
  k.shape.triangle = 1 + (b5 >> 5);
  k.shape.group = 1 + (b3 >> 4) % 8;
  k.shape.panel_rows = 1 + b6 % 8;
  k.shape.chunk_rows = 1 + (b6 >> 3) % 16;
  if (b6 & 128) k.shape.parallel_work = 1;

  const std::string d = lu::first_kernel_difference(lu::every_kernel(k), {a, n});
  if (!d.empty()) {
    std::fprintf(stderr, "%s\n", d.c_str());
    FUZZ_CHECK(d.empty());
  }
  return 0;
}
