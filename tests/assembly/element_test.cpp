// The element contribution AA and the support test ELASTIC on small hand-built models.
#include "assembly/element.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/model_fixture.h"

namespace drav {
namespace {

using testing::Elem;
using testing::Model;

constexpr double kRel = 1e-14;

// Three nodes in the plane. Element 1 joins nodes 1 and 2 along (3,4), EA = 20, S0 = 5, so
// EA/S0 = 4 and c = (0.6, 0.8). Element 2 joins nodes 1 and 3 along (0,2), EA = 20, S0 = 4
// (EA/S0 = 5, c = (0, 1)). Node 1 lists them in slots 1 and 3 with slot 2 empty.
// Equations: node 1 -> 1,2; node 2 -> 3,4; node 3 -> 5,6.
Model plane_model(int32_t ind1 = 0, double t1 = 0.0, int32_t nband = 6) {
  Model m(4, 2, 3, 3, nband);
  m.element(1,
            Elem{.ni = 1, .nf = 2, .v = {3, 4}, .ind = ind1, .t = t1, .yy = 10, .a0 = 2, .s0 = 5});
  m.element(2, Elem{.ni = 1, .nf = 3, .v = {0, 2}, .yy = 10, .a0 = 2, .s0 = 4}, false);
  m.slot(1, 3, 2);
  m.slot(3, 1, 2);
  m.number();  // node 4 is free and has no element
  return m;
}

void expect_rel(double got, double want) {
  EXPECT_NEAR(got, want, kRel * std::max(1.0, std::fabs(want))) << "want " << want;
}

TEST(Element, SlotsWithGapDirectionsAndNodePairs) {
  Model m = plane_model();
  ASSERT_EQ(m.c.NEQ, 8);
  struct Case {
    int32_t i, j;
    double want;
  } cases[] = {
      {1, 1, 1.44},   // both elements, element 2 adds nothing in direction 1
      {2, 2, 7.56},   // 2.56 + 5: the element behind the empty slot counts
      {1, 2, 1.92},   // one node, two directions: no DELTA, sum of element terms
      {1, 3, -1.44},  // nodes 1 and 2 through element 1
      {2, 4, -2.56}, {1, 4, -1.92}, {2, 6, -5.0},  // nodes 1 and 3 through element 2 (slot 3)
      {3, 3, 1.44},                                // node 2 has element 1 only
      {3, 5, 0.0},                                 // nodes 2 and 3 are not joined
      {7, 7, 0.0},                                 // node 4 has no element
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "AA(" << k.i << "," << k.j << ")");
    expect_rel(AA(m.c, m.W, k.i, k.j), k.want);
  }
}

TEST(Element, OnlyTheUpperHalfBandIsComputed) {
  Model m = plane_model(0, 0.0, 2);
  EXPECT_EQ(AA(m.c, m.W, 2, 1), 0.0);  // J < I
  EXPECT_EQ(AA(m.c, m.W, 4, 3), 0.0);
  expect_rel(AA(m.c, m.W, 1, 2), 1.92);             // J = I + NBAND - 1
  EXPECT_EQ(AA(m.c, m.W, 1, 3), 0.0);               // J = I + NBAND, though the nodes are joined
  m.c.NBAND = std::numeric_limits<int32_t>::max();  // I + NBAND - 1 must not overflow
  expect_rel(AA(m.c, m.W, 1, 3), -1.44);
  m.c.NBAND = 0;
  EXPECT_EQ(AA(m.c, m.W, 1, 1), 0.0);
}

TEST(Element, SpringsAreSubtractedOncePerConnectedElementOfAnyState) {
  Model m = plane_model(-1);  // element 1 is left out
  m.spring(1, 1, 100.0f);
  m.spring(4, 1, 7.0f);
  // Node 1: element 1 (state -1) and element 2 both pass the connection test.
  EXPECT_EQ(AA(m.c, m.W, 1, 1), -200.0);
  // Direction 2 has no spring of its own, but the node is elastic: minus 0.0, twice.
  expect_rel(AA(m.c, m.W, 2, 2), 5.0);
  EXPECT_EQ(AA(m.c, m.W, 1, 2), 0.0);  // different directions: no support term
  // Nodes 1 and 2 are joined only by the left-out element: its spring term remains.
  EXPECT_EQ(AA(m.c, m.W, 1, 3), -100.0);
  EXPECT_EQ(AA(m.c, m.W, 3, 3), 0.0);  // node 2 has no spring and no active element
  // A spring on a node without elements never shows up.
  EXPECT_EQ(AA(m.c, m.W, 7, 7), 0.0);
}

TEST(Element, FirstActiveElementBetweenTwoNodesDecides) {
  // Elements 1 (state -1) and 3 (active) and 4 (active, stiffer) all join nodes 1 and 2.
  Model m(2, 2, 3, 4, 4);
  m.element(1, Elem{.ni = 1, .nf = 2, .v = {1, 0}, .ind = -1, .yy = 9});
  m.element(2, Elem{.ni = 1, .nf = 1, .v = {1, 0}}, false);  // unused
  m.element(3, Elem{.ni = 2, .nf = 1, .v = {-2, 0}, .yy = 3});
  m.element(4, Elem{.ni = 1, .nf = 2, .v = {1, 0}, .yy = 50});
  m.spring(1, 1, 0.5f);
  m.number();
  // Diagonal: both active elements, the spring once per connected element (three).
  EXPECT_EQ(AA(m.c, m.W, 1, 1), -1.5 + 3.0 + 50.0);
  // Off-diagonal: the spring of element 1 is discarded by element 3, element 4 adds nothing.
  EXPECT_EQ(AA(m.c, m.W, 1, 3), -3.0);
  EXPECT_EQ(AA(m.c, m.W, 2, 4), -0.0);
  EXPECT_EQ(AA(m.c, m.W, 1, 4), 0.0);  // different directions, element 3: -0.0
}

TEST(Element, ForceTermsOfBothActiveStates) {
  // State 1: only (DELTA - c c) T / S0 remains; T = 10, S0 = 5.
  Model m = plane_model(1, 10.0);
  expect_rel(AA(m.c, m.W, 3, 3), (1 - 0.36) * 2);
  expect_rel(AA(m.c, m.W, 3, 4), -0.48 * 2);
  expect_rel(AA(m.c, m.W, 1, 3), -(1 - 0.36) * 2);
  expect_rel(AA(m.c, m.W, 2, 3), 0.48 * 2);
  // State 0 with the same force: EA/S0 c c + T/S0 (DELTA - c c).
  Model e = plane_model(0, 10.0);
  expect_rel(AA(e.c, e.W, 3, 3), 4 * 0.36 + 2 * 0.64);
  expect_rel(AA(e.c, e.W, 3, 4), 4 * 0.48 - 2 * 0.48);
  expect_rel(AA(e.c, e.W, 1, 4), -(4 * 0.48 - 2 * 0.48));
}

TEST(Element, SinglePrecisionInputsAreWidenedNotRetyped) {
  // 0.1f is not 0.1: the values must be the widened single-precision numbers.
  Model m(2, 1, 1, 1, 2);
  m.element(1, Elem{.ni = 1, .nf = 2, .v = {1}, .al0 = 0.1f});
  m.number();
  EXPECT_EQ(AA(m.c, m.W, 1, 1), static_cast<double>(0.1f));
  m.W.AL0[0] = 1.0f;
  m.W.S0[0] = 0.1f;
  EXPECT_EQ(AA(m.c, m.W, 1, 1), 1.0 / static_cast<double>(0.1f));
  m.W.S0[0] = 1.0f;
  m.W.A0[0] = 3.0f;
  m.spring(1, 1, 0.1f);
  EXPECT_EQ(AA(m.c, m.W, 1, 1), -static_cast<double>(0.1f) + 3.0);
}

TEST(Element, TermIsEvaluatedInTheDocumentedOrderBitForBit) {
  // Values chosen so that a reordered product or sum changes the last bits.
  const float al0 = 0.3f, a0 = 0.7f, s0 = 1.3f;
  const double yy = 210135.57142857142, t = 17.3, vi = 0.37, vj = 0.51, vmod = 1.1;
  Model m(2, 2, 1, 1, 4);
  m.element(
      1, Elem{.ni = 1, .nf = 2, .v = {vi, vj}, .t = t, .al0 = al0, .yy = yy, .a0 = a0, .s0 = s0});
  m.W.VMOD[0] = vmod;
  m.number();
  const double AL0 = al0, A0 = a0, S0 = s0;
  const double same = ((AL0 * yy * A0 - t) * vi * vi / (vmod * vmod) + 1.0 * t) / S0;
  const double cross = ((AL0 * yy * A0 - t) * vi * vj / (vmod * vmod) + 0.0 * t) / S0;
  ASSERT_NE(cross, ((AL0 * (yy * A0) - t) * vi * vj / (vmod * vmod) + 0.0 * t) / S0);
  ASSERT_NE(cross, ((AL0 * yy * A0 - t) * (vi * vj) / (vmod * vmod) + 0.0 * t) / S0);
  EXPECT_EQ(AA(m.c, m.W, 1, 1), same);
  EXPECT_EQ(AA(m.c, m.W, 1, 2), cross);
  EXPECT_EQ(AA(m.c, m.W, 1, 4), -cross);
  m.W.IND[0] = 2;
  EXPECT_EQ(AA(m.c, m.W, 1, 2), (0.0 - vi * vj / (vmod * vmod)) * t / S0);
  EXPECT_EQ(AA(m.c, m.W, 2, 2), (1.0 - vj * vj / (vmod * vmod)) * t / S0);
}

TEST(Element, ElasticTestsEveryDirection) {
  Model m(3, 3, 1, 0, 1);
  m.spring(1, 3, 2.0f);  // last direction only
  m.spring(3, 2, std::numeric_limits<float>::quiet_NaN());
  EXPECT_TRUE(ELASTIC(m.c, 1));
  EXPECT_FALSE(ELASTIC(m.c, 2));
  EXPECT_TRUE(ELASTIC(m.c, 3));  // NaN counts as a support
  m.c.NDOFN = 0;
  EXPECT_FALSE(ELASTIC(m.c, 1));
}

}  // namespace
}  // namespace drav
