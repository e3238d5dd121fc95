// The model builder: description errors, the files it writes (read back by hand, byte by
// byte), the equation numbering and band width, and whole runs of the builder and the program.
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "params/compar.h"
#include "params/rcom.h"
#include "support/program_run.h"
#include "support/scratch.h"
#include "tools/mkmodel/model_desc.h"
#include "tools/mkmodel/model_files.h"

namespace fs = std::filesystem;
using drav::tools::build_model;
using drav::tools::DescriptionError;
using drav::tools::parse_description;

namespace {

std::string error_of(const std::string& text) {
  try {
    auto d = parse_description(text, "m.txt");
    build_model(d);
  } catch (const DescriptionError& e) {
    return e.what();
  }
  return "(no error)";
}

const char* const kHead = "ndofn 2\nnode 1 0 0\nnode 2 4 0\nnode 3 4 3\ndefault E=200 A=1\n";

TEST(MkmodelDescription, ErrorsNameTheFileAndLine) {
  struct Case {
    std::string body;  // appended to kHead (5 lines)
    std::string want;
  };
  const std::vector<Case> cases = {
      {"bar 1 1 2\nbar 2 2 9\n", "m.txt:7: bar 2 names node 9, but there are 3 nodes"},
      {"bar 1 1 2\nfrob 3\n", "m.txt:7: unknown keyword 'frob'"},
      {"node 2 5 5\n", "m.txt:6: node 2 is given twice (first on line 3)"},
      {"node 5 1 1\n", "m.txt:6: node 5 is out of sequence: there are 4 nodes, numbered 1 to 4"},
      {"node 4 1\n", "m.txt:6: expected: node N and 2 coordinates (ndofn 2)"},
      {"node 4 1 abc\n", "m.txt:6: 'abc' is not a number (coordinate)"},
      {"fix 1 x z\n", "m.txt:6: direction z does not exist with ndofn 2"},
      {"fix 7 x\n", "m.txt:6: fix names node 7, but there are 3 nodes"},
      {"spring 2 y 5\nspring 2 2 6\n", "m.txt:7: node 2 has a spring in direction 2 already"},
      {"bar 1 1 2\nbar 3 2 3\n", "m.txt:7: bar 3 is out of sequence: there are 2 bars"},
      {"bar 1 2 2\n", "m.txt:6: bar 1 joins node 2 to itself"},
      {"bar 1 1 2 Q=4\n", "m.txt:6: unknown bar key 'Q'"},
      {"bar 1 1 2 S0=0\n", "m.txt:6: S0 must be positive"},
      {"bar 1 1 2 IND=1.5\n", "m.txt:6: '1.5' is not a whole number (IND)"},
      {"default A=1e99\n", "m.txt:6: A 1e99 is too large for a real"},
      {"ndofn 3\n", "m.txt:6: ndofn is given twice (first on line 1)"},
      {"language klingon\n", "m.txt:6: language 'klingon' is neither english nor romanian"},
      {"node 4 4 0\nbar 1 2 4\n", "m.txt:7: bar 1 has no length: nodes 2 and 4"},
      {"nemax 1\nbar 1 1 2\nbar 2 2 3\n", "m.txt:6: node 2 has 2 bars, more than nemax 1"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(error_of(kHead + c.body).find(c.want), std::string::npos)
        << c.body << " gave: " << error_of(kHead + c.body);
  }
  EXPECT_NE(error_of("node 1 0 0\n").find("m.txt: no ndofn line"), std::string::npos);
  EXPECT_NE(error_of("ndofn 2\n# nothing\n").find("m.txt: no nodes"), std::string::npos);
  // A bar before its defaults exist.
  EXPECT_NE(error_of("ndofn 1\nnode 1 0\nnode 2 1\nbar 1 1 2 A=1\n")
                .find("m.txt:4: bar 1 has no E (give E= on the bar or in a default line)"),
            std::string::npos);
}

TEST(MkmodelDescription, AllDirectionsCostNothingBeforeTheNodesAreKnown) {
  // Under the largest ndofn, "all" names 268 million directions; a description without nodes
  // must report that without listing them first (it once took a gigabyte and seconds).
#ifndef _WIN32
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
#endif
  EXPECT_NE(error_of("ndofn 268435448\nfix 1 all\nspring 1 all 5\n").find("m.txt: no nodes"),
            std::string::npos);
#ifndef _WIN32
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64L * 1024) << "KB of peak memory added";
#endif
  // "all" still means every direction, for fixes and springs alike.
  const auto d =
      parse_description("ndofn 3\nnode 1 0 0 0\nnode 2 1 0 0\nfix 1 all\nspring 2 all 5\n", "a");
  EXPECT_EQ(d.fixed, (std::vector<int32_t>{1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(d.spring, (std::vector<float>{0, 0, 0, 5, 5, 5}));
  EXPECT_NE(error_of("ndofn 2\nnode 1 0 0\nspring 1 all 5\nspring 1 y 6\n")
                .find("m.txt:4: node 1 has a spring in direction 2 already"),
            std::string::npos);
}

// An independent reader of sequential record files: length word, data, the same length word.
// It and the byte offsets below are written out by hand on purpose, apart from the program's
// readers and the shared record layout (params/model_files.h), so that a fault in those
// cannot hide a fault of the builder.
std::vector<std::string> seq_records(const fs::path& p) {
  const std::string b = drav::testing::read_file(p);
  std::vector<std::string> recs;
  size_t pos = 0;
  while (pos < b.size()) {
    EXPECT_LE(pos + 4, b.size());
    int32_t len = 0, tail = 0;
    std::memcpy(&len, b.data() + pos, 4);
    EXPECT_GE(len, 0);
    EXPECT_LE(pos + 8 + size_t(len), b.size());
    if (len < 0 || pos + 8 + size_t(len) > b.size()) break;
    std::memcpy(&tail, b.data() + pos + 4 + len, 4);
    EXPECT_EQ(len, tail);
    recs.push_back(b.substr(pos + 4, len));
    pos += 8 + len;
  }
  return recs;
}

template <class T>
std::vector<T> values(const std::string& bytes) {
  EXPECT_EQ(bytes.size() % sizeof(T), 0u);
  std::vector<T> v(bytes.size() / sizeof(T));
  std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
  return v;
}

template <class T>
T at(const std::string& bytes, size_t off) {
  T x;
  std::memcpy(&x, bytes.data() + off, sizeof(T));
  return x;
}

// A triangle with a hanging fourth node: node 4 has no bar, bar 3 has its own S0, IND and AL0.
const char* const kSmall = R"(# small test model
title Small test
ndofn 2
iter 3
case 7
report out/rep.txt
language Romanian
node 1 0 0
node 2 3 0
node 3 3 4   # top
node 4 9 9
fix 1 all
fix 2 y
fix 4 x
spring 3 x -250.5
spring 4 y 0.1
default E=2.1e8 A=0.5 T=10
bar 2 2 3
bar 1 1 2 AL0=0.25
bar 3 1 3 S0=5.5 IND=-1 T=-2.5 E=7
)";

TEST(MkmodelFiles, SmallModelByteForByte) {
  const auto desc = parse_description(kSmall, "small.txt");
  const auto m = build_model(desc);
  const drav::testing::TempDir tmp;
  const fs::path dir = tmp.path() / "small" / "sub";  // created with its parent
  drav::tools::write_model_dir(m, dir.string());

  // Node 1 fixed: no equation; node 2: x; node 3: x y; node 4: y. Bars: 1-2, 2-3, 1-3.
  // Pairs: node 3 (eqs 2,3) span 1; bar 2 joins node 2 (eq 1) and 3 (eqs 2,3): span 2.
  const std::string comzor =
      "4 3 2 3 2 2 3\r\n"
      "1 1 1\r\n"
      "2 0 1\r\n"
      "4 1 0\r\n"
      "3 -250.5 0\r\n"
      "4 0 0.1\r\n"
      "0 0 0 0 0\r\n"
      "0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n"
      "0 0 0 0 0\r\n"
      "0 0 0 0 0 0\r\n"
      "4\r\n"
      "0 0 0 0 0 0 3\r\n"
      "Small test\r\n"
      "out/rep.txt\r\n"
      "drav-mkmodel: 4 nodes, 3 bars, 4 equations\r\n"
      "\r\n\r\n\r\n"
      "ROMANA\r\n";
  EXPECT_EQ(drav::testing::read_file(dir / "COMZOR.DAT"), comzor);
  EXPECT_EQ(drav::testing::read_file(dir / "temp.dat"), "7\r\n");

  const auto nei = seq_records(dir / "nei.UNF");
  ASSERT_EQ(nei.size(), 3u);
  EXPECT_EQ(values<int32_t>(nei[0]), (std::vector<int32_t>{1, 3, 1, 2, 2, 3, 0, 0}));
  EXPECT_EQ(values<int32_t>(nei[1]), (std::vector<int32_t>{1, 2, 1}));
  EXPECT_EQ(values<int32_t>(nei[2]), (std::vector<int32_t>{2, 3, 3}));

  const auto x0 = seq_records(dir / "x0.UNF");
  ASSERT_EQ(x0.size(), 4u);
  EXPECT_EQ(values<float>(x0[0]), (std::vector<float>{0, 0, 3, 0, 3, 4, 9, 9}));
  EXPECT_EQ(values<float>(x0[1]), (std::vector<float>{0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(values<float>(x0[2]), (std::vector<float>{3, 4, 5}));
  EXPECT_EQ(values<float>(x0[3]), (std::vector<float>{3, 4, 5.5f}));

  const std::string el = drav::testing::read_file(dir / "el.unf");
  const size_t reclen = 32 * 2 + 224;
  ASSERT_EQ(el.size(), 3 * reclen);
  struct Want {
    double v1, v2, vmod, yy, t;
    int32_t ind;
    float al0;
  };
  const Want want[3] = {
      {3, 0, 3, 2.1e8, 10, 0, 0.25f}, {0, 4, 4, 2.1e8, 10, 0, 1}, {3, 4, 5, 7, -2.5, -1, 1}};
  for (int e = 0; e < 3; ++e) {
    const std::string r = el.substr(e * reclen, reclen);
    EXPECT_EQ(at<double>(r, 0), want[e].v1) << e;
    EXPECT_EQ(at<double>(r, 8), want[e].v2) << e;
    EXPECT_EQ(at<double>(r, 16), want[e].vmod) << e;
    EXPECT_EQ(at<double>(r, 24), want[e].vmod) << e;
    EXPECT_EQ(at<double>(r, 32), want[e].yy) << e;
    EXPECT_EQ(at<double>(r, 40), want[e].t) << e;
    EXPECT_EQ(at<double>(r, 48), 0.0) << e;
    EXPECT_EQ(at<double>(r, 56), 0.0) << e;
    EXPECT_EQ(at<int32_t>(r, 64), want[e].ind) << e;
    EXPECT_EQ(at<float>(r, 68), want[e].al0) << e;
    EXPECT_EQ(r.substr(72), std::string(reclen - 72, '\0')) << e;
  }

  // The program's own reader takes the parameter file as written.
  drav::COMPAR c;
  drav::RCOM(c, 2, (dir / "COMZOR.DAT").string());
  EXPECT_EQ(c.NNODE, 4);
  EXPECT_EQ(c.NBAND, 3);
  EXPECT_EQ(c.NEQ, 4);
  EXPECT_EQ(c.ITER, 3);
  EXPECT_EQ(c.report_path(), "out/rep.txt");
  EXPECT_TRUE(c.romanian());
  EXPECT_EQ(c.iblk(2, 2), 1);
  EXPECT_EQ(c.iblk(2, 1), 0);
  EXPECT_EQ(c.elsup(3, 1), -250.5f);
  EXPECT_EQ(c.elsup(4, 2), 0.1f);
}

TEST(MkmodelFiles, NoModelWhoseElementRecordsHaveNoLength) {
  // The parser stops at the largest ndofn; a description made otherwise meets the same limit
  // in the builder (the program's limit for the el.unf record length).
  drav::tools::ModelDesc d;
  d.file = "made.txt";
  d.ndofn = 268435449;
  try {
    (void)build_model(d);
    FAIL() << "built";
  } catch (const DescriptionError& e) {
    EXPECT_STREQ(e.what(), "made.txt: ndofn 268435449 is too large for the records of el.unf");
  }
  d.ndofn = 268435448;
  EXPECT_EQ(build_model(d).NDOFN, 268435448);
}

TEST(MkmodelFiles, RealsReadBackExactly) {
  // Values with no short decimal form must survive the text of COMZOR.DAT.
  const float hard[] = {0.1f, 1.0f / 3.0f, 16777217.0f, 1e-38f, 3.4028235e38f, -7.006492e-45f};
  std::string text = "ndofn 1\n";
  for (int n = 1; n <= 6; ++n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "node %d %d\nspring %d 1 %.17g\n", n, n, n, double(hard[n - 1]));
    text += buf;
  }
  const auto m = build_model(parse_description(text, "r.txt"));
  const drav::testing::TempDir tmp;
  const fs::path dir = tmp.path() / "reals";
  drav::tools::write_model_dir(m, dir.string());
  drav::COMPAR c;
  drav::RCOM(c, 2, (dir / "COMZOR.DAT").string());
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(c.elsup(n, 1), hard[n - 1]) << n;
}

TEST(MkmodelFiles, EquationNumberingAndBand) {
  // Seven nodes in a row, 3 directions; blocked: node 1 all, node 3 x and z, node 5 all,
  // node 6 y. Equations: node 2: 1-3, node 3: 4 (y), node 4: 5-7, node 6: 8 (x) 9 (z),
  // node 7: 10-12.
  const char* text = R"(ndofn 3
node 1 0 0 0
node 2 1 0 0
node 3 2 0 0
node 4 3 0 0
node 5 4 0 0
node 6 5 0 0
node 7 6 1 0
fix 1 all
fix 3 x
fix 3 3
fix 5 x y z
fix 6 y
default E=1 A=1
bar 1 1 2
bar 2 2 4   # eqs 1-3 with 5-7: span 6
bar 3 4 5   # node 5 has no equation
bar 4 6 7   # eqs 8-9 with 10-12: span 4
)";
  const auto m = build_model(parse_description(text, "e.txt"));
  EXPECT_EQ(m.NEQ, 12);
  std::vector<std::pair<int, int>> got;
  for (const auto& e : m.eqs) got.emplace_back(e.node, e.dir);
  const std::vector<std::pair<int, int>> want = {{2, 1}, {2, 2}, {2, 3}, {3, 2}, {4, 1}, {4, 2},
                                                 {4, 3}, {6, 1}, {6, 3}, {7, 1}, {7, 2}, {7, 3}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(m.NBAND, 7);
  EXPECT_EQ(m.NBLK, 4);
  EXPECT_EQ(m.NEMAX, 2);

  // Band cases of the function itself.
  using drav::tools::half_band;
  using drav::tools::number_equations;
  const std::vector<int32_t> none(6, 0);
  const auto three = number_equations(3, 2, none);  // 3 free nodes of 2 directions
  EXPECT_EQ(half_band(3, three, {}, {}), 2);        // no bars: pairs within one node only
  EXPECT_EQ(half_band(3, three, {1}, {3}), 6);      // eq 1 to eq 6
  EXPECT_EQ(half_band(3, three, {3}, {2}), 4);      // either end order
  const std::vector<int32_t> all(6, 1);
  EXPECT_EQ(half_band(3, number_equations(3, 2, all), {1}, {2}), 1);  // no equations at all
  // An explicit nband is kept, with a warning when too small.
  const auto small = build_model(parse_description(std::string(text) + "nband 3\n", "e.txt"));
  EXPECT_EQ(small.NBAND, 3);
  ASSERT_EQ(small.warnings.size(), 1u);
  EXPECT_NE(small.warnings[0].find("e.txt:19: warning: nband 3 is less than the 7"),
            std::string::npos);
}

// Runs a program with its arguments in `dir` (empty: here), its output into the files `out` and
// `err` (the same path: one file); returns the exit status.
int run(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
        const std::string& dir = "") {
  return drav::testing::run_program(argv, dir, out, err);
}

TEST(MkmodelProgram, BadDescriptionWritesNothing) {
  const drav::testing::TempDir tmp;
  const fs::path dir = tmp.path() / "bad";
  fs::create_directories(dir);
  std::ofstream(dir / "bad.txt") << "ndofn 2\nnode 1 0 0\nnode 2 1 0\ndefault E=1 A=1\nbar 1 1 3\n";
  const fs::path out = dir / "out";
  const int st = run({DRAV_MKMODEL_EXE, (dir / "bad.txt").string(), out.string()},
                     (dir / "out.txt").string(), (dir / "err").string());
  EXPECT_NE(st, 0);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_NE(drav::testing::read_file(dir / "err")
                .find("bad.txt:5: bar 1 names node 3, but there are 2 nodes"),
            std::string::npos)
      << drav::testing::read_file(dir / "err");
}

// The run status the program leaves in drav0.dat (one free-format integer).
int run_status(const fs::path& dir) {
  std::ifstream in(dir / "drav0.dat");
  int s = 99;
  in >> s;
  return s;
}

TEST(MkmodelProgram, ExamplesRunThroughTheProgram) {
  struct Case {
    const char* file;
    int status;  // 0 factored, -1 singular
    const char* matrix;
  };
  const Case cases[] = {{"plane_truss.txt", 0, "AA0.UNF"},
                        {"space_truss.txt", 0, "AA0.UNF"},
                        {"cable_net.txt", 0, "AA0.UNF"},
                        {"mechanism.txt", -1, nullptr}};
  for (const auto& c : cases) {
    const drav::testing::TempDir tmp;
    const fs::path dir = tmp.path() / (std::string("ex_") + c.file);
    const std::string src = std::string(DRAV_SOURCE_DIR) + "/examples/" + c.file;
    const std::string err = dir.string() + ".err";
    ASSERT_EQ(run({DRAV_MKMODEL_EXE, src, dir.string()}, dir.string() + ".out", err), 0) << c.file;
    EXPECT_EQ(drav::testing::read_file(err), "") << c.file;  // the examples draw no warnings
    fs::remove(err);
    fs::remove(dir.string() + ".out");
    const std::string console = (dir / "console.txt").string();
    EXPECT_EQ(run({DRAV_EXE}, console, console, dir.string()), 0) << c.file;
    EXPECT_EQ(run_status(dir), c.status)
        << c.file << ": " << drav::testing::read_file(dir / "console.txt");
    if (c.matrix != nullptr) {
      EXPECT_TRUE(fs::exists(dir / c.matrix)) << c.file;
    }
  }
}

}  // namespace
