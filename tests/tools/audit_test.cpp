// The audit tool: the residual and condition computations on hand-made factors, the
// strict reading of the small result files, the record listing, and whole runs of the model
// builder, the program and the check on the examples and on damaged result files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "params/compar.h"
#include "params/work.h"
#include "recio/binrec.h"
#include "recio/fatal.h"
#include "recio/textio.h"
#include "tool_runs.h"
#include "tools/audit/audit_dump.h"
#include "tools/audit/audit_linalg.h"
#include "tools/audit/audit_model.h"

namespace fs = std::filesystem;
using drav::Matrix;
using namespace drav::audit;
using namespace drav::tooltest;

namespace {

Matrix make(const std::vector<std::vector<double>>& rows) {
  Matrix m;
  m.allocate(static_cast<int32_t>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    for (size_t j = 0; j < rows.size(); ++j) {
      m(static_cast<int32_t>(i + 1), static_cast<int32_t>(j + 1)) = rows[i][j];
    }
  }
  return m;
}

// L = [1; 1/2 1; 1/4 1/2 1], U = [4 2 2; 2 1; 3], rows in the order 3, 1, 2: A(IORD(i),:) is
// row i of L*U, all exact in binary.
const std::vector<int32_t> kIord = {3, 1, 2};
Matrix factors3() {
  return make({{4, 2, 2}, {0.5, 2, 1}, {0.25, 0.5, 3}});
}
Matrix matrix3() {
  return make({{2, 3, 2}, {1, 1.5, 4}, {4, 2, 2}});
}

// The inverse of a 3x3 by cofactors, independent of the factors.
double inverse_norm1_by_cofactors(const Matrix& a) {
  auto m = [&](int i, int j) { return a(i, j); };
  const double det = m(1, 1) * (m(2, 2) * m(3, 3) - m(2, 3) * m(3, 2)) -
                     m(1, 2) * (m(2, 1) * m(3, 3) - m(2, 3) * m(3, 1)) +
                     m(1, 3) * (m(2, 1) * m(3, 2) - m(2, 2) * m(3, 1));
  double worst = 0;
  for (int j = 1; j <= 3; ++j) {  // column j of the inverse = cofactors of row j / det
    double s = 0;
    for (int i = 1; i <= 3; ++i) {
      const int r1 = j % 3 + 1, r2 = (j + 1) % 3 + 1, c1 = i % 3 + 1, c2 = (i + 1) % 3 + 1;
      s += std::fabs((m(r1, c1) * m(r2, c2) - m(r1, c2) * m(r2, c1)) / det);
    }
    worst = std::max(worst, s);
  }
  return worst;
}

// A factored with the program's own factorization.
struct Factored {
  Matrix A, F;
  std::vector<int32_t> IORD;
};

Factored factor(const Matrix& A) {
  Factored r;
  const int32_t n = A.order();
  r.A.allocate(n);
  r.F.allocate(n);
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= n; ++j) r.A(i, j) = r.F(i, j) = A(i, j);
  }
  // The tools' one way into the program's factorization; the band is the whole matrix.
  drav::COMPAR c;
  c.NEQ = c.NBAND = n;
  const RepeatedFactorization f = factor_as_the_program(c, r.F);
  EXPECT_TRUE(f.complete);
  r.IORD = f.IORD;
  return r;
}

// A deterministic nonsymmetric matrix whose rows need exchanging.
Matrix scrambled(int32_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  Matrix a;
  a.allocate(n);
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= n; ++j) a(i, j) = d(gen);
  }
  return a;
}

}  // namespace

TEST(AuditLinalg, PermutationTable) {
  struct Case {
    std::vector<int32_t> v;
    int32_t n;
    bool want;
  };
  const std::vector<Case> cases = {
      {{}, 0, true},         {{1}, 1, true},           {{3, 1, 2}, 3, true},
      {{1, 1, 3}, 3, false}, {{0, 1, 2}, 3, false},    {{4, 1, 2}, 3, false},
      {{1, 2}, 3, false},    {{1, 2, 3, 4}, 3, false}, {{-1, 1, 2}, 3, false}};
  for (const auto& c : cases) EXPECT_EQ(is_permutation(c.v, c.n), c.want) << c.v.size();
}

TEST(AuditLinalg, ResidualOfExactFactorsIsZeroAndMeasuresDamage) {
  const Matrix A = matrix3();
  Matrix F = factors3();
  EXPECT_EQ(lu_residual(A, F, kIord), 0.0);
  EXPECT_EQ(max_abs(A), 4.0);
  EXPECT_EQ(norm1(A), 8.0);

  // A multiplier off by 2^-10 moves row 3 of L*U by 2^-10 * U(1,:): the worst is 2^-10 * 4.
  F(3, 1) += std::ldexp(1.0, -10);
  EXPECT_EQ(lu_residual(A, F, kIord), std::ldexp(1.0, -8));
  F = factors3();
  // An entry of U off by 1 at (2,3) shows in rows 2 and 3 (through L(3,2) = 1/2): worst 1.
  F(2, 3) += 1;
  EXPECT_EQ(lu_residual(A, F, kIord), 1.0);
  // The right factors with the wrong row order.
  EXPECT_GT(lu_residual(A, factors3(), {1, 2, 3}), 1.0);
  // A NaN anywhere is never hidden behind a smaller maximum.
  F = factors3();
  F(3, 3) = std::nan("");
  EXPECT_TRUE(std::isnan(lu_residual(A, F, kIord)));
}

TEST(AuditLinalg, SolvesWithTheFactorsBothWays) {
  const Matrix A = matrix3();
  const Matrix F = factors3();
  const std::vector<double> x = {1, -2, 0.5};
  for (bool transposed : {false, true}) {
    std::vector<double> b(3, 0.0);
    for (int32_t i = 1; i <= 3; ++i) {
      for (int32_t j = 1; j <= 3; ++j) b[i - 1] += (transposed ? A(j, i) : A(i, j)) * x[j - 1];
    }
    lu_solve(F, kIord, b, transposed);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[k], x[k], 1e-14) << transposed << " " << k;
  }
}

TEST(AuditLinalg, ConditionExactAndEstimated) {
  const Matrix A = matrix3();
  const Matrix F = factors3();
  const double want = inverse_norm1_by_cofactors(A);
  EXPECT_NEAR(inverse_norm1_exact(F, kIord), want, 1e-14 * want);
  const Condition exact = condition_1norm(A, F, kIord);
  EXPECT_TRUE(exact.exact);
  EXPECT_EQ(exact.norm_a, 8.0);
  EXPECT_NEAR(exact.kappa, 8.0 * want, 1e-13 * want);
  const Condition est = condition_1norm(A, F, kIord, /*exact_limit=*/0);
  EXPECT_FALSE(est.exact);
  EXPECT_NEAR(est.norm_inv, want, 1e-14 * want);

  // A permuted diagonal: the inverse norm is the largest reciprocal.
  const Factored d = factor(make({{0, 0, 5}, {2, 0, 0}, {0, 1e-3, 0}}));
  EXPECT_NEAR(inverse_norm1_exact(d.F, d.IORD), 1000.0, 1e-9);
  EXPECT_NEAR(inverse_norm1_estimate(d.A), 1000.0, 1e-9);
  EXPECT_NEAR(condition_1norm(d.A, d.F, d.IORD).kappa, 5000.0, 1e-8);
}

TEST(AuditLinalg, EstimateIsALowerBoundCloseToTheExactNorm) {
  for (unsigned seed : {1u, 2u, 3u}) {
    for (int32_t n : {1, 2, 7, 40}) {
      const Factored f = factor(scrambled(n, seed));
      EXPECT_LT(lu_residual(f.A, f.F, f.IORD) / max_abs(f.A), 1e-14);
      const double exact = inverse_norm1_exact(f.F, f.IORD);
      const double est = inverse_norm1_estimate(f.A);
      EXPECT_LE(est, exact * (1 + 1e-12)) << seed << " " << n;
      EXPECT_GE(est, exact / 3) << seed << " " << n;
    }
  }
}

TEST(AuditText, FreeFormatIntegersAndDifferences) {
  EXPECT_EQ(free_format_integers({2, 1, 3}), "           2           1           3\r\n");
  EXPECT_EQ(free_format_integers({}), " \r\n");
  EXPECT_EQ(free_format_integers({-1}), "          -1\r\n");
  const std::string seven = free_format_integers({1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(seven.size(), 72u + 2 + 12 + 2);
  EXPECT_EQ(seven.substr(72, 2), "\r\n");
  EXPECT_EQ(first_differing_line("a\r\nb\r\n", "a\r\nb\r\n"), 0);
  EXPECT_EQ(first_differing_line("a\r\nb\r\n", "a\nb\n"), 1);
  EXPECT_EQ(first_differing_line("a\r\nb\r\n", "a\r\nc\r\n"), 2);
  EXPECT_EQ(first_differing_line("a\r\nb\r\n", "a\r\n"), 2);
}

TEST(AuditText, ParsesIntegersStrictly) {
  EXPECT_EQ(parse_integers(7, "order.dat", "  3 1,2\r\n -4 +5\n"),
            (std::vector<int32_t>{3, 1, 2, -4, 5}));
  EXPECT_TRUE(parse_integers(7, "order.dat", " \r\n").empty());
  struct Bad {
    std::string text, want;
  };
  const std::vector<Bad> bad = {
      {"1 2\n3 x\n", "list-directed I/O syntax error, unit 7, file order.dat (line 2: \"x\")"},
      {"1.5", "list-directed I/O syntax error"},
      {"+-3", "list-directed I/O syntax error"},
      {"99999999999", "input conversion error"}};
  for (const auto& b : bad) {
    try {
      parse_integers(7, "order.dat", b.text);
      ADD_FAILURE() << b.text;
    } catch (const drav::recio::FatalError& e) {
      EXPECT_NE(std::string(e.what()).find(b.want), std::string::npos) << e.what();
    }
  }
}

TEST(AuditDump, RecordTypesByNameAndWord) {
  EXPECT_EQ(record_type_for_name("dir/nei.UNF"), RecordType::Int);
  EXPECT_EQ(record_type_for_name("X0.unf"), RecordType::Real);
  EXPECT_EQ(record_type_for_name("AA0.UNF"), RecordType::Double);
  EXPECT_EQ(record_type_for_name("/a/b/AA.UNF"), RecordType::Double);
  EXPECT_EQ(record_type_for_name("el.unf"), RecordType::Element);
  EXPECT_FALSE(record_type_for_name("COMZOR.DAT").has_value());
  EXPECT_EQ(record_type_from_word("real"), RecordType::Real);
  EXPECT_FALSE(record_type_from_word("float").has_value());
  EXPECT_EQ(shortest(0.1), "0.1");
  EXPECT_EQ(shortest(0.1f), "0.1");
  EXPECT_EQ(shortest(-2.5e-300), "-2.5e-300");
}

TEST_F(AuditFiles, ListsSequentialRecordsWithSubrecordsAndLimits) {
  {
    drav::recio::SeqWriter w(2, file("nei.UNF"), drav::recio::OpenStatus::Unknown);
    std::vector<int32_t> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    w.set_subrecord_limit(12);  // record 1 becomes a chain of four subrecords
    drav::recio::write_array(w, ten.data(), 10);
    w.write(nullptr, 0);
    const unsigned char odd[6] = {7, 0, 0, 0, 1, 2};
    w.write(odd, 6);
    w.close();
  }
  std::ostringstream out;
  dump_sequential(file("nei.UNF"), RecordType::Int, {}, out);
  EXPECT_EQ(out.str(), file("nei.UNF") +
                           ": sequential records, values as int (4 bytes)\n"
                           "record 1: 40 bytes, 10 ints\n"
                           "   1:            1            2            3            4            5"
                           "            6            7            8\n"
                           "   9:            9           10\n"
                           "record 2: 0 bytes, 0 ints\n"
                           "record 3: 6 bytes, 1 int and 2 bytes left over\n"
                           "  1:            7\n"
                           "3 records, 46 data bytes\n");

  std::ostringstream limited;
  dump_sequential(file("nei.UNF"), RecordType::Double, {.max_values = 1}, limited);
  EXPECT_NE(limited.str().find("record 1: 40 bytes, 5 doubles\n"), std::string::npos);
  EXPECT_NE(limited.str().find("  ... 4 more\n"), std::string::npos);
}

TEST_F(AuditFiles, ListingStopsWithAFatalErrorAtDamagedFraming) {
  std::string bytes("\x04\0\0\0\x01\0\0\0\x04\0\0\0\x08\0\0\0\x01\0\0\0", 20);
  std::ofstream(file("x.bin"), std::ios::binary) << bytes;
  std::ostringstream out;
  EXPECT_THROW(dump_sequential(file("x.bin"), RecordType::Real, {}, out), drav::recio::FatalError);
  EXPECT_NE(out.str().find("record 1: 4 bytes, 1 real\n"), std::string::npos);
}

TEST_F(AuditFiles, DecodesElementRecords) {
  const int32_t ndofn = 2;
  {
    drav::recio::DirectWriter w(2, file("el.unf"), 8 * ndofn + 56);
    unsigned char rec[8 * ndofn + 56] = {};
    const double v[2] = {3, -4}, vmod = 5, yy = 2.1e8, t = -12.5;
    const int32_t ind = -1;
    const float al0 = 0.75f;
    std::memcpy(rec, v, 16);
    std::memcpy(rec + 16, &vmod, 8);
    std::memcpy(rec + 32, &yy, 8);
    std::memcpy(rec + 40, &t, 8);
    std::memcpy(rec + 64, &ind, 4);
    std::memcpy(rec + 68, &al0, 4);
    w.write(2, rec, sizeof rec);
    w.close();
  }
  std::ostringstream out;
  dump_elements(file("el.unf"), ndofn, {}, out);
  EXPECT_EQ(out.str(), file("el.unf") +
                           ": direct access, NDOFN = 2, records of 288 bytes, 2 records\n"
                           "record 1: VMOD = 0  YY = 0  T = 0  IND = 0  AL0 = 0\n"
                           "  V: 0 0\n"
                           "record 2: VMOD = 5  YY = 2.1e+08  T = -12.5  IND = -1  AL0 = 0.75\n"
                           "  V: 3 -4\n");
}

// ---------------------------------------------------------------------------------------
// Whole runs: drav-mkmodel builds a working directory, drav runs there, drav-audit checks.

namespace {

double field(const std::string& out, const std::string& key) {
  const std::regex re(key + ": ([-+0-9.e]+)");
  std::smatch m;
  if (!std::regex_search(out, m, re)) return std::nan("");
  return std::stod(m[1]);
}

// A triangle with a spring that weakens the diagonal enough for the pivot search to exchange.
const char* const kTriangle =
    "ndofn 2\nnode 1 0 0\nnode 2 4 0\nnode 3 2 3\nfix 1 x y\nfix 2 y\n"
    "spring 2 x 30000\ndefault E=2.1e8 A=0.001\nbar 1 1 2\nbar 2 2 3\nbar 3 1 3\n";

// Node 2 between two collinear bars has no stiffness across them.
const char* const kCollinear =
    "ndofn 2\nnode 1 0 0\nnode 2 4 0\nnode 3 8 0\nfix 1 x y\nfix 3 x y\n"
    "default E=2.1e8 A=0.001\nbar 1 1 2\nbar 2 2 3\nbar 3 1 3 IND=-1\n";

}  // namespace

TEST_F(AuditRun, EveryExamplePassesOrNamesItsSingularUnknown) {
  std::vector<fs::path> examples;
  for (const auto& e : fs::directory_iterator(fs::path(DRAV_SOURCE_DIR) / "examples")) {
    if (e.path().extension() == ".txt") examples.push_back(e.path());
  }
  ASSERT_FALSE(examples.empty());
  int regular = 0, singular = 0;
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.filename().string());
    const fs::path d = build_and_run(ex.stem().string(), ex.string());
    const std::string status = read_file(d / "drav0.dat");
    const Outcome r = check(d);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    if (status == "           0\r\n") {
      ++regular;
      EXPECT_NE(r.out.find("PASS"), std::string::npos) << r.out;
      const double res = field(r.out, "residual"), cond = field(r.out, "condition estimate");
      EXPECT_GT(cond, 0) << r.out;
      // Well conditioned: the factors reproduce the matrix to a few units of rounding.
      if (cond < 1e8) {
        EXPECT_LT(res, 1e-14) << r.out;
      }
    } else {
      ++singular;
      // The same node and direction as the program's own report.
      std::smatch m;
      ASSERT_TRUE(std::regex_search(drav_.out, m, std::regex("NODE: ([0-9]+),   DIRECTION: (.)")))
          << drav_.out;
      EXPECT_NE(r.out.find("node " + m[1].str() + ", direction "), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("(" + m[2].str() + ")\n"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("element "), std::string::npos) << r.out;
    }
  }
  EXPECT_GT(regular, 0);
  EXPECT_GT(singular, 0);
}

TEST_F(AuditRun, ExchangedRowsPassAndDamagedResultsFail) {
  const fs::path d = build_text("tri", kTriangle);
  ASSERT_EQ(read_file(d / "drav0.dat"), "           0\r\n");
  Outcome r = check(d);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("0 rows out of place"), std::string::npos) << r.out;
  EXPECT_LT(field(r.out, "residual"), 1e-14) << r.out;

  const std::string good_matrix = read_file(d / "AA0.UNF");
  const std::string good_order = read_file(d / "order.dat");
  struct Damage {
    const char* what;
    const char* file;
    std::string bytes;
    int status;
    const char* says;
  };
  std::string one_value = good_matrix;  // record 2, value 3 (3 equations, 24-byte rows)
  double v;
  std::memcpy(&v, one_value.data() + 32 + 4 + 16, 8);
  v *= 1.001;
  std::memcpy(one_value.data() + 32 + 4 + 16, &v, 8);
  std::string framing = good_matrix;
  framing[32] = 16;
  const std::vector<Damage> cases = {
      {"one value", "AA0.UNF", one_value, 1, "FAIL: residual"},
      {"record lost", "AA0.UNF", good_matrix.substr(0, 64), 1, "holds 2 records"},
      {"framing", "AA0.UNF", framing, 2, "error during read, unit 3, file AA0.UNF"},
      {"order repeated", "order.dat", "           1           1           2\r\n", 1,
       "not a permutation"},
      {"order layout", "order.dat", "1 2 3\n", 1, "not in the free-format layout"},
      {"order text", "order.dat", "1 2 three\r\n", 2, "syntax error, unit 7, file order.dat"},
      {"status singular", "drav0.dat", "          -1\r\n", 1, "factors completely"},
      {"status unknown", "drav0.dat", "           5\r\n", 1, "never writes"},
      {"status empty", "drav0.dat", "", 2, "one status expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(d / c.file, c.bytes);
    r = check(d);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    if (c.status == 2) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    write_file(d / "AA0.UNF", good_matrix);
    write_file(d / "order.dat", good_order);
    write_file(d / "drav0.dat", "           0\r\n");
  }
  EXPECT_EQ(check(d).status, 0);

  // A permutation that is not the one of the factors.
  std::string swapped = good_order;
  std::vector<int32_t> iord = parse_integers(7, "order.dat", good_order);
  std::swap(iord[0], iord[2]);
  write_file(d / "order.dat", free_format_integers(iord));
  r = check(d);
  EXPECT_EQ(r.status, 1) << r.out;

  // Files missing: one line, status 2.
  fs::remove(d / "order.dat");
  r = check(d);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "drav-audit: " + d.string() + ": file not found, unit 7, file order.dat\n");
  EXPECT_EQ(check(dir_ / "nowhere").status, 2);
  // A loose tolerance lets a damaged value through.
  write_file(d / "order.dat", good_order);
  write_file(d / "AA0.UNF", one_value);
  EXPECT_EQ(check(d, " --tol 1").status, 0);
  EXPECT_EQ(check(d, " --tol x").status, 2);
}

TEST_F(AuditRun, LaterIterationChecksAaUnf) {
  std::string text = std::string(kTriangle) + "iter 3\n";
  const fs::path d = dir_ / "iter3";
  const std::string p = file("iter3.txt");
  std::ofstream(p) << text;
  ASSERT_EQ(
      run_in(dir_, std::string(DRAV_MKMODEL_EXE) + " " + quote(p) + " " + quote(d.string())).status,
      0);
  write_file(d / "AA.UNF", "");  // the program opens it as an existing file
  ASSERT_EQ(run_in(d, DRAV_EXE).status, 0);
  const Outcome r = check(d);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("AA.UNF: 3 records of 24 bytes"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(d / "AA0.UNF"));
}

TEST_F(AuditRun, SingularRunNamesNodeDirectionAndElements) {
  const fs::path d = build_text("line", kCollinear);
  ASSERT_EQ(read_file(d / "drav0.dat"), "          -1\r\n");
  EXPECT_NE(drav_.out.find(" ** NODE: 2,   DIRECTION: Y"), std::string::npos) << drav_.out;
  const std::string report_before = read_file(d / "report.txt");
  const Outcome r = check(d);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("singular: the factorization stops at step 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("unknown: equation 2, node 2, direction 2 (Y)\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("element 1: nodes 1 - 2, IND = 0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("element 2: nodes 2 - 3, IND = 0"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("element 3"), std::string::npos) << r.out;
  // The repeated factorization leaves the run's report file alone.
  EXPECT_EQ(read_file(d / "report.txt"), report_before);

  // The listing of the element file takes NDOFN from the COMZOR.DAT beside it.
  const Outcome el =
      run_in(dir_, std::string(DRAV_AUDIT_EXE) + " dump " + quote((d / "el.unf").string()));
  EXPECT_EQ(el.status, 0) << el.err;
  EXPECT_NE(el.out.find("NDOFN = 2, records of 288 bytes, 3 records"), std::string::npos) << el.out;
  EXPECT_NE(el.out.find("record 3: VMOD = 8  YY = 2.1e+08  T = 0  IND = -1  AL0 = 1\n  V: 8 0\n"),
            std::string::npos)
      << el.out;
}
