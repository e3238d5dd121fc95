// The band factorization on band storage against the literal one on the dense matrix, byte
// for byte: every row of the factored matrix (signed zeros count), after a complete
// factorization and after a failure, the row order, the step, the pivot and the failure
// records written from them. And the inputs it must decline.
#include "factor/band_lu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "factor/ludecomp.h"
#include "factor_support.h"
#include "recio/textio.h"

namespace drav {
namespace {

using testing_factor::bits;

using testing_factor::Dense;
using testing_factor::kInf;
using testing_factor::kNaN;

Matrix to_matrix(const Dense& a) {
  const int32_t n = static_cast<int32_t>(a.size());
  Matrix m;
  m.allocate(n);
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = 1; j <= n; ++j) m(i, j) = a[i - 1][j - 1];
  return m;
}

// Band storage of half band nband (clamped to 1..n) of a matrix whose entries outside it are
// +0.0; false when one is not.
bool to_band(const Dense& a, int32_t nband, BandMatrix& B) {
  const int32_t n = static_cast<int32_t>(a.size());
  const int32_t b = std::clamp(nband, 1, std::max(n, 1));
  if (!B.allocate(n, b)) return false;
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = 1; j <= n; ++j) {
      const double v = a[i - 1][j - 1];
      if (std::abs(i - j) < b) {
        B.at(i, j) = v;
      } else if (bits(v) != 0) {
        return false;
      }
    }
  return true;
}

// The outcome as the driver turns it into a record: none, or the failure record.
void write_record(const FactorOutcome& r, const COMPAR& c, recio::TextSink& console) {
  if (r.stop == FactorOutcome::Stop::PivotFailed)
    report_pivot_failure(r.KSTEP, r.pivot, c, console);
}

struct Stats {
  int cases = 0, complete = 0, fail_step1 = 0, fail_later = 0, exchanged = 0;
  int negative_pivots = 0, minus_zero_out = 0;

  // What a family of cases exercised, so that a weakened generator shows in the log.
  void print(const char* family) const {
    std::printf(
        "%s: %d cases, %d complete (%d exchanged), %d failed at step 1, %d later; "
        "%d with negative pivots, %d with -0.0 multipliers\n",
        family, cases, complete, exchanged, fail_step1, fail_later, negative_pivots,
        minus_zero_out);
  }
};

// Runs both factorizations on `a` with band NBAND and expects identical outcomes.
class Differential {
 public:
  void check(const Dense& a, int32_t nband) {
    const int32_t n = static_cast<int32_t>(a.size());
    reports_.clear();
    Matrix lit = to_matrix(a);
    BandMatrix band;
    ASSERT_TRUE(to_band(a, nband, band));
    std::vector<int32_t> iord_lit(n + 1, -7), iord_band(n + 1, -7);
    int32_t ierr_lit = 5, kstep_lit = 5;
    recio::StringSink con_lit, con_band;
    LUDECOMP(lit, n, iord_lit.data(), ierr_lit, kstep_lit, reports_.literal(), con_lit);
    BandFactors F;
    const FactorOutcome r = LUDECOMP_BAND(band, iord_band.data(), F);
    ASSERT_NE(r.stop, FactorOutcome::Stop::Declined);
    write_record(r, reports_.tested(), con_band);
    ASSERT_EQ(r.stop == FactorOutcome::Stop::Complete ? 0 : -1, ierr_lit);
    ASSERT_EQ(r.KSTEP, kstep_lit);
    if (ierr_lit != 0) {
      ASSERT_EQ(bits(r.pivot), bits(lit(kstep_lit, kstep_lit)));
    }
    ASSERT_EQ(iord_band, iord_lit);
    std::vector<double> row(static_cast<size_t>(n));
    for (int32_t p = 1; p <= n; ++p) {
      F.row(p, row.data());
      ASSERT_EQ(std::memcmp(row.data(), lit.row(p), sizeof(double) * n), 0)
          << first_difference(row, lit, p);
    }
    ASSERT_EQ(con_band.text(), con_lit.text());
    ASSERT_EQ(reports_.tested_text(), reports_.literal_text());

    ++stats.cases;
    if (ierr_lit == 0) ++stats.complete;
    if (ierr_lit != 0) ++(kstep_lit == 1 ? stats.fail_step1 : stats.fail_later);
    for (int32_t i = 0; i < n; ++i)
      if (iord_lit[i] != i + 1) {
        ++stats.exchanged;
        break;
      }
    const int32_t steps = std::min(n, kstep_lit - 1);
    for (int32_t k = 1; k <= steps; ++k)
      if (lit(k, k) < 0) {
        ++stats.negative_pivots;
        break;
      }
    for (int32_t i = 1; i <= n; ++i)
      for (int32_t j = 1; j < i; ++j)
        if (bits(lit(i, j)) == bits(-0.0)) {
          ++stats.minus_zero_out;
          i = n;
          break;
        }
  }

  Stats stats;

 private:
  static std::string first_difference(const std::vector<double>& row, const Matrix& lit,
                                      int32_t p) {
    for (int32_t j = 1; j <= lit.order(); ++j)
      if (bits(row[j - 1]) != bits(lit(p, j))) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "first difference at (%d,%d): band %.17g, literal %.17g", p,
                      j, row[j - 1], lit(p, j));
        return buf;
      }
    return "";
  }

  testing_factor::TwoReports reports_;
};

// ---- Generators -------------------------------------------------------------------------

// Stiffness of bars in a strip of nx by ny nodes (two directions per node, numbered across the
// strip), with some bars missing, supports as springs and negative springs that soften the
// structure enough to give negative pivots. `dyadic` keeps every entry a small multiple of
// 1/2, so that ties and exact cancellations (mechanisms, zero pivots) occur. The upper half is
// assembled and mirrored as the matrix generator does.
Dense strip_stiffness(int nx, int ny, bool dyadic, double softening, std::mt19937_64& rng,
                      int32_t& band) {
  const int n = 2 * nx * ny;
  Dense k(n, std::vector<double>(n, 0.0));
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::uniform_int_distribution<int> stiff(1, 4);
  auto node = [&](int ix, int iy) { return ix * ny + iy; };
  auto add_bar = [&](int a, int b, double dx, double dy) {
    double ea = dyadic ? stiff(rng) : std::ldexp(0.5 + u(rng), static_cast<int>(u(rng) * 20));
    double c, s, kk;
    if (dyadic) {
      c = dx, s = dy, kk = (dx != 0 && dy != 0) ? ea * 0.5 : ea;
    } else {
      dx += 0.1 * (u(rng) - 0.5);
      dy += 0.1 * (u(rng) - 0.5);
      const double len = std::hypot(dx, dy);
      c = dx / len, s = dy / len, kk = ea / len;
    }
    const double dir[2] = {c, s};
    const int dofs[4] = {2 * a, 2 * a + 1, 2 * b, 2 * b + 1};
    for (int p = 0; p < 4; ++p)
      for (int q = 0; q < 4; ++q) {
        const double sign = ((p < 2) == (q < 2)) ? 1.0 : -1.0;
        const int i = dofs[p], j = dofs[q];
        if (i <= j) k[i][j] += sign * kk * dir[p % 2] * dir[q % 2];
      }
  };
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy) {
      const int a = node(ix, iy);
      if (ix + 1 < nx && u(rng) < 0.9) add_bar(a, node(ix + 1, iy), 1, 0);
      if (iy + 1 < ny && u(rng) < 0.9) add_bar(a, node(ix, iy + 1), 0, 1);
      if (ix + 1 < nx && iy + 1 < ny && u(rng) < 0.7) add_bar(a, node(ix + 1, iy + 1), 1, 1);
      if (ix + 1 < nx && iy > 0 && u(rng) < 0.5) add_bar(a, node(ix + 1, iy - 1), 1, -1);
    }
  // Supports on the first column of nodes (mostly), a few elastic supports elsewhere.
  for (int d = 0; d < n; ++d) {
    const bool first = d < 2 * ny;
    if ((first && u(rng) < 0.8) || u(rng) < 0.05) k[d][d] += dyadic ? 8.0 : 100.0 * (1 + u(rng));
    if (u(rng) < softening) k[d][d] -= dyadic ? stiff(rng) : 3.0 * u(rng) * k[d][d];
  }
  band = 1;
  for (int i = 0; i < n; ++i)
    for (int j = i; j < n; ++j)
      if (k[i][j] != 0.0) band = std::max(band, j - i + 1);
  for (int i = 1; i < n; ++i)
    for (int j = 0; j < i; ++j) k[i][j] = k[j][i];
  return k;
}

enum class Fill { Uniform, SmallIntegers, SingleTies, Graded };

// Random entries inside the band |i-j| < b (not symmetric), +0.0 outside.
Dense random_band(int n, int b, Fill fill, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<int> small(-2, 2);
  // Magnitudes that differ in double but not in single precision, with both signs.
  const double ties[] = {1.0, 1.0 + 0x1p-30,  1.0 - 0x1p-40, -1.0, -(1.0 + 0x1p-35),
                         0.5, -0.5 - 0x1p-33, 0.0,           2.0,  -2.0 + 0x1p-29};
  std::uniform_int_distribution<int> pick(0, 9);
  Dense a(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int j = std::max(0, i - b + 1); j < std::min(n, i + b); ++j) {
      switch (fill) {
        case Fill::Uniform:
          a[i][j] = u(rng);
          break;
        case Fill::SmallIntegers:
          a[i][j] = small(rng);
          break;
        case Fill::SingleTies:
          a[i][j] = ties[pick(rng)];
          break;
        case Fill::Graded:
          a[i][j] = u(rng) * std::ldexp(1.0, -3 * std::abs(i - j)) + (i == j ? u(rng) * 4 : 0);
          break;
      }
    }
  return a;
}

// Singular variants: column j emptied (the factorization stops at step j at the latest), or
// row t+1 made a copy of row t (a vanishing pivot, in rounding, somewhere after).
void empty_column(Dense& a, int j) {
  for (auto& row : a) row[j] = 0.0;
}
void copy_row_down(Dense& a, int t, int b) {
  const int n = static_cast<int>(a.size());
  if (t + 1 >= n) return;
  if (t - b + 1 >= 0) a[t][t - b + 1] = 0.0;  // outside row t+1's band
  for (int j = 0; j < n; ++j) a[t + 1][j] = (std::abs(t + 1 - j) < b) ? a[t][j] : 0.0;
}

// Some of the zeros inside the band become -0.0 (on both sides when `mirror`).
void sign_some_zeros(Dense& a, int b, double share, bool mirror, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = static_cast<int>(a.size());
  for (int i = 0; i < n; ++i)
    for (int j = std::max(0, i - b + 1); j < std::min(n, i + b); ++j)
      if (bits(a[i][j]) == 0 && u(rng) < share && (!mirror || j >= i)) {
        a[i][j] = -0.0;
        if (mirror) a[j][i] = -0.0;
      }
}

// ---- Differential tests -----------------------------------------------------------------

TEST(BandLu, StiffnessOfStripsMatchesTheLiteralFactorization) {
  Differential d;
  std::mt19937_64 rng(1357);
  std::uniform_int_distribution<int> extra(0, 3);
  struct Shape {
    int nx, ny, reps;
  };
  const Shape shapes[] = {{1, 1, 6},  {2, 1, 6},  {3, 1, 6},  {6, 2, 8}, {10, 3, 8},
                          {25, 2, 4}, {12, 4, 4}, {40, 3, 1}, {60, 2, 1}};
  for (const Shape& s : shapes)
    for (int rep = 0; rep < s.reps; ++rep)
      for (bool dyadic : {false, true})
        for (double softening : {0.0, 0.15, 0.5}) {
          int32_t band = 0;
          Dense k = strip_stiffness(s.nx, s.ny, dyadic, softening, rng, band);
          if (rep % 2 == 1) sign_some_zeros(k, band, 0.3, /*mirror=*/true, rng);
          const int32_t nband = band + (rep % 3 == 2 ? extra(rng) : 0);
          SCOPED_TRACE("strip " + std::to_string(s.nx) + "x" + std::to_string(s.ny) + " rep " +
                       std::to_string(rep) + " dyadic " + std::to_string(dyadic) + " soft " +
                       std::to_string(softening) + " nband " + std::to_string(nband));
          d.check(k, nband);
        }
  const Stats& st = d.stats;
  st.print("strips");
  EXPECT_GT(st.complete, 60);
  EXPECT_GT(st.fail_later, 20);
  EXPECT_GT(st.exchanged, 40);
  EXPECT_GT(st.negative_pivots, 40);
  EXPECT_GT(st.minus_zero_out, 30);
}

TEST(BandLu, RandomBandMatricesMatchTheLiteralFactorization) {
  Differential d;
  std::mt19937_64 rng(2468);
  const Fill fills[] = {Fill::Uniform, Fill::SmallIntegers, Fill::SingleTies, Fill::Graded};
  const int sizes[] = {1, 2, 3, 4, 5, 7, 10, 16, 27, 45, 80};
  for (int n : sizes)
    for (int b : {1, 2, 3, 5, n / 3 + 1, n - 1, n, n + 7}) {
      if (b < 1) continue;
      for (Fill fill : fills)
        for (int variant = 0; variant < 5; ++variant) {
          SCOPED_TRACE("n " + std::to_string(n) + " b " + std::to_string(b) + " fill " +
                       std::to_string(static_cast<int>(fill)) + " variant " +
                       std::to_string(variant));
          Dense a = random_band(n, b, fill, rng);
          std::uniform_int_distribution<int> any(0, n - 1);
          switch (variant) {
            case 1:  // signed zeros inside the band
              sign_some_zeros(a, b, 0.5, /*mirror=*/false, rng);
              break;
            case 2:
              empty_column(a, n > 3 ? any(rng) : 0);
              break;
            case 3:
              copy_row_down(a, any(rng), b);
              break;
            case 4:  // the wider band passed for a narrower matrix is still exact
              d.check(a, b + 3);
              break;
          }
          d.check(a, b);
        }
    }
  const Stats& st = d.stats;
  st.print("random bands");
  EXPECT_GT(st.complete, 500);
  EXPECT_GT(st.fail_step1, 30);
  EXPECT_GT(st.fail_later, 200);
  EXPECT_GT(st.exchanged, 400);
  EXPECT_GT(st.minus_zero_out, 300);
}

TEST(BandLu, LargerSystemsMatchTheLiteralFactorization) {
  Differential d;
  std::mt19937_64 rng(97531);
  int32_t band = 0;
  const Dense strip = strip_stiffness(100, 2, false, 0.1, rng, band);  // 400 equations
  d.check(strip, band);
  const Dense dyadic = strip_stiffness(50, 3, true, 0.05, rng, band);  // 300
  d.check(dyadic, band);
  d.check(random_band(250, 12, Fill::SingleTies, rng), 12);
  Dense a = random_band(200, 20, Fill::Uniform, rng);
  empty_column(a, 170);
  d.check(a, 20);
  EXPECT_EQ(d.stats.cases, 4);
  EXPECT_EQ(d.stats.fail_later, 2);  // the dyadic strip has a mechanism
}

TEST(BandLu, SmallAndDegenerateCases) {
  Differential d;
  const double below = std::nextafter(PIVTOL, 0.0);
  // Order one: pass, fail at step 1 with the tolerance record, signed zero.
  for (double v : {2.0, -3.0, PIVTOL, -PIVTOL, below, 0.0, -0.0, -0x1p-24}) d.check({{v}}, 1);
  // A tie of equal magnitude and opposite sign: the upper row keeps its place.
  d.check({{-2, 1}, {2, 5}}, 2);
  d.check({{2, 1, 0}, {-2, 5, 1}, {0, 1, -4}}, 2);
  // Equal in single precision only: the first still wins.
  d.check({{1, 1, 0}, {1 + 0x1p-30, 3, 1}, {0, 2, 7}}, 2);
  // The zero multiplier under a negative pivot is -0.0, and travels with its row.
  d.check({{-4, 1, 0, 0}, {1, -5, 1, 0}, {0, 1, 6, 1}, {0, 0, 1, -7}}, 2);
  d.check({{-1, 2, 0, 0}, {-3, 1, 1, 0}, {0, 4, 1, 2}, {0, 0, 5, 1}}, 2);
  // Failures at step 2 and at the last step.
  d.check({{1, 1, 0}, {1, 1, 0}, {0, 0, 3}}, 2);
  d.check({{1, 2, 0}, {2, 3, 1}, {0, 1, 0}}, 2);
  d.check({{4, 0, 0}, {0, 3, 0}, {0, 0, 1e-30}}, 1);
  d.check({{-3, 1, 0}, {1, 2, 1}, {0, 1, -1}}, 2);
  // The zero matrix: any band, none at all included, fails at step 1.
  const Dense zero(4, std::vector<double>(4, 0.0));
  for (int32_t nband : {0, -5, 1, 4, std::numeric_limits<int32_t>::max()}) d.check(zero, nband);
  d.check({{5, 1}, {1, 5}}, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(d.stats.cases, 23);
}

TEST(BandLu, EmptySystemIsCompleteAtOnce) {
  BandMatrix a;
  ASSERT_TRUE(a.allocate(0, 3));
  int32_t iord[1] = {-7};
  BandFactors F;
  const FactorOutcome r = LUDECOMP_BAND(a, iord, F);
  EXPECT_EQ(r.stop, FactorOutcome::Stop::Complete);
  EXPECT_EQ(r.KSTEP, 1);
  EXPECT_EQ(iord[0], -7);
}

// ---- Declined inputs ----------------------------------------------------------------------

TEST(BandLu, DeclinesWhatTheBandSchemeCannotReproduce) {
  struct Case {
    const char* what;
    Dense a;
    int32_t nband;
  };
  // Five rows of a diagonally dominant band, with one thing wrong.
  auto base = [] {
    Dense a(5, std::vector<double>(5, 0.0));
    for (int i = 0; i < 5; ++i) {
      a[i][i] = 4.0 + i;
      if (i + 1 < 5) a[i][i + 1] = a[i + 1][i] = -1.0;
    }
    return a;
  };
  auto with = [&](int i, int j, double v) {
    Dense a = base();
    a[i][j] = v;
    return a;
  };
  // Overflow late in the elimination, after many rows were rewritten: at step 30 rows
  // {1, 1.5e308} and {-1, 1.5e308} tie, and u(31,31) = 1.5e308 + 1.5e308.
  Dense late(40, std::vector<double>(40, 0.0));
  for (int i = 0; i < 40; ++i)
    for (int j = std::max(0, i - 2); j < std::min(40, i + 3); ++j)
      late[i][j] = (i == j) ? -6.0 - i : 1.0 / (1 + i + 2 * j);
  for (int j = 27; j < 34; ++j) late[29][j] = late[30][j] = late[j][29] = late[j][30] = 0.0;
  late[29][29] = 1.0, late[29][30] = 1.5e308, late[30][29] = -1.0, late[30][30] = 1.5e308;
  const std::vector<Case> cases = {
      {"infinite entry", with(2, 3, kInf), 2},
      {"minus infinity on the diagonal", with(4, 4, -kInf), 2},
      {"NaN entry", with(1, 0, kNaN), 2},
      {"NaN in the band beyond the entries", with(0, 2, kNaN), 3},
      {"overflow in row 2 of U", {{1, 1.5e308}, {-1, 1.5e308}}, 2},
      // Both candidates of column 1 are infinite in single precision: the first wins and
      // l(2,1) = 1e8, whose product with u(1,2) overflows.
      {"overflow of a product", {{1e300, 1e308}, {1e308, 1}}, 2},
      {"overflow at step 31 of 40", late, 3},
      // Every pivot and row of U finite up to the failure at step 3, but l(4,2) overflows.
      {"infinite multiplier",
       {{-1, -1, 1e-200, -1e200},
        {1e300, 1e308, 1e200, -1e308},
        {-1e300, -1, -1e200, -1e300},
        {-1e308, -1, 0, 1e-200}},
       4},
  };
  for (const Case& cs : cases) {
    SCOPED_TRACE(cs.what);
    const int32_t n = static_cast<int32_t>(cs.a.size());
    BandMatrix a;
    ASSERT_TRUE(to_band(cs.a, cs.nband, a));
    std::vector<int32_t> iord(n, -7);
    BandFactors F;
    EXPECT_EQ(LUDECOMP_BAND(a, iord.data(), F).stop, FactorOutcome::Stop::Declined);
    EXPECT_EQ(iord, std::vector<int32_t>(n, -7));
  }
}

// Band storage itself: entries outside the band read as +0.0, inside as stored.
TEST(BandLu, BandStorageReadsZeroOutsideTheBand) {
  BandMatrix a;
  ASSERT_TRUE(a.allocate(5, 2));
  for (int32_t i = 1; i <= 5; ++i)
    for (int32_t j = std::max(1, i - 1); j <= std::min(5, i + 1); ++j) a.at(i, j) = 10 * i + j;
  for (int32_t i = 1; i <= 5; ++i)
    for (int32_t j = -1; j <= 7; ++j) {
      const double want = (std::abs(i - j) < 2 && j >= 1 && j <= 5) ? 10 * i + j : 0.0;
      EXPECT_EQ(bits(a.get(i, j)), bits(want)) << i << "," << j;
    }
  // Half bands beyond the order are the full matrix.
  ASSERT_TRUE(a.allocate(3, 40));
  EXPECT_EQ(a.half_band(), 3);
}

}  // namespace
}  // namespace drav
