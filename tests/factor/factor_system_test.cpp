// The chooser against the literal factorization of the dense symmetric matrix, byte for byte,
// on every path it can take: the band kernel on the band the entries need, the dense kernel,
// and the literal scheme where a kernel declines.
#include "factor/factor_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "factor/pivot_report.h"
#include "factor/reference/ludecomp.h"
#include "factor_support.h"
#include "recio/textio.h"

namespace drav {
namespace {

using testing_factor::bits;
using testing_factor::Dense;
using testing_factor::kInf;
using testing_factor::kNaN;

// A symmetric matrix is given by its upper triangle; +0.0 entries are left out of the compact
// form, everything else (-0.0 included) is kept.

UpperRows to_upper(const Dense& a) {
  UpperRows U;
  const int32_t n = static_cast<int32_t>(a.size());
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i; j < n; ++j)
      if (bits(a[i][j]) != 0) U.add(j + 1, a[i][j]);
    U.end_row();
  }
  return U;
}

Matrix symmetric(const Dense& a) {
  const int32_t n = static_cast<int32_t>(a.size());
  Matrix m;
  m.allocate(n);
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i; j < n; ++j) m(i + 1, j + 1) = m(j + 1, i + 1) = a[i][j];
  return m;
}

bool all_plus_zero(const Matrix& m) {
  for (int32_t i = 1; i <= m.order(); ++i)
    for (int32_t j = 1; j <= m.order(); ++j)
      if (bits(m(i, j)) != 0) return false;
  return true;
}

using Path = FactorOptions::Path;

struct Tally {
  int cases = 0, band = 0, wide = 0, dense = 0, literal = 0, failed = 0, exchanged = 0;
  int negative = 0;
  void print(const char* family) const {
    std::printf(
        "%s: %d runs: %d band, %d wide band, %d dense, %d literal; %d failed, %d exchanged, %d "
        "with negative pivots\n",
        family, cases, band, wide, dense, literal, failed, exchanged, negative);
  }
};

class Chooser {
 public:
  // Factors `a` on `path` and compares everything with LUDECOMP; returns the kernel used.
  Kernel check(const Dense& a, Path path) {
    const int32_t n = static_cast<int32_t>(a.size());
    // The literal factorization once per matrix, whatever the paths tried on it.
    if (!have_ || a != last_) {
      have_ = true;
      last_ = a;
      reports_.clear();
      lit_ = symmetric(a);
      iord_lit_.assign(n + 1, -7);
      ierr_ = 5, kstep_ = 5;
      recio::StringSink con;
      LUDECOMP(lit_, n, iord_lit_.data(), ierr_, kstep_, reports_.literal(), con);
      con_lit_ = con.text();
    }
    std::filesystem::remove(reports_.tested_path());
    const Matrix& lit = lit_;
    const std::vector<int32_t>& iord_lit = iord_lit_;
    const int32_t ierr = ierr_, kstep = kstep_;
    std::vector<int32_t> iord_new(n + 1, -7);
    recio::StringSink con_new;

    const UpperRows U = to_upper(a);
    Matrix LU;
    LU.allocate(n);
    Factorization F;
    FactorOptions opt;
    opt.path = path;
    const FactorOutcome r = factor_system(U, LU, iord_new.data(), F, opt);
    EXPECT_NE(r.stop, FactorOutcome::Stop::Declined);
    if (r.stop == FactorOutcome::Stop::PivotFailed)
      report_pivot_failure(r.KSTEP, r.pivot, reports_.tested(), con_new);
    EXPECT_EQ(r.stop == FactorOutcome::Stop::Complete ? 0 : -1, ierr);
    EXPECT_EQ(r.KSTEP, kstep);
    if (ierr != 0) {
      EXPECT_EQ(bits(r.pivot), bits(lit(kstep, kstep)));
    } else {
      EXPECT_EQ(iord_new, iord_lit);
    }
    EXPECT_EQ(F.order(), n);
    std::vector<double> buf(static_cast<size_t>(n));
    // The rows are what the matrix file receives, after a complete factorization only. After a
    // failure the audit tool reads the rows of U before the failing step up to its column.
    for (int32_t p = 1; ierr == 0 && p <= n; ++p) {
      const double* row = F.row(p, buf.data());
      if (std::memcmp(row, lit.row(p), sizeof(double) * n) != 0) {
        ADD_FAILURE() << "row " << p << " differs";
        break;
      }
    }
    for (int32_t p = 1; ierr != 0 && p < kstep; ++p) {
      const double* row = F.row(p, buf.data());
      if (std::memcmp(row + p - 1, lit.row(p) + p - 1, sizeof(double) * (kstep - p + 1)) != 0) {
        ADD_FAILURE() << "row " << p << " of U differs before the failing step " << kstep;
        break;
      }
    }
    EXPECT_EQ(con_new.text(), con_lit_);
    EXPECT_EQ(reports_.tested_text(), reports_.literal_text());
    if (F.kernel == Kernel::Band || F.kernel == Kernel::WideBand) {
      EXPECT_TRUE(all_plus_zero(LU)) << "the band path wrote LU";
    }

    ++tally.cases;
    ++(F.kernel == Kernel::Band       ? tally.band
       : F.kernel == Kernel::WideBand ? tally.wide
       : F.kernel == Kernel::Blocked  ? tally.dense
                                      : tally.literal);
    if (ierr != 0) ++tally.failed;
    if (ierr == 0 && iord_lit != std::vector<int32_t>(iord_lit.size()) &&
        !std::is_sorted(iord_lit.begin(), iord_lit.begin() + n))
      ++tally.exchanged;
    for (int32_t k = 1; k < std::min(n + 1, kstep); ++k)
      if (lit(k, k) < 0) {
        ++tally.negative;
        break;
      }
    return F.kernel;
  }

  Tally tally;

 private:
  testing_factor::TwoReports reports_;
  bool have_ = false;
  Dense last_;
  Matrix lit_;
  std::vector<int32_t> iord_lit_;
  int32_t ierr_ = 0, kstep_ = 0;
  std::string con_lit_;
};

enum class Fill { Uniform, SmallIntegers, Ties };

// A symmetric matrix whose row i starts at column first(i) (a random profile within `reach`
// of the diagonal, or anywhere when reach >= n), entries drawn by `fill`, some zeros inside.
Dense random_profile(int n, int reach, Fill fill, double zero_share, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0), share(0.0, 1.0);
  std::uniform_int_distribution<int> small(-3, 3);
  const double ties[] = {1.0, 1.0 + 0x1p-30, -1.0, -(1.0 + 0x1p-35), 0.5, 2.0, -2.0 + 0x1p-29};
  std::uniform_int_distribution<int> pick(0, 6);
  Dense a(n, std::vector<double>(n, 0.0));
  for (int j = 0; j < n; ++j) {
    std::uniform_int_distribution<int> start(std::max(0, j - reach), j);
    for (int i = start(rng); i <= j; ++i) {
      if (i != j && share(rng) < zero_share) continue;
      switch (fill) {
        case Fill::Uniform:
          a[i][j] = u(rng) * (i == j ? 4.0 : 1.0);
          break;
        case Fill::SmallIntegers:
          a[i][j] = small(rng);
          break;
        case Fill::Ties:
          a[i][j] = ties[pick(rng)];
          break;
      }
    }
  }
  return a;
}

TEST(FactorSystem, RandomProfilesOnEveryPathMatchTheLiteralFactorization) {
  Chooser ch;
  std::mt19937_64 rng(8642);
  const int sizes[] = {1, 2, 3, 5, 8, 13, 21, 34, 55, 90};
  for (int n : sizes)
    for (int reach : {0, 1, 3, n / 4, n / 2, n})
      for (Fill fill : {Fill::Uniform, Fill::SmallIntegers, Fill::Ties})
        for (int variant = 0; variant < 4; ++variant) {
          SCOPED_TRACE("n " + std::to_string(n) + " reach " + std::to_string(reach) + " fill " +
                       std::to_string(static_cast<int>(fill)) + " variant " +
                       std::to_string(variant));
          Dense a = random_profile(n, reach, fill, variant == 1 ? 0.6 : 0.1, rng);
          std::uniform_int_distribution<int> any(0, n - 1);
          if (variant == 2) {  // a zero row and column: singular at that step at the latest
            const int z = any(rng);
            for (int i = 0; i < n; ++i) a[std::min(i, z)][std::max(i, z)] = 0.0;
          }
          if (variant == 3) {  // signed zeros, also far from the diagonal
            a[0][n - 1] = -0.0;
            a[any(rng) / 2][any(rng)] *= -1;
          }
          for (Path path : {Path::Auto, Path::Band, Path::WideBand, Path::Dense}) ch.check(a, path);
        }
  ch.tally.print("random profiles");
  EXPECT_GT(ch.tally.band, 1000);
  EXPECT_GT(ch.tally.wide, 500);
  EXPECT_GT(ch.tally.dense + ch.tally.literal, 700);
  EXPECT_GT(ch.tally.failed, 300);
  EXPECT_GT(ch.tally.exchanged, 500);
  EXPECT_GT(ch.tally.negative, 1000);
}

TEST(FactorSystem, TheBandComesFromTheEntries) {
  // A -0.0 counts as an entry and widens the band; +0.0 does not.
  Dense a(6, std::vector<double>(6, 0.0));
  for (int i = 0; i < 6; ++i) a[i][i] = 3.0 + i;
  a[1][2] = 1.0;
  EXPECT_EQ(to_upper(a).half_band(), 2);
  a[0][4] = -0.0;
  EXPECT_EQ(to_upper(a).half_band(), 5);
  Chooser ch;
  EXPECT_EQ(ch.check(a, Path::Auto), Kernel::Band);
  EXPECT_EQ(to_upper(Dense(4, std::vector<double>(4, 0.0))).half_band(), 1);
  EXPECT_EQ(ch.check(Dense(4, std::vector<double>(4, 0.0)), Path::Auto), Kernel::Band);
}

// Each half band to its kernel: the narrow one, the blocked one on band storage from the
// hand-over on (where that storage is well short of the matrix), the dense one beyond.
TEST(FactorSystem, EachBandGoesToItsKernel) {
  Chooser ch;
  std::mt19937_64 rng(777);
  EXPECT_EQ(band_limit(160), 64);
  EXPECT_EQ(band_limit(600), 32);
  struct Case {
    int n, half_band;
    Kernel expected;
  };
  for (const Case c : {Case{160, 50, Kernel::Band}, Case{160, 65, Kernel::Blocked},
                       Case{600, 32, Kernel::Band}, Case{600, 33, Kernel::WideBand},
                       Case{600, 110, Kernel::WideBand}, Case{600, 115, Kernel::Blocked}}) {
    Dense a = random_profile(c.n, c.half_band - 5, Fill::Uniform, 0.3, rng);
    a[3][3 + c.half_band - 1] = 0.25;  // exactly this half band
    EXPECT_EQ(ch.check(a, Path::Auto), c.expected) << c.n << " " << c.half_band;
  }
  EXPECT_EQ(ch.check(random_profile(160, 160, Fill::SmallIntegers, 0.5, rng), Path::Auto),
            Kernel::Blocked);
}

// Across the hand-over, in blocks of the default size: every band path against the literal
// factorization, with exchanges, failures, negative pivots and signed zeros.
TEST(FactorSystem, BandsAcrossTheHandOverMatchTheLiteralFactorization) {
  Chooser ch;
  std::mt19937_64 rng(2468);
  const int n = 420;
  for (int reach : {24, 31, 40, 52})
    for (Fill fill : {Fill::Uniform, Fill::SmallIntegers})
      for (bool singular : {false, true}) {
        SCOPED_TRACE("reach " + std::to_string(reach) + (singular ? " singular" : ""));
        Dense a = random_profile(n, reach, fill, 0.2, rng);
        a[0][reach] = -0.0;  // a signed zero that sets the band
        if (singular) {      // a zero row and column in the third block
          for (int i = 0; i < n; ++i) a[std::min(i, 300)][std::max(i, 300)] = 0.0;
        }
        for (Path path : {Path::Auto, Path::Band, Path::WideBand}) ch.check(a, path);
      }
  ch.tally.print("across the hand-over");
  EXPECT_GT(ch.tally.band, 15);
  EXPECT_GT(ch.tally.wide, 20);
  EXPECT_GT(ch.tally.failed, 20);
  EXPECT_GT(ch.tally.exchanged, 20);
  EXPECT_GT(ch.tally.negative, 40);
}

TEST(FactorSystem, ValuesThatAreNotFiniteGetTheLiteralResult) {
  Chooser ch;
  std::mt19937_64 rng(4321);
  const double specials[] = {kInf, -kInf, kNaN, 1e308};
  for (double v : specials)
    for (int n : {1, 2, 5, 17})
      for (int rep = 0; rep < 6; ++rep) {
        Dense a = random_profile(n, 3, Fill::Uniform, 0.1, rng);
        std::uniform_int_distribution<int> any(0, n - 1);
        const int i = any(rng), j = any(rng);
        a[std::min(i, j)][std::max(i, j)] = v;
        if (v == 1e308) a[0][std::min(n - 1, 1)] = -1e308;  // overflow on the way
        SCOPED_TRACE("value " + std::to_string(v) + " n " + std::to_string(n));
        for (Path path : {Path::Auto, Path::Band, Path::WideBand, Path::Dense}) {
          const Kernel k = ch.check(a, path);
          if (!std::isfinite(v)) {
            EXPECT_NE(k, Kernel::Band);
          }
        }
      }
  ch.tally.print("not finite");
  EXPECT_GT(ch.tally.dense + ch.tally.literal, 200);
}

TEST(FactorSystem, PivotsAtTheTolerance) {
  Chooser ch;
  const double below = std::nextafter(PIVTOL, 0.0);
  for (double p : {PIVTOL, -PIVTOL, below, -below, 0.0, -0.0})
    for (int at : {0, 1, 3}) {
      Dense a(5, std::vector<double>(5, 0.0));
      for (int i = 0; i < 5; ++i) a[i][i] = i == at ? p : -2.0 - i;
      if (at != 1) a[1][2] = 0.5;
      for (Path path : {Path::Auto, Path::Dense}) ch.check(a, path);
    }
  EXPECT_EQ(ch.tally.cases, 36);
}

// The dense matrix is written by the factorization's team in pieces of rows; a member busy
// elsewhere when the writing starts joins once it is free. Whatever the members and the moment
// they come, the factors are the literal scheme's.
TEST(FactorSystem, TheTeamThatWritesTheDenseMatrixGetsTheLiteralFactors) {
  std::mt19937_64 rng(975);
  const int32_t n = 300;  // more rows than a team needs, and ten pieces
  const Dense a = random_profile(n, n, Fill::Uniform, 0.3, rng);
  const UpperRows U = to_upper(a);
  Matrix lit = symmetric(a);
  std::vector<int32_t> iord_lit(n);
  ASSERT_EQ(LUDECOMP_OUTCOME(lit, n, iord_lit.data()).stop, FactorOutcome::Stop::Complete);
  for (int threads : {1, 3})
    for (int delay_us : {0, 50, 500}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, one freed after " +
                   std::to_string(delay_us) + " us");
      std::atomic<int> busy{1};
      std::thread freer([&] {
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
        busy.store(0);
      });
      Matrix LU;
      LU.allocate(n);
      std::vector<int32_t> iord(n);
      Factorization F;
      FactorOptions opt;
      opt.path = Path::Dense;
      opt.threads = threads;
      opt.busy = &busy;
      const FactorOutcome r = factor_system(U, LU, iord.data(), F, opt);
      freer.join();
      EXPECT_EQ(r.stop, FactorOutcome::Stop::Complete);
      EXPECT_EQ(iord, iord_lit);
      for (int32_t i = 1; i <= n; ++i)
        ASSERT_EQ(std::memcmp(LU.row(i), lit.row(i), sizeof(double) * n), 0) << "row " << i;
    }
}

TEST(FactorSystem, EmptySystem) {
  Chooser ch;
  EXPECT_EQ(ch.check({}, Path::Auto), Kernel::Band);
  ch.check({}, Path::Dense);
}

}  // namespace
}  // namespace drav
