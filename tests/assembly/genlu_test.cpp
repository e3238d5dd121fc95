// Band assembly of the system matrix, compared with bar stiffnesses assembled independently,
// and the checks around it.
#include "assembly/genlu.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "recio/fatal.h"
#include "support/fatal_text.h"
#include "support/model_fixture.h"

namespace drav {
namespace {

using testing::Elem;
using testing::Model;

// GENLU ends with the stiffness report, which reads temp.dat from the working directory.
class Genlu : public ::testing::Test {
 protected:
  void SetUp() override { testing::write_file("temp.dat", "1\r\n"); }
  testing::ScratchDir dir_;
};

// A space truss: a tetrahedron on node 1 (fixed) plus a fifth node, bars of different EA.
struct Truss {
  static constexpr int kNodes = 5;
  std::array<std::array<double, 3>, kNodes> x = {
      {{0, 0, 0}, {2, 0, 0}, {0, 3, 0}, {0, 0, 4}, {2, 3, 4}}};
  struct Bar {
    int ni, nf;
    double ea;
  };
  std::vector<Bar> bars = {{1, 2, 100}, {1, 3, 200}, {1, 4, 300}, {2, 3, 150}, {2, 4, 250},
                           {3, 4, 120}, {5, 2, 80},  {4, 5, 90},  {3, 5, 60}};

  Model build(int32_t nband) const {
    Model m(kNodes, 3, 6, static_cast<int32_t>(bars.size()), nband);
    for (size_t b = 0; b < bars.size(); ++b) {
      const Bar& r = bars[b];
      std::vector<double> v(3);
      double len = 0;
      for (int d = 0; d < 3; ++d) {
        v[d] = x[r.nf - 1][d] - x[r.ni - 1][d];
        len += v[d] * v[d];
      }
      m.element(static_cast<int32_t>(b + 1), Elem{.ni = r.ni,
                                                  .nf = r.nf,
                                                  .v = v,
                                                  .yy = r.ea,
                                                  .s0 = static_cast<float>(std::sqrt(len))});
    }
    for (int d = 1; d <= 3; ++d) m.block(1, d);
    m.block(2, 2);
    m.block(2, 3);
    m.block(3, 3);
    m.number();
    return m;
  }

  // EA/L c c^T blocks, [k -k; -k k], over all 3*NNODE directions, then the free ones.
  std::vector<std::vector<double>> reference(const Model& m) const {
    const int n = 3 * kNodes;
    std::vector<std::vector<double>> K(n, std::vector<double>(n, 0.0));
    for (size_t b = 0; b < bars.size(); ++b) {
      const Bar& r = bars[b];
      double c[3], len2 = 0;
      for (int d = 0; d < 3; ++d) {
        c[d] = x[r.nf - 1][d] - x[r.ni - 1][d];
        len2 += c[d] * c[d];
      }
      const double len = std::sqrt(len2);
      for (double& cd : c) cd /= len;
      const double k = r.ea / static_cast<double>(m.W.S0[b]);
      for (int p = 0; p < 3; ++p)
        for (int q = 0; q < 3; ++q) {
          const double kpq = k * c[p] * c[q];
          const int a = 3 * (r.ni - 1), e = 3 * (r.nf - 1);
          K[a + p][a + q] += kpq;
          K[e + p][e + q] += kpq;
          K[a + p][e + q] -= kpq;
          K[e + p][a + q] -= kpq;
        }
    }
    const int neq = m.c.NEQ;
    std::vector<std::vector<double>> F(neq, std::vector<double>(neq));
    for (int i = 1; i <= neq; ++i)
      for (int j = 1; j <= neq; ++j)
        F[i - 1][j - 1] = K[3 * (m.W.loc_node(i) - 1) + m.W.loc_dir(i) - 1]
                           [3 * (m.W.loc_node(j) - 1) + m.W.loc_dir(j) - 1];
    return F;
  }
};

void expect_symmetric_band(const Matrix& A, int32_t nband) {
  for (int32_t i = 1; i <= A.order(); ++i)
    for (int32_t j = 1; j <= A.order(); ++j) {
      // Bit for bit, signed zeros included.
      EXPECT_EQ(std::signbit(A(i, j)), std::signbit(A(j, i))) << i << "," << j;
      EXPECT_EQ(A(i, j), A(j, i)) << i << "," << j;
      if (std::abs(i - j) >= nband) {
        EXPECT_EQ(A(i, j), 0.0) << i << "," << j;
      }
    }
}

TEST_F(Genlu, TrussMatchesBarStiffnessesAssembledIndependently) {
  Truss t;
  Model m = t.build(12);
  ASSERT_EQ(m.c.NEQ, 9);
  const auto ref = t.reference(m);
  Matrix A;
  ASSERT_TRUE(A.allocate(m.c.NEQ));
  GENLU(m.c, m.W, A);
  double scale = 0;
  for (const auto& row : ref)
    for (double v : row) scale = std::max(scale, std::fabs(v));
  for (int i = 1; i <= m.c.NEQ; ++i)
    for (int j = 1; j <= m.c.NEQ; ++j)
      EXPECT_NEAR(A(i, j), ref[i - 1][j - 1], 1e-12 * scale) << i << "," << j;
  expect_symmetric_band(A, m.c.NBAND);
}

TEST_F(Genlu, NarrowBandsAndDirtyMatricesGiveTheSameBandEntries) {
  Truss t;
  Model full = t.build(9);
  Matrix F;
  ASSERT_TRUE(F.allocate(full.c.NEQ));
  GENLU(full.c, full.W, F);
  for (int32_t nband : {1, 3, 5, 0, -2}) {
    SCOPED_TRACE(nband);
    Model m = t.build(nband);
    Matrix A;
    ASSERT_TRUE(A.allocate(m.c.NEQ));
    // Whatever the matrix held before is replaced.
    for (int i = 1; i <= m.c.NEQ; ++i)
      for (int j = 1; j <= m.c.NEQ; ++j) A(i, j) = std::nan("");
    GENLU(m.c, m.W, A);
    expect_symmetric_band(A, nband);
    for (int i = 1; i <= m.c.NEQ; ++i)
      for (int j = 1; j <= m.c.NEQ; ++j)
        if (std::abs(i - j) < nband) {
          EXPECT_EQ(A(i, j), F(i, j)) << i << "," << j;
        }
  }
}

TEST_F(Genlu, SingleEquationAndNoEquation) {
  Model m(2, 1, 1, 1, 3);
  m.element(1, Elem{.ni = 1, .nf = 2, .v = {2}, .yy = 6, .s0 = 3});
  m.block(1, 1);
  m.number();
  Matrix A;
  ASSERT_TRUE(A.allocate(m.c.NEQ));
  GENLU(m.c, m.W, A);
  EXPECT_EQ(A(1, 1), 2.0);
  EXPECT_TRUE(testing::read_file("rig-case1.dat").size() > 0);

  Model none(1, 1, 1, 0, 1);
  none.block(1, 1);
  none.number();
  Matrix E;
  ASSERT_TRUE(E.allocate(none.c.NEQ));
  GENLU(none.c, none.W, E);
}

TEST_F(Genlu, ZeroLengthElementIsNamedByNodeAndDirection) {
  Model m(3, 2, 2, 2, 4);
  m.element(1, Elem{.ni = 1, .nf = 2, .v = {1, 0}});
  m.element(2, Elem{.ni = 2, .nf = 3, .v = {0, 0}});  // nodes 2 and 3 coincide
  m.block(1, 1);
  m.block(1, 2);
  m.block(2, 1);
  m.number();
  Matrix A;
  ASSERT_TRUE(A.allocate(m.c.NEQ));
  GENLU(m.c, m.W, A);
  {
    const std::string msg = testing::fatal_text([&] { check_finite(m.c, m.W, A); });
    EXPECT_NE(msg.find("equation 1, node 2, direction 2"), std::string::npos) << msg;
  }
  // The same model with a length is fine.
  m.W.VMOD[1] = 1.0;
  GENLU(m.c, m.W, A);
  EXPECT_NO_THROW(check_finite(m.c, m.W, A));
}

TEST_F(Genlu, InconsistentModelArraysEndTheRunBeforeAnyEntryIsRead) {
  auto expect_fail = [](Model& m, int32_t order, const char* what) {
    Matrix A;
    ASSERT_TRUE(A.allocate(order));
    try {
      GENLU(m.c, m.W, A);
      ADD_FAILURE() << "no error for " << what;
    } catch (const recio::FatalError& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
  };
  Truss t;
  Model m = t.build(4);
  expect_fail(m, m.c.NEQ - 1, "order 8");
  m.slot(3, 6, 10);  // one beyond NUMEL
  expect_fail(m, m.c.NEQ, "node 3, slot 6");
  m.slot(3, 6, -1);
  expect_fail(m, m.c.NEQ, "element -1");
  m.slot(3, 6, 0);
  // A row of LOC left empty (more equations than free directions).
  Model s = t.build(4);
  s.c.NEQ = 8;
  s.W.LOC[7] = 0;
  expect_fail(s, 8, "equation 8 has node 0");
  Model u = t.build(4);
  u.W.V.allocate(5);
  expect_fail(u, u.c.NEQ, "array V");
}

}  // namespace
}  // namespace drav
