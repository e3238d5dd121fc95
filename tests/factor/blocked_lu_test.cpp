// The blocked factorization against the literal one, byte for byte: every entry of the factors
// (signed zeros and NaN bits count), the row order, the step, the status and the failing pivot,
// for every instruction-set variant this processor runs and for one, two and three threads.
// The block sizes are set small here as well as left at their defaults, so that block, panel,
// tile and triangle edges fall everywhere in matrices small enough for the literal scheme.
#include "factor/blocked_lu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "factor/blocked/isa.h"
#include "factor/blocked/kernels.h"
#include "factor/blocked/scheme.h"
#include "factor/blocked/team.h"
#include "factor/reference/ludecomp.h"
#include "factor_support.h"
#include "support/lu_differential.h"

namespace drav {
namespace {

using testing_factor::bits;

constexpr double kInf = std::numeric_limits<double>::infinity();
// Every NaN here is the processor's own (see default_nan), but for one test.
const double kNaN = testing_factor::default_nan();

using Dense = std::vector<std::vector<double>>;  // a[i][j], from 0

// Largest system also run with the tiny blocks (on a large one they would only take time), and
// the largest that the factorization runs on one thread whatever it is given.
constexpr int32_t kSmallBlocksUpTo = 120;
constexpr int32_t kSingleThreaded = 160;

// Entries outside the system's n x n block, in a matrix of larger order: neither
// factorization may read or change them.
constexpr double kFiller = -1.25e300;

Matrix to_matrix(const Dense& a, int32_t extra) {
  const int32_t n = static_cast<int32_t>(a.size());
  Matrix m;
  m.allocate(n + extra);
  for (int32_t i = 1; i <= n + extra; ++i)
    for (int32_t j = 1; j <= n + extra; ++j)
      m(i, j) = (i <= n && j <= n) ? a[i - 1][j - 1] : kFiller;
  return m;
}

// The narrowest half band that holds every entry that is not +0.0.
int32_t true_band(const Dense& a) {
  const int n = static_cast<int>(a.size());
  int32_t b = 1;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (bits(a[i][j]) != 0) b = std::max(b, std::abs(i - j) + 1);
  return b;
}

// One way of running the blocked factorization.
struct Variant {
  Isa isa;
  int threads;
  bool small_blocks;  // tiny block sizes through the scheme itself, and every phase parallel
  bool lent = false;  // the threads busy elsewhere change all the time (with_threads_lent)
};

// Every instruction set with one thread, with the default and with tiny blocks; the threads
// split the same work whatever the instruction set, so two and three threads run with tiny
// blocks on the best one and the portable one, and with the default blocks where the system
// is large enough to be split at all (`threaded`); three of them lend threads all the time.
std::vector<Variant> variants(int32_t n, bool threaded) {
  std::vector<Variant> v;
  for (const blocked::IsaVariant& row : blocked::kIsaVariants) {
    if (!blocked::available(row)) continue;
    v.push_back({row.isa, 1, false});
    if (n <= kSmallBlocksUpTo) v.push_back({row.isa, 1, true});
  }
  const Isa best = isa_in_use(Isa::Best);
  if (!threaded) return v;
  for (int threads : {2, 3}) {
    const bool lent = threads == 3;
    if (n <= kSmallBlocksUpTo) {
      v.push_back({best, threads, true, lent});
      if (best != Isa::Portable) v.push_back({Isa::Portable, threads, true, lent});
    }
    if (n > kSingleThreaded) v.push_back({best, threads, false, lent});
  }
  return v;
}

std::string describe(const Variant& v) {
  return std::string(blocked::variant_of(v.isa)->name) + " threads " + std::to_string(v.threads) +
         (v.small_blocks ? " small blocks" : "") + (v.lent ? " lent" : "");
}

// Block sizes that put edges everywhere: blocks of 8 columns (16 for a team), panels of 3 in
// groups of 2, runs of 5 (of 3 on a band), slices of one tile.
blocked::Shape small_shape() {
  blocked::Shape s;
  s.block = 8;
  s.team_block = 16;
  s.panel = 3;
  s.group = 2;
  s.depth = 5;
  s.band_depth = 3;
  s.slice_tiles = 1;
  s.triangle = 2;
  s.parallel_work = 1;
  s.panel_rows = 2;
  return s;
}

// The kernel of a variant, for the shared comparison with the literal scheme.
testing::LuKernel kernel_of(const Variant& v, int32_t half_band) {
  if (!v.small_blocks) return testing::blocked_kernel(v.isa, v.threads, half_band, v.lent);
  return testing::scheme_kernel(v.isa, v.threads, half_band, small_shape(), "small blocks", v.lent);
}

struct Stats {
  int cases = 0, complete = 0, exchanged = 0, fail_step1 = 0, fail_later = 0;
  int negative_pivots = 0, minus_zero_l = 0, not_finite = 0;

  // What a family exercised, so that a weakened generator shows in the log.
  void print(const char* family) const {
    std::printf(
        "%s: %d matrices, %d complete (%d exchanged), %d failed at step 1, %d later; %d with "
        "negative pivots, %d with -0.0 multipliers, %d with values not finite\n",
        family, cases, complete, exchanged, fail_step1, fail_later, negative_pivots, minus_zero_l,
        not_finite);
  }

  // Every count at least the floor's: the family still covers what it is meant to.
  void expect_at_least(const Stats& floor) const {
    EXPECT_GE(complete, floor.complete);
    EXPECT_GE(exchanged, floor.exchanged);
    EXPECT_GE(fail_step1, floor.fail_step1);
    EXPECT_GE(fail_later, floor.fail_later);
    EXPECT_GE(negative_pivots, floor.negative_pivots);
    EXPECT_GE(minus_zero_l, floor.minus_zero_l);
    EXPECT_GE(not_finite, floor.not_finite);
  }
};

class Differential {
 public:
  // Factors `a` literally and with every variant; half_band 0 stands for the true band. With a
  // NaN among the entries other than the processor's own, two NaNs count as equal whatever
  // their bits (see testing::nan_rule).
  void check(const Dense& a, int32_t half_band = 0, int32_t extra = 1) {
    const int32_t n = static_cast<int32_t>(a.size());
    const int32_t b = half_band > 0 ? half_band : true_band(a);
    const Matrix entries = to_matrix(a, extra);
    const testing::System system{entries, n};
    const testing::LuResult lit = testing::literal_result(system);
    count(lit, n);

    // Threads take time to meet on a busy machine: a third of the small systems is enough.
    const bool threaded = n > kSmallBlocksUpTo || stats.cases % 3 == 1;
    for (const Variant& v : variants(n, threaded)) {
      const testing::LuKernel k = kernel_of(v, b);
      ASSERT_EQ(testing::lu_difference(k, system, k.run(system), lit), "")
          << describe(v) << ", n " << n << ", half band " << b;
    }
  }

  Stats stats;

 private:
  void count(const testing::LuResult& lit, int32_t n) {
    auto at = [&](int32_t i, int32_t j) {
      return lit.rows[static_cast<size_t>(i - 1) * n + j - 1];
    };
    const int32_t kstep = lit.outcome.KSTEP;
    ++stats.cases;
    if (lit.outcome.stop == FactorOutcome::Stop::Complete) {
      ++stats.complete;
      for (int32_t i = 0; i < n; ++i)
        if (lit.iord[static_cast<size_t>(i)] != i + 1) {
          ++stats.exchanged;
          break;
        }
    } else {
      ++(kstep == 1 ? stats.fail_step1 : stats.fail_later);
    }
    const int32_t steps = std::min(n, kstep - 1);
    bool negative = false, minus_zero = false, not_finite = false;
    for (int32_t k = 1; k <= steps; ++k) negative = negative || at(k, k) < 0;
    for (int32_t i = 1; i <= n; ++i)
      for (int32_t j = 1; j <= n; ++j) {
        if (j < i && j <= steps && bits(at(i, j)) == bits(-0.0)) minus_zero = true;
        if (!std::isfinite(at(i, j))) not_finite = true;
      }
    stats.negative_pivots += negative;
    stats.minus_zero_l += minus_zero;
    stats.not_finite += not_finite;
  }
};

// ---- Generators ---------------------------------------------------------------------------

enum class Fill { Uniform, ScaledRows, SmallIntegers, SingleTies, Graded };

double draw(Fill fill, int i, int j, double row_scale, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  // Magnitudes that differ in double but not in single precision, with both signs.
  static const double ties[] = {1.0, 1.0 + 0x1p-30,  1.0 - 0x1p-40, -1.0, -(1.0 + 0x1p-35),
                                0.5, -0.5 - 0x1p-33, 0.0,           2.0,  -2.0 + 0x1p-29};
  switch (fill) {
    case Fill::Uniform:
      return u(rng);
    case Fill::ScaledRows:  // rows of very different sizes, small diagonal: exchanges
      return u(rng) * row_scale * (i == j ? 1e-3 : 1.0);
    case Fill::SmallIntegers:  // exact zeros, ties, singular minors
      return static_cast<double>(std::uniform_int_distribution<int>(-2, 2)(rng));
    case Fill::SingleTies:
      return ties[std::uniform_int_distribution<int>(0, 9)(rng)];
    case Fill::Graded:  // decaying away from the diagonal: few exchanges
      return u(rng) / (1.0 + 4.0 * std::abs(i - j)) + (i == j ? 2.0 : 0.0);
  }
  return 0.0;
}

// Random entries where |i-j| < b (b >= n: dense), +0.0 elsewhere.
Dense random_band(int n, int b, Fill fill, std::mt19937_64& rng) {
  std::uniform_int_distribution<int> expo(-12, 12);
  Dense a(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n), 0.0));
  for (int i = 0; i < n; ++i) {
    const double row_scale = std::ldexp(1.0, expo(rng));
    for (int j = std::max(0, i - b + 1); j < std::min(n, i + b); ++j)
      a[i][j] = draw(fill, i, j, row_scale, rng);
  }
  return a;
}

// A symmetric profile: row i holds entries from a random first column f(i) up to the diagonal,
// mirrored; the rest +0.0.
Dense random_profile(int n, int reach, Fill fill, std::mt19937_64& rng) {
  std::uniform_int_distribution<int> len(0, reach);
  Dense a(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n), 0.0));
  for (int i = 0; i < n; ++i) {
    const int f = std::max(0, i - len(rng));
    for (int j = f; j <= i; ++j) a[i][j] = a[j][i] = draw(fill, i, j, 1.0, rng);
    a[i][i] += (i % 5 == 0 ? -1.0 : 1.0) * (1.0 + reach);
  }
  return a;
}

// The stiffness of a plane truss on an nx by ny grid (bars along, across and diagonal, a few
// missing), pinned at one end with some elastic supports, its nodes numbered at random (so the
// factors fill the whole matrix) or in order (a band). `softening` lowers diagonal entries
// towards negative pivots.
Dense truss_stiffness(int nx, int ny, bool shuffle, double softening, std::mt19937_64& rng) {
  const int nodes = nx * ny, n = 2 * nodes;
  std::vector<int> number(static_cast<size_t>(nodes));
  std::iota(number.begin(), number.end(), 0);
  if (shuffle) std::shuffle(number.begin(), number.end(), rng);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Dense k(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n), 0.0));
  auto node = [&](int ix, int iy) { return number[static_cast<size_t>(ix * ny + iy)]; };
  auto bar = [&](int p, int q, double dx, double dy) {
    dx += 0.05 * (u(rng) - 0.5);
    dy += 0.05 * (u(rng) - 0.5);
    const double len = std::hypot(dx, dy), ea = 2.1e5 * (0.5 + u(rng));
    const double dir[2] = {dx / len, dy / len};
    const int dofs[4] = {2 * p, 2 * p + 1, 2 * q, 2 * q + 1};
    for (int r = 0; r < 4; ++r)
      for (int s = 0; s < 4; ++s) {
        const double sign = ((r < 2) == (s < 2)) ? 1.0 : -1.0;
        k[dofs[r]][dofs[s]] += sign * ea / len * dir[r % 2] * dir[s % 2];
      }
  };
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy) {
      if (ix + 1 < nx && u(rng) < 0.95) bar(node(ix, iy), node(ix + 1, iy), 1, 0);
      if (iy + 1 < ny && u(rng) < 0.95) bar(node(ix, iy), node(ix, iy + 1), 0, 1);
      if (ix + 1 < nx && iy + 1 < ny && u(rng) < 0.8) bar(node(ix, iy), node(ix + 1, iy + 1), 1, 1);
      if (ix + 1 < nx && iy > 0 && u(rng) < 0.5) bar(node(ix, iy), node(ix + 1, iy - 1), 1, -1);
    }
  for (int iy = 0; iy < ny; ++iy)
    for (int d = 0; d < 2; ++d) k[2 * node(0, iy) + d][2 * node(0, iy) + d] += 1e7;
  for (int d = 0; d < n; ++d) {
    if (u(rng) < 0.03) k[d][d] += 1e4 * u(rng);
    if (u(rng) < softening) k[d][d] -= 1.5 * u(rng) * k[d][d];
  }
  return k;
}

// An upper triangle with the given diagonal, its rows in random order: the pivot of each
// step is exactly its diagonal entry, in whichever row it stands, so failures and pivots at
// the tolerance fall where they are put, and exchanges cross blocks and panels.
Dense shuffled_triangle(const std::vector<double>& diag, std::mt19937_64& rng) {
  const int n = static_cast<int>(diag.size());
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dense t(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n), 0.0));
  for (int i = 0; i < n; ++i) {
    t[i][i] = diag[static_cast<size_t>(i)];
    for (int j = i + 1; j < n; ++j) t[i][j] = u(rng);
  }
  std::shuffle(t.begin(), t.end(), rng);
  return t;
}

// Some entries (where `where` holds) replaced by v.
template <class Where>
void plant(Dense& a, double share, double v, Where where, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = static_cast<int>(a.size());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (where(i, j) && u(rng) < share) a[i][j] = v;
}

// ---- Differential tests -----------------------------------------------------------------

TEST(BlockedLu, DenseMatricesOfEverySizeMatchTheLiteralFactorization) {
  Differential d;
  std::mt19937_64 rng(8642);
  const Fill fills[] = {Fill::Uniform, Fill::ScaledRows, Fill::SmallIntegers, Fill::SingleTies,
                        Fill::Graded};
  for (int n = 1; n <= 40; ++n)
    for (Fill fill : fills)
      for (int rep = 0; rep < (n <= 12 ? 3 : 1); ++rep) {
        Dense a = random_band(n, n, fill, rng);
        // A row that is the sum of two others: a vanishing pivot in rounding.
        if (rep == 1 && n >= 3)
          for (int j = 0; j < n; ++j) a[0][j] = a[1][j] + a[2][j];
        if (rep == 2)
          plant(
              a, 0.2, -0.0, [](int, int) { return true; }, rng);
        d.check(a, n);
      }
  d.stats.print("dense");
  d.stats.expect_at_least(
      {.complete = 150, .exchanged = 150, .fail_step1 = 4, .fail_later = 30, .minus_zero_l = 20});
}

TEST(BlockedLu, WideBandsAndProfilesMatchTheLiteralFactorization) {
  Differential d;
  std::mt19937_64 rng(1357);
  const Fill fills[] = {Fill::Uniform, Fill::SmallIntegers, Fill::SingleTies, Fill::Graded};
  for (int n : {20, 33, 50, 71, 97})
    for (int b : {1, 2, 3, n / 8 + 1, n / 5, n / 3})
      for (Fill fill : fills) {
        Dense a = random_band(n, b, fill, rng);
        d.check(a, b);
        // The same matrix announced with a wider band than its entries hold.
        d.check(a, b + 2);
        Dense p = random_profile(n, b, fill, rng);
        d.check(p);
      }
  d.stats.print("bands and profiles");
  d.stats.expect_at_least({.complete = 100,
                           .exchanged = 100,
                           .fail_later = 20,
                           .negative_pivots = 40,
                           .minus_zero_l = 40});
}

// A band wide enough for storage of its own (3b + block < n) goes there; these make the row
// exchanges fill it in every way: the bottom row of the window winning every step (U reaches
// 2b-1 at once), rows so weak that each step pushes them further down (far past their slots),
// winners at random depths, and failures inside blocks.
TEST(BlockedLu, BandsFollowTheFillOfTheExchanges) {
  Differential d;
  std::mt19937_64 rng(5150);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int n : {40, 97, 150, 260})
    for (int b : {2, 5, 9, n / 8 + 1, n / 5}) {
      Dense bottom = random_band(n, b, Fill::Uniform, rng);
      for (int i = b - 1; i < n; ++i) bottom[i][i - b + 1] *= 1e3;
      d.check(bottom, b);
      Dense weak = random_band(n, b, Fill::Graded, rng);
      for (int i = 0; i < n; i += 7)
        for (double& v : weak[i]) v *= 1e-5;
      d.check(weak, b);
      Dense deep = random_band(n, b, Fill::Uniform, rng);
      for (int i = 0; i < n; ++i)
        for (int j = std::max(0, i - b + 1); j < i; ++j)
          if (u(rng) < 0.2) deep[i][j] *= 50.0;
      if (n >= 97) {
        for (auto& r : deep) r[static_cast<size_t>(n * 2 / 3)] = 0.0;  // fails there at the latest
      }
      d.check(deep, b);
    }
  // The default blocks: a band across several of them, exchanges everywhere, a failure in the
  // third.
  Dense big = random_band(700, 60, Fill::ScaledRows, rng);
  d.check(big, 60);
  for (auto& r : big) r[560] = 0.0;
  d.check(big, 60);
  d.stats.print("band fill");
  d.stats.expect_at_least({.complete = 30,
                           .exchanged = 30,
                           .fail_later = 8,
                           .negative_pivots = 40,
                           .minus_zero_l = 40});
}

TEST(BlockedLu, TrussStiffnessMatchesTheLiteralFactorization) {
  Differential d;
  std::mt19937_64 rng(97531);
  struct Grid {
    int nx, ny;
  };
  for (const Grid g : {Grid{2, 2}, Grid{5, 2}, Grid{7, 3}, Grid{12, 2}, Grid{9, 4}, Grid{20, 3}})
    for (bool shuffle : {true, false})
      for (double softening : {0.0, 0.1, 0.4})
        d.check(truss_stiffness(g.nx, g.ny, shuffle, softening, rng));
  d.stats.print("truss stiffness");
  d.stats.expect_at_least({.complete = 15, .negative_pivots = 10});
}

TEST(BlockedLu, PivotsAtTheToleranceAndFailuresAnywhere) {
  Differential d;
  std::mt19937_64 rng(4242);
  const double below = std::nextafter(PIVTOL, 0.0);
  const double specials[] = {PIVTOL, -PIVTOL, below, -below, 0.0, -0.0, kNaN, 1e-300};
  for (int n : {1, 2, 3, 7, 8, 9, 16, 17, 24, 25, 40}) {
    for (double v : specials)
      for (int k : {0, 1, 2, 3, 7, 8, 9, n / 2, n - 2, n - 1}) {
        if (k < 0 || k >= n) continue;
        std::vector<double> diag(static_cast<size_t>(n));
        std::uniform_real_distribution<double> u(0.5, 2.0);
        for (double& x : diag) x = (u(rng) < 1.0 ? -1.0 : 1.0) * u(rng);
        diag[static_cast<size_t>(k)] = v;
        d.check(shuffled_triangle(diag, rng));
      }
    // An empty column stops the factorization at that step at the latest.
    Dense a = random_band(n, n, Fill::Uniform, rng);
    for (auto& r : a) r[static_cast<size_t>(n / 2)] = 0.0;
    d.check(a);
  }
  d.stats.print("tolerance and failures");
  d.stats.expect_at_least({.complete = 80, .fail_step1 = 25, .fail_later = 300});
}

TEST(BlockedLu, ValuesThatAreNotFiniteGiveTheLiteralBits) {
  Differential d;
  std::mt19937_64 rng(777);
  const double specials[] = {kInf, -kInf, kNaN};
  for (int n : {2, 5, 13, 30, 60}) {
    for (double v : specials) {
      // Dense, and a band in which the value stands inside the band (band storage declines, and
      // the dense matrix is factored whole).
      for (int b : {n, n / 6 + 1}) {
        Dense a = random_band(n, b, Fill::Graded, rng);
        plant(
            a, 2.0 / (n * n), v, [&](int i, int j) { return std::abs(i - j) < b; }, rng);
        d.check(a, b);
      }
    }
    // Entries so large that the elimination overflows on its way.
    for (int b : {n, n / 6 + 1}) {
      Dense a = random_band(n, b, Fill::Uniform, rng);
      plant(
          a, 0.05, 1.5e308, [&](int i, int j) { return std::abs(i - j) < b; }, rng);
      plant(
          a, 0.05, -1e300, [&](int i, int j) { return std::abs(i - j) < b; }, rng);
      d.check(a, b);
    }
  }
  // Overflow late in a band, after many blocks were factored on band storage: at step
  // 60 rows {1, 1.5e308} and {-1, 1.5e308} tie, and u(61,61) = 1.5e308 + 1.5e308.
  Dense late(80, std::vector<double>(80, 0.0));
  for (int i = 0; i < 80; ++i)
    for (int j = std::max(0, i - 2); j < std::min(80, i + 3); ++j)
      late[i][j] = (i == j) ? -6.0 - i : 1.0 / (1 + i + 2 * j);
  for (int j = 57; j < 64; ++j) late[59][j] = late[60][j] = late[j][59] = late[j][60] = 0.0;
  late[59][59] = 1.0, late[59][60] = 1.5e308, late[60][59] = -1.0, late[60][60] = 1.5e308;
  d.check(late, 3);
  // The same in blocks of the default size, a band stored across several of them: an entry
  // that is not finite in the fourth block, and one that overflows with the elimination.
  for (double v : {kInf, 1.5e308}) {
    Dense a = random_band(600, 40, Fill::Graded, rng);
    a[540][530] = v;
    a[530][540] = v;
    d.check(a, 40);
  }
  d.stats.print("not finite");
  d.stats.expect_at_least({.not_finite = 15});
  // A NaN of another sign among the entries meets the processor's own: which one a sum passes
  // on is the compiler's choice in either scheme, so only the places of the NaNs must agree.
  for (int b : {30, 6}) {
    Dense a = random_band(30, b, Fill::Graded, rng);
    a[3][4] = -kNaN;
    a[20][21] = kInf;
    d.check(a, b);
  }
}

TEST(BlockedLu, LargerSystemsMatchTheLiteralFactorization) {
  Differential d;
  std::mt19937_64 rng(2024);
  // Across the default blocks of 256 columns, with two threads and more.
  d.check(random_band(300, 300, Fill::ScaledRows, rng));
  d.check(truss_stiffness(26, 10, true, 0.05, rng));  // 520 equations, random numbering
  d.check(random_band(520, 60, Fill::Uniform, rng));  // a band stored across blocks
  Dense t = random_band(390, 390, Fill::Graded, rng);
  for (int j = 0; j < 390; ++j) t[289][j] = t[288][j];  // a failure late in the second block
  d.check(t);
  // Four blocks: the tasks beside a block's factorization form a whole block of sums, in
  // slices of columns per member.
  d.check(random_band(800, 800, Fill::Uniform, rng));
  EXPECT_EQ(d.stats.cases, 5);
  EXPECT_EQ(d.stats.fail_later, 1);
}

// ---- The interface around the factorization -------------------------------------------------

TEST(BlockedLu, EmptySystemIsCompleteAtOnce) {
  for (int32_t n : {0, -3}) {
    Matrix a;
    int32_t iord[1] = {-7};
    const FactorOutcome out = LUDECOMP_BLOCKED(a, n, 1, iord);
    EXPECT_EQ(out.stop, FactorOutcome::Stop::Complete);
    EXPECT_EQ(out.KSTEP, 1);
    EXPECT_EQ(iord[0], -7);
  }
}

TEST(BlockedLu, HalfBandOutsideItsRangeMeansTheWholeMatrix) {
  // Large enough that a narrow band would go to band storage.
  const int32_t n = 600;
  std::mt19937_64 rng(31);
  const Dense a = random_band(n, n, Fill::Uniform, rng);
  Matrix ref = to_matrix(a, 0);
  std::vector<int32_t> iord_ref(n);
  ASSERT_EQ(LUDECOMP_BLOCKED(ref, n, n, iord_ref.data()).stop, FactorOutcome::Stop::Complete);
  for (int32_t b : {0, -4, n + 1, std::numeric_limits<int32_t>::max()}) {
    Matrix lu = to_matrix(a, 0);
    std::vector<int32_t> iord(n);
    EXPECT_EQ(LUDECOMP_BLOCKED(lu, n, b, iord.data()).stop, FactorOutcome::Stop::Complete);
    EXPECT_TRUE(testing_factor::same_bits(lu, ref, n)) << b;
    EXPECT_EQ(iord, iord_ref);
  }
}

TEST(BlockedLu, ThreadCountComesFromTheOptionsOrTheMachine) {
  EXPECT_EQ(threads_in_use(3), 3);
  EXPECT_EQ(threads_in_use(100000), 256);
  EXPECT_GE(threads_in_use(0), 1);
  EXPECT_EQ(threads_in_use(-2), threads_in_use(0));
}

TEST(BlockedLu, EveryVariantResolvesToOneTheProcessorRuns) {
  EXPECT_TRUE(isa_available(Isa::Portable));
  EXPECT_TRUE(isa_available(Isa::Best));
  std::vector<Isa> all = {Isa::Best};
  for (const blocked::IsaVariant& row : blocked::kIsaVariants) all.push_back(row.isa);
  for (Isa isa : all) {
    const Isa used = isa_in_use(isa);
    EXPECT_NE(used, Isa::Best);
    EXPECT_TRUE(isa_available(used));
    if (isa != Isa::Best && isa_available(isa)) {
      EXPECT_EQ(used, isa);
    }
    EXPECT_EQ(blocked::kernels_for(isa).isa, used);
  }
  std::printf("variants run here:");
  for (const Variant& v : variants(1, false))
    if (v.threads == 1 && !v.small_blocks) std::printf(" %s", describe(v).c_str());
  std::printf("\n");
}

}  // namespace
}  // namespace drav
