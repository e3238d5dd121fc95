// The kernels of every instruction set against plain loops that spell out the literal order
// (each entry from its own running value, terms in ascending order, product then addition),
// bit for bit, on sizes around every tile edge and on values with signed zeros, infinities
// and NaN; the pivot search against a scan with the pivot rule itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "factor/blocked/isa.h"
#include "factor/blocked/team.h"
#include "factor/pivot_rule.h"
#include "factor_support.h"

namespace drav::blocked {
namespace {

using testing_factor::bits;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = testing_factor::default_nan();

// The variants this processor runs.
std::vector<const IsaVariant*> variants() {
  std::vector<const IsaVariant*> t;
  for (const IsaVariant& v : kIsaVariants)
    if (available(v)) t.push_back(&v);
  return t;
}

// Mostly ordinary values, with exact zeros of both signs and, when `special`, infinities and
// NaN among them.
std::vector<double> values(size_t n, bool special, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  std::uniform_int_distribution<int> pick(0, 39);
  std::vector<double> v(n);
  for (double& x : v) {
    switch (pick(rng)) {
      case 0:
        x = 0.0;
        break;
      case 1:
        x = -0.0;
        break;
      case 2:
        x = special ? kInf : 1e300;
        break;
      case 3:
        x = special ? kNaN : -1e-300;
        break;
      default:
        x = u(rng);
    }
  }
  return v;
}

::testing::AssertionResult same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (bits(a[i]) != bits(b[i]))
      return ::testing::AssertionFailure()
             << "differ at " << i << ": " << a[i] << " against " << b[i];
  return ::testing::AssertionSuccess();
}

// C += A * B by `gemm` (B packed by `pack_b`) against the literal loops, bit for bit.
::testing::AssertionResult product_matches(const Kernels& k, int rows, int cols, int depth,
                                           bool special, std::mt19937_64& rng) {
  const int64_t lda = depth + 3, ldb = cols + 2, ldc = cols + 5;
  const std::vector<double> a = values(static_cast<size_t>(rows * lda), special, rng);
  const std::vector<double> b = values(static_cast<size_t>(depth * ldb), special, rng);
  std::vector<double> c = values(static_cast<size_t>(rows * ldc), special, rng);
  std::vector<double> expected = c;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      double s = expected[static_cast<size_t>(i * ldc + j)];
      for (int m = 0; m < depth; ++m) {
        const double p = a[static_cast<size_t>(i * lda + m)] * b[static_cast<size_t>(m * ldb + j)];
        s = s + p;
      }
      expected[static_cast<size_t>(i * ldc + j)] = s;
    }
  const int tiles = (cols + k.nr - 1) / k.nr;
  std::vector<double> bp(static_cast<size_t>(std::max(1, depth * tiles * k.nr)));
  k.pack_b(depth, cols, b.data(), ldb, bp.data());
  k.gemm(rows, cols, depth, a.data(), lda, bp.data(), c.data(), ldc);
  return same_bits(c, expected) << " (" << rows << " x " << cols << " depth " << depth
                                << " special " << special << ")";
}

TEST(BlockedKernels, ProductKeepsTheOrderOfEverySum) {
  std::mt19937_64 rng(11);
  for (const IsaVariant* v : variants()) {
    SCOPED_TRACE(v->name);
    const Kernels& k = *v->kernels();
    const int rows_list[] = {1, k.mr - 1, k.mr, k.mr + 1, 2 * k.mr + 3, 37};
    const int cols_list[] = {1, k.nr - 1, k.nr, k.nr + 1, 3 * k.nr - 2, 41};
    for (int rows : rows_list)
      for (int cols : cols_list)
        for (int depth : {0, 1, 2, 7, 300})
          for (bool special : {false, true}) {
            if (rows < 1 || cols < 1) continue;
            ASSERT_TRUE(product_matches(k, rows, cols, depth, special, rng));
          }
    // The edges of the product's own blocks: panels of A read in place and copied, several
    // runs of m, several blocks of columns.
    struct Shape {
      int rows, cols, depth;
    };
    const Shape edges[] = {{2 * k.mr + 3, k.packed_from, k.depth + 1},
                           {k.mr + 1, k.packed_from + 1, 2 * k.depth + 3},
                           {k.mr, k.packed_from + k.nr - 1, k.depth},
                           {k.mr - 1, k.columns + k.nr + 1, 5},
                           {3, k.columns, k.depth - 1}};
    for (const Shape& e : edges)
      for (bool special : {false, true})
        ASSERT_TRUE(product_matches(k, std::max(1, e.rows), e.cols, e.depth, special, rng));
  }
}

TEST(BlockedKernels, RowOperationsMatchTheirLoops) {
  std::mt19937_64 rng(12);
  for (const IsaVariant* v : variants()) {
    SCOPED_TRACE(v->name);
    const Kernels* k = v->kernels();
    for (int n = 0; n <= 19; ++n)
      for (bool special : {false, true}) {
        const std::vector<double> u = values(static_cast<size_t>(n), special, rng);
        const std::vector<double> y0 = values(static_cast<size_t>(n), special, rng);
        const std::vector<double> s = values(static_cast<size_t>(n), special, rng);
        for (double x : {1.5, -0.0, 0.0, -3.25, kInf}) {
          std::vector<double> y = y0, e = y0;
          k->axpy(n, x, u.data(), y.data());
          for (int j = 0; j < n; ++j) e[j] = e[j] + x * u[j];
          EXPECT_TRUE(same_bits(y, e)) << "axpy n " << n << " x " << x;
          y = y0, e = y0;
          k->axpy_col(n, u.data(), x, y.data());
          for (int j = 0; j < n; ++j) e[j] = e[j] + u[j] * x;
          EXPECT_TRUE(same_bits(y, e)) << "axpy_col n " << n << " x " << x;
          std::vector<double> q = u;
          if (x != 0.0) {
            k->div(n, q.data(), x);
            for (int j = 0; j < n; ++j) e[j] = u[j] / x;
            EXPECT_TRUE(same_bits(q, std::vector<double>(e.begin(), e.begin() + n)))
                << "div n " << n << " by " << x;
          }
        }
        std::vector<double> out(static_cast<size_t>(n)), e(static_cast<size_t>(n));
        k->sub(n, y0.data(), s.data(), out.data());
        for (int j = 0; j < n; ++j) e[j] = y0[j] - s[j];
        EXPECT_TRUE(same_bits(out, e)) << "sub n " << n;
        std::vector<double> in_place = y0;
        k->sub(n, in_place.data(), s.data(), in_place.data());
        EXPECT_TRUE(same_bits(in_place, e)) << "sub in place n " << n;
        std::vector<double> x1 = u, y1 = y0;
        k->swap(n, x1.data(), y1.data());
        EXPECT_TRUE(same_bits(x1, y0) && same_bits(y1, u)) << "swap n " << n;
      }
  }
}

// Rows where they stand into the columns of a block and back: every row count of a group,
// column counts around the lanes, a leading dimension beyond the rows; what lies between the
// block's columns and beyond its rows stays untouched.
TEST(BlockedKernels, RowsTurnIntoColumnsAndBack) {
  std::mt19937_64 rng(13);
  for (const IsaVariant* v : variants()) {
    SCOPED_TRACE(v->name);
    const Kernels* k = v->kernels();
    for (int rows = 0; rows <= 9; ++rows)
      for (int n : {0, 1, 3, 4, 5, 8, 11, 32}) {
        const int64_t ld = rows + 3, stride = n + 5;
        const std::vector<double> src = values(static_cast<size_t>(rows * stride), true, rng);
        std::vector<const double*> in;
        for (int q = 0; q < rows; ++q) in.push_back(src.data() + q * stride);
        std::vector<double> cols(static_cast<size_t>(ld * std::max(n, 1)), -7.0), e = cols;
        for (int j = 0; j < n; ++j)
          for (int q = 0; q < rows; ++q) e[j * ld + q] = src[q * stride + j];
        k->to_columns(rows, n, in.data(), cols.data(), ld);
        EXPECT_TRUE(same_bits(cols, e)) << "to_columns rows " << rows << " n " << n;
        std::vector<double> back(src.size(), -7.0);
        std::vector<double*> out;
        for (int q = 0; q < rows; ++q) out.push_back(back.data() + q * stride);
        k->from_columns(rows, n, cols.data(), ld, out.data());
        for (int q = 0; q < rows; ++q)
          for (int j = 0; j < stride; ++j)
            EXPECT_EQ(bits(back[q * stride + j]), bits(j < n ? src[q * stride + j] : -7.0))
                << "from_columns rows " << rows << " n " << n << " at " << q << "," << j;
      }
  }
}

// The row a scan with the pivot rule picks, -1 for none.
int scan(const std::vector<double>& x) {
  float amax = 0.0f;
  int best = -1;
  for (size_t i = 0; i < x.size(); ++i)
    if (beats(static_cast<float>(x[i]), amax)) {
      amax = static_cast<float>(x[i]);
      best = static_cast<int>(i);
    }
  return best;
}

TEST(BlockedKernels, PivotSearchFollowsThePivotRule) {
  std::mt19937_64 rng(13);
  // Candidates equal in single precision only, both signs, values that are zero, infinite or
  // subnormal in single precision, and NaN.
  const double pool[] = {1.0,    1.0 + 0x1p-30, -1.0 - 0x1p-31, -1.0,  0.5,           0.0,
                         -0.0,   kNaN,          -kNaN,          1e-50, -1e-40,        1e300,
                         -1e300, kInf,          -kInf,          2.0,   -2.0 + 0x1p-29};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(pool)) - 1);
  std::uniform_int_distribution<int> narrow(0, 8);
  int found = 0, none = 0;
  for (const IsaVariant* v : variants()) {
    SCOPED_TRACE(v->name);
    const Kernels* k = v->kernels();
    for (int n = 0; n <= 23; ++n)
      for (int rep = 0; rep < 200; ++rep) {
        std::vector<double> x(static_cast<size_t>(n));
        // Small pools give many ties and columns with no candidate at all.
        const int width = rep % 3 == 0 ? narrow(rng) : static_cast<int>(std::size(pool)) - 1;
        for (double& v : x) v = pool[pick(rng) % (width + 1)];
        const int expected = scan(x);
        ASSERT_EQ(k->pivot(n, x.data()), expected) << "n " << n << " rep " << rep;
        ++(expected < 0 ? none : found);
      }
  }
  EXPECT_GT(found, 1000);
  EXPECT_GT(none, 100);
}

// Phases and barriers in quick succession, with more members than this machine may have cores:
// every member runs every phase once and passes every barrier in step (a lost wake-up would
// hang here).
TEST(BlockedTeam, EveryMemberRunsEveryPhaseAndMeetsAtEveryBarrier) {
  for (int size : {1, 2, 3, 5}) {
    Team team(size);
    ASSERT_EQ(team.size(), size);
    std::vector<int> runs(static_cast<size_t>(size), 0);
    std::vector<int> seen(static_cast<size_t>(size), 0);
    for (int phase = 0; phase < 300; ++phase) {
      Barrier barrier(size);
      std::vector<int> step(static_cast<size_t>(size), 0);
      auto body = [&](int t) {
        ++runs[static_cast<size_t>(t)];
        for (int s = 1; s <= 5; ++s) {
          step[static_cast<size_t>(t)] = s;
          barrier.arrive_and_wait();
          // Everyone has reached step s, nobody is past it.
          for (int u = 0; u < size; ++u)
            if (step[static_cast<size_t>(u)] == s) ++seen[static_cast<size_t>(t)];
          barrier.arrive_and_wait();
        }
      };
      team.run(body);
    }
    for (int t = 0; t < size; ++t) {
      EXPECT_EQ(runs[static_cast<size_t>(t)], 300);
      EXPECT_EQ(seen[static_cast<size_t>(t)], 300 * 5 * size);
    }
  }
}

// Threads busy elsewhere are left out of the phases that start while they are busy (one member
// always runs); a member left out of an open phase joins it once they are free, unless member
// 0 is done by then.
TEST(BlockedTeam, BusyThreadsAreLeftOutAndJoinOpenPhasesOnceFree) {
  std::atomic<int> busy{1};
  Team team(3, &busy);
  ASSERT_EQ(team.size(), 3);
  std::vector<std::atomic<int>> runs(3);
  auto count = [&](int t) { ++runs[static_cast<size_t>(t)]; };
  const std::pair<int, int> members[] = {{-1, 3}, {0, 3}, {1, 2}, {2, 1}, {7, 1}};
  for (const auto& [b, m] : members) {
    busy.store(b);
    EXPECT_EQ(team.members(), m) << b;
    for (auto& r : runs) r.store(0);
    team.run(count, team.members());
    team.run_open(count);
    for (int t = 0; t < 3; ++t) EXPECT_EQ(runs[static_cast<size_t>(t)], t < m ? 2 : 0) << b;
  }
  // Member 0 frees the busy threads and waits for the others to come.
  busy.store(2);
  for (auto& r : runs) r.store(0);
  auto free_and_wait = [&](int t) {
    ++runs[static_cast<size_t>(t)];
    if (t != 0) return;
    busy.store(0);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((runs[1].load() == 0 || runs[2].load() == 0) &&
           std::chrono::steady_clock::now() < give_up)
      std::this_thread::yield();
  };
  team.run_open(free_and_wait);
  EXPECT_EQ(runs[1].load() + runs[2].load(), 2);
}

// While the busy threads come and go, every open phase runs member 0 once and any other member
// at most once, and none of them is still at work (or starts) once the phase has returned. The
// phases come in runs with the other threads busy (the left-out members fall asleep in them)
// and runs without (they are members from the start, some still asleep); in some phases member
// 0 frees the busy threads itself, so that a left-out member is admitted late.
TEST(BlockedTeam, LateMembersRunOnlyInsideTheirOpenPhase) {
  std::atomic<int> busy{2};
  Team team(3, &busy);
  ASSERT_EQ(team.size(), 3);
  std::atomic<int> inside{0}, phase{0}, late{0}, work{0};
  std::vector<std::atomic<int>> last(3);
  std::atomic<bool> twice{false};
  auto task = [&](int t) {
    inside.fetch_add(1);
    if (last[static_cast<size_t>(t)].exchange(phase.load()) == phase.load()) twice.store(true);
    if (t != 0) late.fetch_add(1);
    if (t == 0 && phase.load() % 5 == 4) busy.store(0);
    if (t == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
    for (int k = 0; k < 500; ++k) work.fetch_add(1);
    inside.fetch_sub(1);
  };
  for (auto& l : last) l.store(-1);
  for (int p = 0; p < 3000; ++p) {
    phase.store(p);
    busy.store(p / 7 % 3 == 0 ? 0 : 2);
    team.run_open(task);
    ASSERT_EQ(inside.load(), 0) << "phase " << p;
    ASSERT_EQ(last[0].load(), p);
  }
  EXPECT_FALSE(twice.load());
  EXPECT_GT(late.load(), 0);  // the other members took part in some phases
}

TEST(BlockedTeam, SharesCoverTheRangeInWholeGrains) {
  for (int n = 1; n <= 4; ++n)
    for (int lo : {0, 5})
      for (int len : {0, 1, 7, 24, 25, 100})
        for (int grain : {1, 4, 12}) {
          int next = lo;
          for (int t = 0; t < n; ++t) {
            const Range r = share(lo, lo + len, t, n, grain);
            EXPECT_EQ(r.begin, next);
            EXPECT_LE(r.begin, r.end);
            if (r.end < lo + len) {
              EXPECT_EQ((r.end - lo) % grain, 0);
            }
            next = r.end;
          }
          EXPECT_EQ(next, lo + len);
        }
}

}  // namespace
}  // namespace drav::blocked
