// Whole runs of the program in a scratch directory on models made by the model builder:
// every output file and the console are compared with their expected bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "assembly/stiffness_report.h"
#include "driver/model_input.h"
#include "factor/reference/ludecomp.h"
#include "params/rcom.h"
#include "recio/textio.h"
#include "run_support.h"
#include "support/literal_generation.h"
#include "support/run_command.h"
#include "support/scratch.h"

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

using RunResult = testing::CommandResult;

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
    const std::string out = (tmp.path() / "mkmodel.out").string();
    ASSERT_EQ(testing::run_program({DRAV_MKMODEL_EXE, desc, dir.string()}, "", out, out), 0)
        << description << read_file(out);
  }

  // The builder refuses a zero reference length: S0 of bar 1 set to 0 in record 4 of x0.UNF.
  void zero_first_reference_length() {
    std::string x0 = file("x0.UNF");
    size_t at = 0;
    for (int rec = 1; rec < 4; ++rec) {
      int32_t len = 0;
      std::memcpy(&len, x0.data() + at, 4);
      at += 8 + static_cast<size_t>(len);
    }
    std::memset(x0.data() + at + 4, 0, 4);
    write_file(path("x0.UNF"), x0);
  }

  // `env` is a variable set for the run, e.g. "DRAV_THREADS=1".
  RunResult run(const std::string& env = "") {
    std::filesystem::create_directories(dir);
    testing::EnvList vars;
    if (const size_t eq = env.find('='); eq != std::string::npos) {
      vars.emplace_back(env.substr(0, eq), env.substr(eq + 1));
    }
    return testing::run_command(dir, testing::shell_quote(DRAV_EXE), (tmp.path() / "drav").string(),
                                vars);
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
  write_file(path("COMZOR.DAT"), comzor_text(70000, 1, 0, 70000, 1, 0));
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "  * Allocation Error: NEI,NF,A0,S0\r\n STOP: DRAV\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file("drav0.dat"), kFailedStatus);
  // Group 2: V would need 300 000 000 * 2 * 8 bytes.
  write_file(path("COMZOR.DAT"), comzor_text(1, 300000000, 2, 1, 1, 2));
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
  zero_first_reference_length();
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

// ---- The run at the cost of its output: same bytes on every thread count ----------------

// A plane grid truss of nx by ny nodes with diagonals, the first column pinned, node numbers
// shuffled when `seed` is not 0 (the entries then spread over the whole matrix); `extra` is
// appended (settings, springs).
std::string grid(int nx, int ny, unsigned seed, const std::string& extra) {
  std::vector<int> id(static_cast<size_t>(nx * ny));
  for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<int>(i) + 1;
  if (seed != 0) {
    std::mt19937 rng(seed);
    std::shuffle(id.begin(), id.end(), rng);
  }
  auto node = [&](int ix, int iy) { return std::to_string(id[static_cast<size_t>(ix * ny + iy)]); };
  std::string d = "ndofn 2\ndefault E=2.1e5 A=0.01\n";
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy)
      d +=
          "node " + node(ix, iy) + " " + std::to_string(ix) + " " + std::to_string(iy * 0.9) + "\n";
  int b = 0;
  auto bar = [&](const std::string& a, const std::string& c, const char* keys) {
    d += "bar " + std::to_string(++b) + " " + a + " " + c + keys + "\n";
  };
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy) {
      if (ix + 1 < nx) bar(node(ix, iy), node(ix + 1, iy), b % 7 == 3 ? " T=-40" : "");
      if (iy + 1 < ny) bar(node(ix, iy), node(ix, iy + 1), b % 11 == 5 ? " IND=1 T=9" : "");
      if (ix + 1 < nx && iy + 1 < ny)
        bar(node(ix, iy), node(ix + 1, iy + 1), b % 13 == 1 ? " IND=-1" : "");
    }
  for (int iy = 0; iy < ny; ++iy) d += "fix " + node(0, iy) + " all\n";
  return d + extra;
}

// Every file of the working directory.
std::map<std::string, std::string> files_of(const std::filesystem::path& dir) {
  std::map<std::string, std::string> f;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    f[e.path().filename().string()] = e.is_regular_file() ? read_file(e.path().string()) : "<dir>";
  return f;
}

struct Whole {
  RunResult r;
  std::map<std::string, std::string> files;
};

class Pipeline : public Run {
 protected:
  // Runs the prepared directory afresh with each thread count and expects the same console,
  // status and files every time; returns the result of the first.
  Whole same_on_every_thread_count(const std::function<void()>& prepare = {}) {
    const std::filesystem::path pristine = tmp.path() / "pristine";
    std::filesystem::copy(dir, pristine, std::filesystem::copy_options::recursive);
    std::vector<Whole> all;
    for (const char* env : {"DRAV_THREADS=1", "DRAV_THREADS=2", "DRAV_THREADS=3", ""}) {
      std::filesystem::remove_all(dir);
      std::filesystem::copy(
          pristine, dir,
          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
      if (prepare) prepare();
      Whole w;
      w.r = run(env);
      w.files = files_of(dir);
      if (!all.empty()) {
        EXPECT_EQ(w.r.status, all[0].r.status) << env;
        EXPECT_EQ(w.r.out, all[0].r.out) << env;
        EXPECT_EQ(w.r.err, all[0].r.err) << env;
        EXPECT_TRUE(w.files == all[0].files) << env;
      }
      all.push_back(std::move(w));
    }
    std::filesystem::remove_all(pristine);
    return all[0];
  }

  // The literal scheme on the model in `dir`, in this process: the generation of every band
  // entry, the report of the dense matrix, LUDECOMP with its trial exchanges.
  struct Literal {
    std::string report, matrix, order_line_count, console, record;
    bool singular = false;
  };
  Literal literal() {
    testing::InDir in(dir);
    COMPAR c;
    RCOM(c, 2);
    WorkArrays W;
    EXPECT_TRUE(allocate_group1(c, W));
    EXPECT_TRUE(allocate_group2(c, W));
    read_model(c, W);
    Matrix A;
    EXPECT_TRUE(A.allocate(c.NEQ));
    testing::literal_generation(c, W, A);
    Literal lit;
    recio::StringSink rep;
    write_stiffness_report(c, A, rep);
    lit.report = rep.text();
    const std::string record_path = (tmp.path() / "literal-record.txt").string();
    c.REPFIL.fill(' ');
    std::memcpy(c.REPFIL.data(), record_path.data(), record_path.size());
    std::vector<int32_t> iord(static_cast<size_t>(c.NEQ));
    int32_t ierr = 0, kstep = 0;
    recio::StringSink con;
    LUDECOMP(A, c.NEQ, iord.data(), ierr, kstep, c, con);
    lit.console = con.text();
    lit.record = read_file(record_path);
    lit.singular = ierr != 0;
    for (int32_t i = 1; i <= c.NEQ; ++i)
      lit.matrix += record(std::string(reinterpret_cast<const char*>(A.row(i)),
                                       sizeof(double) * static_cast<size_t>(c.NEQ)));
    return lit;
  }
};

TEST_F(Pipeline, WholeRunsMatchTheLiteralSchemeOnEveryThreadCount) {
  struct Case {
    const char* what;
    std::string description;
  };
  const Case cases[] = {
      {"banded grid", grid(14, 5, 0, "")},
      {"banded grid, NBAND = NEQ", grid(14, 5, 0, "nband 130\n")},
      {"shuffled node numbers", grid(9, 4, 77, "spring 3 x 20\n")},
      {"negative springs",
       grid(12, 3, 5, "spring 7 y -4000\nspring 9 x -90000\nspring 20 y -1e5\n")},
      {"a mechanism", grid(6, 2, 0, "node 13 7 0\nbar 22 12 13\n")},
  };
  int singular = 0;
  for (const Case& cs : cases) {
    SCOPED_TRACE(cs.what);
    std::filesystem::remove_all(tmp.path());
    std::filesystem::create_directories(tmp.path());
    model(cs.description);
    const Literal lit = literal();
    const Whole w = same_on_every_thread_count();
    EXPECT_EQ(w.r.status, 0);
    EXPECT_EQ(w.r.err, "");
    EXPECT_EQ(w.files.at("rig-case1.dat"), lit.report);
    if (lit.singular) {
      ++singular;
      EXPECT_EQ(w.files.at("AA0.UNF"), "");
      EXPECT_EQ(w.r.out.substr(0, lit.console.size()), lit.console);
      EXPECT_EQ(w.files.at("report.txt").substr(0, lit.record.size()), lit.record);
      EXPECT_EQ(w.files.at("drav0.dat"), "          -1\r\n");
    } else {
      EXPECT_EQ(w.r.out, "");
      EXPECT_EQ(w.files.at("AA0.UNF"), lit.matrix);
      EXPECT_EQ(w.files.at("drav0.dat"), "           0\r\n");
    }
  }
  EXPECT_EQ(singular, 1);  // the mechanism
}

// Nothing of the factorization may show when the run ends before it: the model is singular,
// so a failure record would give it away (the status file holds -1 after any failure).
TEST_F(Pipeline, FailuresBeforeTheFactorizationShowNothingOfIt) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::string message;
  };
  const Case cases[] = {
      {"no temp.dat", [&] { std::filesystem::remove(dir / "temp.dat"); },
       "file not found, unit 11, file temp.dat"},
      {"temp.dat without a number", [&] { write_file(path("temp.dat"), "case\r\n"); },
       "list-directed I/O syntax error, unit 11, file temp.dat"},
      {"report that cannot be created",
       [&] { std::filesystem::create_directory(dir / "rig-case1.dat"); },
       "open failure, unit 15, file rig-case1.dat"},
      {"report that cannot be written",
       [&] { std::filesystem::create_symlink("/dev/full", dir / "rig-case1.dat"); },
       "error during write, unit 15, file rig-case1.dat"},
  };
  for (const Case& cs : cases) {
    SCOPED_TRACE(cs.what);
    if (cs.message.find("write") != std::string::npos && !std::filesystem::exists("/dev/full"))
      continue;
    std::filesystem::remove_all(tmp.path());
    std::filesystem::create_directories(tmp.path());
    model(one_bar(""));
    const Whole w = same_on_every_thread_count(cs.prepare);
    EXPECT_EQ(w.r.status, 2);
    EXPECT_EQ(w.r.out, "");
    EXPECT_NE(w.r.err.find(cs.message), std::string::npos) << w.r.err;
    EXPECT_EQ(w.files.count("report.txt"), 0u);
    EXPECT_EQ(w.files.at("drav0.dat"), kFailedStatus);
    EXPECT_EQ(w.files.at("AA0.UNF"), "");
  }
}

TEST_F(Pipeline, EntryThatIsNotFiniteEndsTheRunAfterTheCompleteReport) {
  model(one_bar(""));
  zero_first_reference_length();  // the entries become infinite or NaN
  const Literal lit = literal();
  const Whole w = same_on_every_thread_count();
  EXPECT_EQ(w.r.status, 2);
  EXPECT_NE(w.r.err.find("stiffness matrix entry (1,1) is"), std::string::npos) << w.r.err;
  EXPECT_EQ(w.files.at("rig-case1.dat"), lit.report);
  EXPECT_EQ(w.files.count("report.txt"), 0u);
  EXPECT_EQ(w.files.at("drav0.dat"), kFailedStatus);
}

TEST_F(Pipeline, MatrixFileThatCannotBeWrittenEndsTheRun) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // 400 equations: rows of 3200 bytes, so the write buffer fills up before the last row.
  for (const std::string& d : {one_bar("spring 2 y -30\n"), grid(41, 5, 0, "")}) {
    std::filesystem::remove_all(tmp.path());
    std::filesystem::create_directories(tmp.path());
    model(d);
    const Whole w = same_on_every_thread_count(
        [&] { std::filesystem::create_symlink("/dev/full", dir / "AA0.UNF"); });
    EXPECT_EQ(w.r.status, 2);
    EXPECT_NE(w.r.err.find("error during write, unit 3, file AA0.UNF (record "), std::string::npos)
        << w.r.err;
    EXPECT_EQ(w.files.at("drav0.dat"), kFailedStatus);
  }
}

}  // namespace
}  // namespace drav
