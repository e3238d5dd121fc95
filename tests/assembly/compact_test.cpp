// Generation in compact form against the literal generation (AA for every pair of the band,
// then the mirror), and the report written from the compact form against the report of the
// dense matrix, byte for byte, on random models: every NBAND up to NEQ and beyond, springs
// (negative ones too), negative and positive states, empty slots, elements listed at a node
// they do not join, and bars from a node to itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "assembly/genlu.h"
#include "assembly/stiffness_report.h"
#include "recio/textio.h"
#include "support/literal_generation.h"
#include "support/model_fixture.h"

namespace drav {
namespace {

using testing::Elem;
using testing::Model;

uint64_t bits(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

struct ModelShape {
  int32_t nnode, ndofn, nemax, numel;
};

// A random model: elements between random nodes (some to themselves), listed at their end
// nodes in random slots with gaps, some listed at a third node as well; random states, forces
// and springs; about a quarter of the directions blocked.
Model random_model(const ModelShape& s, int32_t nband, std::mt19937_64& rng) {
  Model m(s.nnode, s.ndofn, s.nemax, s.numel, nband);
  std::uniform_int_distribution<int32_t> node(1, s.nnode), slot(1, s.nemax), state(-1, 3);
  std::uniform_real_distribution<double> u(-1.0, 1.0), p(0.0, 1.0);
  auto put = [&](int32_t n, int32_t e) {
    for (int tries = 0; tries < 4; ++tries) {
      const int32_t j = slot(rng);
      int32_t& sl = m.W.NEI[int64_t{n - 1} * s.nemax + j - 1];
      if (sl == 0) {
        sl = e;
        return;
      }
    }
  };
  for (int32_t e = 1; e <= s.numel; ++e) {
    Elem x;
    x.ni = node(rng);
    x.nf = p(rng) < 0.05 ? x.ni : node(rng);
    x.v.resize(static_cast<size_t>(s.ndofn));
    for (double& v : x.v) v = p(rng) < 0.15 ? 0.0 : u(rng) * 3;
    if (x.v[0] == 0.0) x.v[0] = 0.5;  // active elements need a length
    const int32_t st = state(rng);
    x.ind = st == 3 ? 0 : st;  // more elastic ones
    x.t = p(rng) < 0.3 ? 0.0 : u(rng) * 50;
    x.yy = 100 + 1000 * p(rng);
    x.a0 = static_cast<float>(0.5 + p(rng));
    x.al0 = static_cast<float>(p(rng) < 0.8 ? 1.0 : 0.5 + p(rng));
    x.s0 = static_cast<float>(0.5 + 2 * p(rng));
    m.element(e, x, /*list=*/false);
    put(x.ni, e);
    if (x.nf != x.ni) put(x.nf, e);
    if (p(rng) < 0.1) put(node(rng), e);  // listed where it may not belong
  }
  for (int32_t n = 1; n <= s.nnode; ++n)
    for (int32_t d = 1; d <= s.ndofn; ++d) {
      if (p(rng) < 0.25) m.block(n, d);
      if (p(rng) < 0.15) m.spring(n, d, static_cast<float>(u(rng) * 40));
    }
  m.number();
  return m;
}

TEST(CompactGeneration, MatchesTheLiteralGenerationOnRandomModels) {
  std::mt19937_64 rng(24680);
  const ModelShape shapes[] = {{1, 1, 1, 0},  {2, 2, 2, 1},   {3, 3, 4, 4},   {6, 2, 5, 9},
                               {9, 3, 6, 14}, {14, 2, 8, 30}, {25, 2, 6, 50}, {30, 3, 9, 70}};
  int models = 0, entries = 0, minus_zero = 0;
  for (const ModelShape& s : shapes)
    for (int rep = 0; rep < 25; ++rep) {
      // NBAND from nothing to beyond NEQ, which is known once the model is numbered.
      Model m = random_model(s, 1, rng);
      const int32_t neq = m.c.NEQ;
      const int32_t bands[] = {
          0, 1, 2, std::max(1, neq / 3), neq, neq + 5, std::numeric_limits<int32_t>::max()};
      m.c.NBAND = bands[rep % 7];
      SCOPED_TRACE("model " + std::to_string(models) + " NEQ " + std::to_string(neq) + " NBAND " +
                   std::to_string(m.c.NBAND));
      Matrix lit, gen;
      ASSERT_TRUE(lit.allocate(m.c.NEQ));
      ASSERT_TRUE(gen.allocate(m.c.NEQ));
      testing::literal_generation(m.c, m.W, lit);
      const UpperRows U = generate_upper(m.c, m.W, gen);
      generate_matrix(m.c, m.W, gen);
      ++models;
      ASSERT_EQ(U.n, m.c.NEQ);
      for (int32_t i = 1; i <= m.c.NEQ; ++i) {
        ASSERT_EQ(std::memcmp(gen.row(i), lit.row(i), sizeof(double) * m.c.NEQ), 0) << "row " << i;
        // The compact row holds exactly the entries that are not +0.0, ascending.
        int64_t e = U.row_begin(i);
        for (int32_t j = i; j <= m.c.NEQ; ++j) {
          if (bits(lit(i, j)) == 0) continue;
          ASSERT_LT(e, U.row_end(i)) << i << "," << j;
          ASSERT_EQ(U.col[e], j);
          ASSERT_EQ(bits(U.val[e]), bits(lit(i, j)));
          ++e;
          ++entries;
          if (bits(lit(i, j)) == bits(-0.0)) ++minus_zero;
        }
        ASSERT_EQ(e, U.row_end(i));
      }
    }
  std::printf("%d models, %d entries, %d of them -0.0\n", models, entries, minus_zero);
  EXPECT_GT(entries, 5000);
  EXPECT_GT(minus_zero, 0);
}

// A compact form with values of every kind the report can meet, -0.0 and values that are not
// finite included, placed at random.
UpperRows random_upper(int32_t n, double density, std::mt19937_64& rng) {
  const double kinds[] = {
      -0.0,        1234.5,   0.5,    1.0e8, -0.0025,
      9999999.0,   1.0e-300, -1e100, 1e-7,  std::numeric_limits<double>::infinity(),
      std::nan("")};
  std::uniform_int_distribution<int> pick(0, 10);
  std::uniform_real_distribution<double> p(0.0, 1.0);
  UpperRows U;
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = i; j <= n; ++j)
      if (p(rng) < density) U.add(j, p(rng) < 0.5 ? kinds[pick(rng)] : (p(rng) - 0.5) * 1e3);
    U.end_row();
  }
  return U;
}

COMPAR report_block(int32_t neq, int32_t nband, char lang) {
  COMPAR c;
  c.NEQ = neq;
  c.NBAND = nband;
  std::memset(c.LANG.data(), ' ', c.LANG.size());
  c.LANG[0] = lang;
  return c;
}

TEST(CompactReport, SameBytesAsTheReportOfTheDenseMatrix) {
  std::mt19937_64 rng(1212);
  int reports = 0;
  for (int32_t n : {0, 1, 2, 3, 5, 6, 7, 11, 12, 13, 40, 97})
    for (double density : {0.0, 0.02, 0.2, 0.9})
      for (char lang : {'E', 'r'}) {
        const UpperRows U = random_upper(n, density, rng);
        Matrix A;
        ASSERT_TRUE(A.allocate(n));
        U.scatter(A);
        const COMPAR c = report_block(n, n / 2 + 1, lang);
        recio::StringSink dense, compact;
        write_stiffness_report(c, A, dense);
        write_stiffness_report(c, U, compact);
        ASSERT_EQ(compact.text(), dense.text()) << "n " << n << " density " << density;
        ++reports;
      }
  EXPECT_EQ(reports, 96);
}

// The report is handed over in blocks; a row split across two of them must not show.
TEST(CompactReport, LargeReportsAreTheSameAcrossBlocks) {
  std::mt19937_64 rng(99);
  const int32_t n = 700;  // about 2.4 MB of text
  const UpperRows U = random_upper(n, 0.01, rng);
  Matrix A;
  ASSERT_TRUE(A.allocate(n));
  U.scatter(A);
  const COMPAR c = report_block(n, 3, 'E');
  recio::StringSink dense, compact;
  write_stiffness_report(c, A, dense);
  write_stiffness_report(c, U, compact);
  EXPECT_GT(compact.text().size(), size_t{2} << 20);
  // Compared whole, the texts' difference would take the test framework minutes to show.
  const auto [at, _] = std::mismatch(compact.text().begin(), compact.text().end(),
                                     dense.text().begin(), dense.text().end());
  EXPECT_EQ(compact.text().size(), dense.text().size());
  EXPECT_EQ(at, compact.text().end()) << "first difference at byte " << (at - compact.text().begin());
}

}  // namespace
}  // namespace drav
