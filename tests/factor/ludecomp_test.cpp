// The factorization on hand-checked matrices, and its failure records.
#include "factor/reference/ludecomp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "factor_support.h"
#include "recio/textio.h"

namespace drav {
namespace {

using testing_factor::make_matrix;
using testing_factor::read_file;
using testing_factor::same_bits;
using testing_factor::TempDir;
using testing_factor::with_report;
using testing_factor::write_file;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Outcome {
  int32_t ierr = 99, kstep = 99;
  std::vector<int32_t> iord;
  std::string console, report;
};

// Factors `a` (order n) with the report file in a fresh directory holding `earlier`, if any.
Outcome factor(Matrix& a, int32_t n, const char* earlier = nullptr) {
  TempDir dir;
  const std::string rep = dir.file("report.txt");
  if (earlier != nullptr) write_file(rep, earlier);
  const COMPAR c = with_report(rep);
  recio::StringSink console;
  Outcome r;
  r.iord.assign(n > 0 ? n : 1, -7);
  LUDECOMP(a, n, r.iord.data(), r.ierr, r.kstep, c, console);
  r.console = console.text();
  r.report = recio::file_exists(rep) ? read_file(rep) : std::string("<no file>");
  return r;
}

TEST(Ludecomp, ExchangeAndFactors) {
  // Column 1 wants row 2 on top (l21 = 0.5, l31 = 0); at step 2 the candidates tie at 2.
  Matrix a = make_matrix({{2, 3, 1}, {4, 2, 0}, {0, 2, -1}});
  Outcome r = factor(a, 3);
  EXPECT_EQ(r.ierr, 0);
  EXPECT_EQ(r.kstep, 4);
  EXPECT_EQ(r.iord, (std::vector<int32_t>{2, 1, 3}));
  // Row 2 (entry row 1): 3 - 0.5*2 = 2, 1 - 0 = 1. Row 3: l32 = 2/2 = 1, u33 = -1 - 1*1 = -2.
  Matrix want = make_matrix({{4, 2, 0}, {0.5, 2, 1}, {0, 1, -2}});
  EXPECT_TRUE(same_bits(a, want, 3));
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(r.report, "<no file>");  // success writes nothing, not even an empty file
}

TEST(Ludecomp, NoExchangeKeepsIdentityOrder) {
  Matrix a = make_matrix({{-8, 1, 0}, {2, -5, 1}, {1, 1, 4}});  // negative pivots included
  Outcome r = factor(a, 3);
  EXPECT_EQ(r.ierr, 0);
  EXPECT_EQ(r.kstep, 4);
  EXPECT_EQ(r.iord, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(a(2, 1), -0.25);
  EXPECT_EQ(a(2, 2), -5 - (-0.25) * 1);
}

TEST(Ludecomp, EmptySystem) {
  for (int32_t n : {0, -3}) {
    Matrix a;  // never read
    Outcome r = factor(a, n);
    EXPECT_EQ(r.ierr, 0);
    EXPECT_EQ(r.kstep, 1);
    EXPECT_EQ(r.iord[0], -7);
    EXPECT_EQ(r.console, "");
    EXPECT_EQ(r.report, "<no file>");
  }
}

const std::string kStep1Zero = "  u(1,1) =   0.000000      <  1.0000000E-07\r\n";

TEST(Ludecomp, OrderOne) {
  struct Case {
    double v;
    int32_t ierr, kstep;
    std::string record;  // on the console and in the file when it fails
  };
  const double below = std::nextafter(PIVTOL, 0.0);
  const std::vector<Case> cases = {
      {PIVTOL, 0, 2, ""},
      {-PIVTOL, 0, 2, ""},
      {-3.5, 0, 2, ""},
      {0.0, -1, 1, kStep1Zero},
      {-0.0, -1, 1, kStep1Zero},
      // Just below the tolerance in double, yet it rounds to the tolerance in single.
      {below, -1, 1, "  u(1,1) =  1.0000000E-07  <  1.0000000E-07\r\n"},
      {-0x1p-24, -1, 1, "  u(1,1) = -5.9604645E-08  <  1.0000000E-07\r\n"},
      {kNaN, -1, 1, "  u(1,1) =            NaN  <  1.0000000E-07\r\n"},
  };
  for (const Case& cs : cases) {
    SCOPED_TRACE(cs.v);
    Matrix a = make_matrix({{cs.v}});
    Outcome r = factor(a, 1);
    EXPECT_EQ(r.ierr, cs.ierr);
    EXPECT_EQ(r.kstep, cs.kstep);
    EXPECT_EQ(r.iord, (std::vector<int32_t>{1}));
    EXPECT_EQ(r.console, cs.record);
    EXPECT_EQ(r.report, cs.record.empty() ? "<no file>" : cs.record);
  }
}

TEST(Ludecomp, FailureAtStepOneKeepsEarlierReport) {
  Matrix a = make_matrix({{0, 1}, {0, 2}});  // column 1 all zero: no exchange, fails at once
  Outcome r = factor(a, 2, "earlier line\r\n");
  EXPECT_EQ(r.ierr, -1);
  EXPECT_EQ(r.kstep, 1);
  EXPECT_EQ(r.iord, (std::vector<int32_t>{1, 2}));
  EXPECT_TRUE(same_bits(a, make_matrix({{0, 1}, {0, 2}}), 2));
  EXPECT_EQ(r.console, kStep1Zero);
  EXPECT_EQ(r.report, "earlier line\r\n" + kStep1Zero);
}

// Identity of order n with u(k,k) = v, so that the factorization reaches step k and stops.
Matrix identity_with(int32_t n, int32_t k, double v) {
  Matrix a;
  a.allocate(n);
  for (int32_t i = 1; i <= n; ++i) a(i, i) = 1.0;
  a(k, k) = v;
  return a;
}

TEST(Ludecomp, FailureAtLaterStepGoesToTheFileOnly) {
  struct Case {
    int32_t n, k;
    double v;
    std::string record;
  };
  const std::vector<Case> cases = {
      {12, 12, 0.0, " u(12,12) =    0.000000    "},
      {3, 2, 0x1p-24, " u(2,2) =   5.9604645E-08"},
      {3, 3, -0x1p-25, " u(3,3) =  -2.9802322E-08"},
      {3, 2, std::nextafter(PIVTOL, 0.0), " u(2,2) =   1.0000000E-07"},
      {3, 2, kNaN, " u(2,2) =             NaN"},
      {120, 100, 1e-30, " u(100,100) =   1.0000000E-30"},
  };
  for (const Case& cs : cases) {
    SCOPED_TRACE(cs.record);
    Matrix a = identity_with(cs.n, cs.k, cs.v);
    Outcome r = factor(a, cs.n, "x\r\n");
    EXPECT_EQ(r.ierr, -1);
    EXPECT_EQ(r.kstep, cs.k);
    EXPECT_EQ(r.console, "");
    EXPECT_EQ(r.report, "x\r\n\r\n" + cs.record + "\r\n");
  }
  // The same pivot magnitude exactly at the tolerance passes.
  for (double v : {PIVTOL, -PIVTOL}) {
    Matrix a = identity_with(3, 2, v);
    Outcome r = factor(a, 3);
    EXPECT_EQ(r.ierr, 0);
    EXPECT_EQ(r.kstep, 4);
    EXPECT_EQ(r.report, "<no file>");
  }
}

TEST(Ludecomp, ZeroColumnAfterEliminationStopsThere) {
  // Step 1 takes row 3 (4); multipliers 0.5 and 0.25 clear column 2 exactly: 2-0.5*4, 1-0.25*4.
  Matrix a = make_matrix({{2, 2, 3}, {1, 1, 7}, {4, 4, 1}});
  Outcome r = factor(a, 3);
  EXPECT_EQ(r.ierr, -1);
  EXPECT_EQ(r.kstep, 2);
  EXPECT_EQ(r.iord, (std::vector<int32_t>{3, 2, 1}));  // only the step-1 exchange
  // Row 2 of U is computed before the test; column 2 of L is not.
  Matrix want = make_matrix({{4, 4, 1}, {0.25, 0, 7 - 0.25}, {0.5, 2, 3}});
  EXPECT_TRUE(same_bits(a, want, 3));
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(r.report, "\r\n u(2,2) =    0.000000    \r\n");  // created when missing
}

TEST(Ludecomp, DirectVariantWritesTheSameFailure) {
  TempDir dir;
  const COMPAR c1 = with_report(dir.file("a.txt"));
  const COMPAR c2 = with_report(dir.file("b.txt"));
  Matrix a = make_matrix({{2, 2, 3}, {1, 1, 7}, {4, 4, 1}});
  Matrix b = make_matrix({{2, 2, 3}, {1, 1, 7}, {4, 4, 1}});
  recio::StringSink s1, s2;
  int32_t io1[3], io2[3], e1, e2, k1, k2;
  LUDECOMP(a, 3, io1, e1, k1, c1, s1);
  LUDECOMP_DIRECT(b, 3, io2, e2, k2, c2, s2);
  EXPECT_EQ(e1, e2);
  EXPECT_EQ(k1, k2);
  EXPECT_TRUE(same_bits(a, b, 3));
  EXPECT_EQ(read_file(dir.file("a.txt")), read_file(dir.file("b.txt")));
}

}  // namespace
}  // namespace drav
