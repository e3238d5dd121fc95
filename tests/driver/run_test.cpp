// Whole runs of the program in a scratch directory on models made by the model builder:
// every output file and the console are compared with their expected bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_support.h"
#include "tempdir.h"

// The sanitizers' allocator maps large blocks without asking whether the system could ever
// provide them, and ends the process itself where it cannot: a refusal the program sees and
// reports cannot be provoked under it.
#if defined(__SANITIZE_ADDRESS__)
#define DRAV_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DRAV_SANITIZED_ALLOCATOR 1
#endif
#endif

namespace drav {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

struct RunResult {
  int status = -1;
  std::string out, err;
};

class Run : public ::testing::Test {
 protected:
  TempDir tmp;
  std::filesystem::path dir = tmp.path() / "run";

  std::string path(const std::string& name) const { return (dir / name).string(); }
  std::string file(const std::string& name) const { return read_file(path(name)); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir / name); }

  // Writes the description and builds the working directory from it.
  void model(const std::string& description) {
    const std::string desc = (tmp.path() / "model.txt").string();
    write_file(desc, description);
    const std::string cmd =
        std::string("'") + DRAV_MKMODEL_EXE + "' '" + desc + "' '" + dir.string() + "' >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << description;
  }

  RunResult run() {
    std::filesystem::create_directories(dir);
    const std::string out = (tmp.path() / "stdout").string();
    const std::string err = (tmp.path() / "stderr").string();
    const std::string cmd =
        "cd '" + dir.string() + "' && '" + DRAV_EXE + "' >'" + out + "' 2>'" + err + "' </dev/null";
    const int rc = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
  }
};

std::string doubles(std::initializer_list<double> v) {
  std::string s(v.size() * 8, '\0');
  std::memcpy(s.data(), std::data(v), s.size());
  return s;
}

std::string record(const std::string& data) {
  const int32_t n = static_cast<int32_t>(data.size());
  std::string len(4, '\0');
  std::memcpy(len.data(), &n, 4);
  return len + data + len;
}

// One horizontal bar from a pinned node 1 to node 2 (free in x and y): EA/L = 100*1/2 = 50 in
// x, nothing in y unless a spring is given (the program subtracts the spring value).
std::string one_bar(const std::string& extra) {
  return "ndofn 2\n"
         "node 1 0 0\n"
         "node 2 2 0\n"
         "fix 1 all\n"
         "bar 1 1 2 E=100 A=1\n" +
         extra;
}

const char* kTitleBlock = "\r\n\r\n *** ZORVIK                  DRAV      \r\n";

// The status file after anything but a completed run: written first, replaced at the end.
const char* kFailedStatus = "          -1\r\n";

TEST_F(Run, RegularMatrixLeavesFactorsOrderAndStatus) {
  model(one_bar("spring 2 y -30\n"));
  const RunResult r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");  // a successful run writes nothing to the console
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file("AA0.UNF"), record(doubles({50.0, 0.0})) + record(doubles({0.0, 30.0})));
  EXPECT_EQ(file("order.dat"), "           1           2\r\n");
  EXPECT_EQ(file("drav0.dat"), "           0\r\n");
  EXPECT_EQ(file("rig-case1.dat"),
            " Stiffness Matrix (Upper Triangle)\r\n"
            " Half-Bandwidth: 2\r\n"
            "\r\n"
            "     50.00000         0.000000    \r\n"
            "\r\n"
            "     30.00000    \r\n");
  EXPECT_FALSE(exists("report.txt"));  // nothing appended after a success
}

TEST_F(Run, RowExchangeIsRecordedInTheOrder) {
  // A bar at 45 degrees to a pinned node and a spring: the column of x has a larger entry
  // in the y row after the spring is added, so the factors need an exchange.
  model(
      "ndofn 2\n"
      "node 1 0 0\n"
      "node 2 1 1\n"
      "fix 1 all\n"
      "bar 1 1 2 E=1 A=1 S0=1\n"
      "spring 2 x 0.25\n");
  // Matrix [k - 0.25, k; k, k] with k = 1/|v|^2, just below 0.5: row 2 wins the first pivot.
  const RunResult r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(file("order.dat"), "           2           1\r\n");
  const double vmod = std::sqrt(2.0);
  const double k = 1.0 * 1.0 / (vmod * vmod);
  const double l21 = (k - 0.25) / k;
  const double u22 = k - l21 * k;
  EXPECT_EQ(file("AA0.UNF"), record(doubles({k, k})) + record(doubles({l21, u22})));
}

TEST_F(Run, SingularMatrixIsReportedInEnglish) {
  model(one_bar("report rep.txt\niter 3\n"));
  write_file(path("rep.txt"), "earlier lines\r\n");
  write_file(path("AA.UNF"), "old matrix");
  const RunResult r = run();
  EXPECT_EQ(r.status, 0);  // a singular matrix is a result, not a failure
  EXPECT_EQ(r.err, "");
  const std::string lines = std::string(kTitleBlock) +
                            "\r\n"
                            "   ITERATION  NO. 3\r\n"
                            " ** NODE: 2,   DIRECTION: Y\r\n"
                            "    Stiffness Matrix is singular.\r\n";
  EXPECT_EQ(r.out, lines);  // the failure at step 2 goes to the report file only
  EXPECT_EQ(file("rep.txt"), "earlier lines\r\n\r\n u(2,2) =    0.000000    \r\n" + lines);
  EXPECT_EQ(file("drav0.dat"), "          -1\r\n");
  EXPECT_FALSE(exists("order.dat"));
  EXPECT_EQ(file("AA.UNF"), "old matrix");  // ITER 3 uses AA.UNF; nothing written to it
}

TEST_F(Run, SingularMatrixIsReportedInRomanian) {
  model(one_bar("language romanian\n"));
  const RunResult r = run();
  EXPECT_EQ(r.status, 0);
  const std::string lines = std::string(kTitleBlock) +
                            "\r\n"
                            "   ITERATIA  NR. 1\r\n"
                            " ** NODUL: 2,   DIRECTIA: Y\r\n"
                            "    Matricea de rigiditate este singulara.\r\n";
  EXPECT_EQ(r.out, lines);
  // The report file is created when missing.
  EXPECT_EQ(file("report.txt"), "\r\n u(2,2) =    0.000000    \r\n" + lines);
  EXPECT_EQ(file("AA0.UNF"), "");  // created by the open, never written
  EXPECT_EQ(file("drav0.dat"), "          -1\r\n");
  EXPECT_EQ(file("rig-case1.dat").substr(0, 47),
            " Matricea de rigiditate (Triunghiul superior)\r\n");
}

TEST_F(Run, FailureAtTheFirstStepGoesToConsoleAndReportFile) {
  // A vertical bar: nothing holds node 2 in x, the first equation.
  model(
      "ndofn 2\nnode 1 0 0\nnode 2 0 5\nfix 1 x y\nbar 1 1 2 E=10 A=2\n"
      "language Romana\ncase 12\n");
  const RunResult r = run();
  EXPECT_EQ(r.status, 0);
  const std::string step1 = "  u(1,1) =   0.000000      <  1.0000000E-07\r\n";
  const std::string lines = std::string(kTitleBlock) +
                            "\r\n"
                            "   ITERATIA  NR. 1\r\n"
                            " ** NODUL: 2,   DIRECTIA: X\r\n"
                            "    Matricea de rigiditate este singulara.\r\n";
  EXPECT_EQ(r.out, step1 + lines);
  EXPECT_EQ(file("report.txt"), step1 + lines);
  EXPECT_TRUE(exists("rig-case12.dat"));
}

TEST_F(Run, NoEquationsIsANormalRun) {
  model(one_bar("fix 2 x y\n"));
  write_file(path("AA0.UNF"), "stale");
  const RunResult r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(file("AA0.UNF"), "");
  EXPECT_EQ(file("order.dat"), " \r\n");
  EXPECT_EQ(file("drav0.dat"), "           0\r\n");
  EXPECT_EQ(file("rig-case1.dat"), " Stiffness Matrix (Upper Triangle)\r\n Half-Bandwidth: 1\r\n");
}

TEST_F(Run, LaterIterationNeedsTheMatrixFile) {
  model(one_bar("spring 2 y -30\niter 2\n"));
  RunResult r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("file not found, unit 3, file AA.UNF"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  // With the file present its old content is replaced by the factors.
  write_file(path("AA.UNF"), std::string(1000, 'x'));
  r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("AA.UNF"), record(doubles({50.0, 0.0})) + record(doubles({0.0, 30.0})));
  EXPECT_EQ(file("drav0.dat"), "           0\r\n");
}

TEST_F(Run, FirstIterationCreatesOrReplacesAA0) {
  model(one_bar("spring 2 y -30\n"));
  write_file(path("AA0.UNF"), std::string(5000, 'x'));
  write_file(path("order.dat"), std::string(300, 'y'));
  ASSERT_EQ(run().status, 0);
  EXPECT_EQ(file("AA0.UNF").size(), 2u * (16 + 8));
  EXPECT_EQ(file("order.dat"), "           1           2\r\n");
}

TEST_F(Run, ParameterFileProblemsEndTheRunWithTheReport) {
  std::filesystem::create_directories(dir);
  RunResult r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("file not found, unit 2, file COMZOR.DAT"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";

  write_file(path("COMZOR.DAT"), "");
  r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("end-of-file during read, unit 2, file COMZOR.DAT"), std::string::npos);

  write_file(path("COMZOR.DAT"), "2 0 0 1 two 2 2\r\n");
  r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("list-directed I/O syntax error, unit 2, file COMZOR.DAT"),
            std::string::npos)
      << r.err;

  write_file(path("COMZOR.DAT"), "2 0 0 1 99999999999 2 2\r\n");
  r = run();
  EXPECT_NE(r.err.find("input conversion error, unit 2, file COMZOR.DAT"), std::string::npos);
  EXPECT_EQ(file("drav0.dat"), kFailedStatus);
}

using testing::comzor_text;

TEST_F(Run, WorkArraysThatCannotBeHadStopTheRun) {
  std::filesystem::create_directories(dir);
  // Group 1: NEI would need 70000 * 70000 * 4 bytes, more than 32 bits can count.
  write_file(path("COMZOR.DAT"), comzor_text("70000 0 0 1 0 70000 1", 0));
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "  * Allocation Error: NEI,NF,A0,S0\r\n STOP: DRAV\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file("drav0.dat"), kFailedStatus);
  // Group 2: V would need 300 000 000 * 2 * 8 bytes.
  write_file(path("COMZOR.DAT"), comzor_text("1 0 0 300000000 2 1 1", 2));
  r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "  * Eroare alocare:V,VMOD,YY,T,IND,AL0\r\n STOP: DRAV\r\n");
  EXPECT_EQ(file("drav0.dat"), kFailedStatus);
}

TEST_F(Run, MissingModelFileEndsTheRun) {
  model(one_bar(""));
  std::filesystem::remove(dir / "x0.UNF");
  const RunResult r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("file not found, unit 2, file x0.UNF"), std::string::npos) << r.err;
  EXPECT_EQ(file("drav0.dat"), kFailedStatus);
}

TEST_F(Run, EquationCountMustMatchTheSupports) {
  model(one_bar("spring 2 y -30\n"));
  std::string comzor = file("COMZOR.DAT");
  // NEQ stands alone on its line.
  const auto at = comzor.find("\r\n2\r\n");
  ASSERT_NE(at, std::string::npos);
  comzor.replace(at, 5, "\r\n3\r\n");
  write_file(path("COMZOR.DAT"), comzor);
  const RunResult r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("NEQ = 3, but the supports leave 2 free degrees of freedom"),
            std::string::npos)
      << r.err;
}

TEST_F(Run, ZeroReferenceLengthIsRefusedAfterTheReport) {
  model(
      "ndofn 2\nnode 1 0 0\nnode 2 1 0\nnode 3 2 0\nfix 1 all\nfix 3 all\n"
      "bar 1 1 2 E=1 A=1\nbar 2 2 3 E=1 A=1\n");
  // The builder refuses a zero reference length: set S0 of bar 1 in record 4 of x0.UNF.
  std::string x0 = file("x0.UNF");
  size_t at = 0;
  for (int rec = 1; rec < 4; ++rec) {
    int32_t len = 0;
    std::memcpy(&len, x0.data() + at, 4);
    at += 8 + static_cast<size_t>(len);
  }
  std::memset(x0.data() + at + 4, 0, 4);
  write_file(path("x0.UNF"), x0);
  const RunResult r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("node 2, direction 1"), std::string::npos) << r.err;
  EXPECT_TRUE(exists("rig-case1.dat"));
  EXPECT_EQ(file("drav0.dat"), kFailedStatus);
}

TEST_F(Run, MatrixThatCannotBeAllocatedLeavesAFailureStatus) {
  // 50 000 free nodes in the plane: the dense matrix would take 80 GB. Only meaningful where
  // the system refuses allocations larger than it could ever provide.
  std::ifstream oc("/proc/sys/vm/overcommit_memory");
  int mode = -1;
  oc >> mode;
  if (mode == 1) GTEST_SKIP() << "the system grants any allocation";
#ifdef DRAV_SANITIZED_ALLOCATOR
  GTEST_SKIP() << "the sanitizer's allocator does not refuse, it aborts";
#endif
  std::string d = "ndofn 2\nnemax 1\n";
  for (int n = 1; n <= 50000; ++n)
    d += "node " + std::to_string(n) + " " + std::to_string(n) + " 0\n";
  model(d);
  const RunResult r = run();
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "  Can Not Allocate work array LU!\r\n");
  EXPECT_EQ(file("drav0.dat"), kFailedStatus);
  EXPECT_FALSE(exists("order.dat"));
}

}  // namespace
}  // namespace drav
