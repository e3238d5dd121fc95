// The factorization on many random matrices: the factors reproduce the rearranged matrix, the
// row order is a permutation, and the results agree bit for bit with a plain textbook
// elimination written separately below and with the variant without trial exchanges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "factor/reference/ludecomp.h"
#include "factor_support.h"
#include "recio/textio.h"

namespace drav {
namespace {

using testing_factor::bits;
using testing_factor::copy_matrix;
using testing_factor::read_file;
using testing_factor::TempDir;
using testing_factor::with_report;

using Dense = std::vector<std::vector<double>>;  // a[i][j], from 0

struct RefResult {
  Dense a;
  std::vector<int32_t> perm;  // from 1
  int32_t ierr = 0, kstep = 0;
};

// Compact Doolittle elimination with partial pivoting, rows swapped directly. The candidate
// for a row is its would-be diagonal entry rounded to single precision; the first of the
// largest magnitudes wins.
RefResult reference(Dense a) {
  const int n = static_cast<int>(a.size());
  RefResult r;
  r.perm.resize(n);
  for (int i = 0; i < n; ++i) r.perm[i] = i + 1;
  for (int k = 0; k < n; ++k) {
    r.kstep = k + 1;
    if (k < n - 1) {
      int best = k;
      float best_mag = 0.0f;
      for (int i = k; i < n; ++i) {
        double dot = 0.0;
        for (int m = 0; m < k; ++m) dot += a[i][m] * a[m][k];
        const float cand = static_cast<float>(k == 0 ? a[i][0] : a[i][k] - dot);
        if (std::fabs(cand) > best_mag) {
          best_mag = std::fabs(cand);
          best = i;
        }
      }
      std::swap(a[k], a[best]);
      std::swap(r.perm[k], r.perm[best]);
    }
    for (int j = k; j < n && k > 0; ++j) {
      double dot = 0.0;
      for (int m = 0; m < k; ++m) dot += a[k][m] * a[m][j];
      a[k][j] = a[k][j] - dot;
    }
    if (!(std::fabs(a[k][k]) >= static_cast<double>(1.0E-7f))) {
      r.ierr = -1;
      r.a = a;
      return r;
    }
    for (int i = k + 1; i < n; ++i) {
      double dot = 0.0;
      for (int m = 0; m < k; ++m) dot += a[i][m] * a[m][k];
      a[i][k] = (a[i][k] - dot) / a[k][k];
    }
  }
  r.kstep = n + 1;
  r.a = a;
  return r;
}

enum class Kind { Uniform, ScaledRows, SmallIntegers, Graded, RankDeficient };

Dense random_matrix(int n, Kind kind, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<int> small(-2, 2);
  std::uniform_int_distribution<int> expo(-12, 12);
  Dense a(n, std::vector<double>(n));
  for (int i = 0; i < n; ++i) {
    const double row_scale = std::ldexp(1.0, expo(rng));
    for (int j = 0; j < n; ++j) {
      switch (kind) {
        case Kind::Uniform:
          a[i][j] = u(rng);
          break;
        // Rows of very different sizes, and a small diagonal: exchanges all along.
        case Kind::ScaledRows:
          a[i][j] = u(rng) * row_scale * (i == j ? 1e-3 : 1.0);
          break;
        // Exact zeros, ties and singular minors: failures at all steps, and tie breaking.
        case Kind::SmallIntegers:
          a[i][j] = small(rng);
          break;
        // Decaying away from the diagonal, like a stiffness matrix: few exchanges.
        case Kind::Graded:
          a[i][j] = u(rng) / (1.0 + 4.0 * std::abs(i - j)) + (i == j ? 2 : 0);
          break;
        case Kind::RankDeficient:
          a[i][j] = small(rng);
          break;
      }
    }
  }
  // One row the sum of two others: the elimination meets a vanishing pivot (in rounding).
  if (kind == Kind::RankDeficient && n >= 3) {
    std::uniform_int_distribution<int> pick(0, n - 1);
    const int r = pick(rng), s = (r + 1) % n, t = (r + 2) % n;
    for (int j = 0; j < n; ++j) a[r][j] = a[s][j] + a[t][j];
  }
  return a;
}

TEST(LudecompProperty, AgreesWithTextbookEliminationAndReproducesTheMatrix) {
  TempDir dir;
  const std::string rep1 = dir.file("lit.txt"), rep2 = dir.file("direct.txt");
  const COMPAR c1 = with_report(rep1), c2 = with_report(rep2);
  std::mt19937_64 rng(20240611);
  int failures = 0, late_failures = 0, exchanged = 0, successes = 0;
  const std::vector<int> sizes = {1, 2, 3, 4, 5, 7, 12, 25, 40};
  const Kind kinds[] = {Kind::Uniform, Kind::ScaledRows, Kind::SmallIntegers, Kind::Graded,
                        Kind::RankDeficient};
  for (int n : sizes) {
    for (Kind kind : kinds) {
      for (int rep = 0; rep < 12; ++rep) {
        SCOPED_TRACE("n=" + std::to_string(n) + " kind=" + std::to_string(int(kind)) +
                     " rep=" + std::to_string(rep));
        const Dense a0 = random_matrix(n, kind, rng);
        Matrix lu;
        lu.allocate(n);
        for (int i = 0; i < n; ++i)
          for (int j = 0; j < n; ++j) lu(i + 1, j + 1) = a0[i][j];
        Matrix lu2;
        copy_matrix(lu, lu2, n);

        std::vector<int32_t> iord(n), iord2(n);
        int32_t ierr = 9, kstep = 0, ierr2 = 9, kstep2 = 0;
        recio::StringSink con1, con2;
        LUDECOMP(lu, n, iord.data(), ierr, kstep, c1, con1);
        LUDECOMP_DIRECT(lu2, n, iord2.data(), ierr2, kstep2, c2, con2);
        const RefResult ref = reference(a0);

        ASSERT_EQ(ierr, ref.ierr);
        ASSERT_EQ(kstep, ref.kstep);
        EXPECT_EQ(iord, ref.perm);
        bool same = true, same2 = true;
        for (int i = 0; i < n; ++i)
          for (int j = 0; j < n; ++j) {
            same = same && bits(lu(i + 1, j + 1)) == bits(ref.a[i][j]);
            same2 = same2 && bits(lu2(i + 1, j + 1)) == bits(lu(i + 1, j + 1));
          }
        EXPECT_TRUE(same);
        EXPECT_TRUE(same2);
        EXPECT_EQ(ierr2, ierr);
        EXPECT_EQ(kstep2, kstep);
        EXPECT_EQ(iord2, iord);
        EXPECT_EQ(con2.text(), con1.text());

        if (ierr != 0) {
          ++failures;
          if (kstep >= 3) ++late_failures;
          continue;
        }
        ++successes;
        // IORD is a permutation of 1..n.
        std::vector<int32_t> sorted = iord;
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < n; ++i) ASSERT_EQ(sorted[i], i + 1);
        if (iord != sorted) ++exchanged;
        // L*U = the entry matrix with row k taken from entry row IORD(k).
        double worst = 0.0;
        for (int i = 1; i <= n; ++i) {
          double row_norm = 0.0;
          for (int j = 1; j <= n; ++j) row_norm += std::fabs(a0[iord[i - 1] - 1][j - 1]);
          for (int j = 1; j <= n; ++j) {
            double s = 0.0;
            for (int m = 1; m <= std::min(i, j); ++m) s += (m == i ? 1.0 : lu(i, m)) * lu(m, j);
            worst = std::max(worst, std::fabs(s - a0[iord[i - 1] - 1][j - 1]) / row_norm);
          }
        }
        EXPECT_LT(worst, 1e-12 * n);
      }
    }
  }
  std::printf("successes %d (exchanged %d), failures %d (%d at step 3 or later)\n", successes,
              exchanged, failures, late_failures);
  // The mix must really exercise every path.
  EXPECT_GT(failures, 20);
  EXPECT_GT(late_failures, 10);
  EXPECT_GT(successes, 200);
  EXPECT_GT(exchanged, 100);
  EXPECT_EQ(read_file(rep1), read_file(rep2));
}

}  // namespace
}  // namespace drav
