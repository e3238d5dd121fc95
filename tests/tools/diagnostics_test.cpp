// The diagnostics of drav-audit on whole runs: the mechanism analysis names exactly the nodes,
// directions and classification of every zero-energy motion of small structures whose
// mechanisms are known; the pictures are well-formed SVG that a real renderer draws; the
// Matrix Market files read back by an independent reader give every value exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "json_read.h"
#include "params/work.h"
#include "recio/binrec.h"
#include "tool_runs.h"
#include "tools/audit/audit_geometry.h"
#include "tools/audit/audit_model.h"
#include "tools/audit/json_out.h"
#include "tools/audit/svg_out.h"

namespace fs = std::filesystem;
using namespace drav::tooltest;

namespace {

// A motion as the test names it: its (node, direction) pairs and its classification.
using Moves = std::set<std::pair<int, int>>;
struct Expected {
  Moves moves;
  std::string kind;
  std::string rigid = "";       // the name of a rigid-body motion
  std::vector<int> elements{};  // elements named by the first reason, when given
};

struct Case {
  const char* name;
  std::string description;
  int failing_node, failing_dir;  // the program's report
  std::vector<Expected> modes;
};

const char* const kSquare =
    "ndofn 2\nnode 1 0 0\nnode 2 1 0\nnode 3 1 1\nnode 4 0 1\nfix 1 x y\nfix 2 y\n"
    "default E=1000 A=1\nbar 1 1 2\nbar 2 2 3\nbar 3 3 4\nbar 4 4 1\n";

const std::string kTriangleFree =
    "ndofn 2\nnode 1 0 0\nnode 2 4 0\nnode 3 2 3\ndefault E=2.1e8 A=0.001\n"
    "bar 1 1 2\nbar 2 2 3\nbar 3 1 3\n";

const std::string kTriangleHeld =
    "ndofn 2\nnode 1 0 0\nnode 2 4 0\nnode 3 2 3\nfix 1 x y\nfix 2 y\n"
    "default E=2.1e8 A=0.001\nbar 1 1 2\nbar 2 2 3\nbar 3 1 3\n";

const Moves kAll3X = {{1, 1}, {2, 1}, {3, 1}}, kAll3Y = {{1, 2}, {2, 2}, {3, 2}};

std::vector<Case> cases() {
  return {
      // The square sways: nodes 3 and 4 move along X together.
      {"hinged_square", kSquare, 4, 1, {{{{3, 1}, {4, 1}}, "mechanism"}}},
      // The same square with its diagonal left out.
      {"square_left_out_diagonal",
       std::string(kSquare) + "bar 5 1 3 IND=-1\n",
       4,
       1,
       {{{{3, 1}, {4, 1}}, "left-out-elements", "", {5}}}},
      // Nothing holds it: two translations and a rotation.
      {"no_support",
       kTriangleFree,
       2,
       2,
       {{kAll3X, "rigid-body", "translation X"},
        {kAll3Y, "rigid-body", "translation Y"},
        // About the centre of the nodes, (2, 1): node 3 straight above it moves along X only.
        {{{1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 1}}, "rigid-body", "rotation about Z"}}},
      // Node 4 hangs on two bars in the negative state; only bar 4 would have held it along Y.
      {"held_by_left_out",
       kTriangleHeld + "node 4 6 3\nbar 4 2 4 IND=-1\nbar 5 3 4 IND=-1\n",
       4,
       1,
       {{{{4, 1}}, "left-out-elements", "", {4, 5}}, {{{4, 2}}, "left-out-elements", "", {4}}}},
      // A cable line between two anchors, every segment force-only without force.
      {"slack_cable_line",
       "ndofn 2\nnode 1 0 0\nnode 2 1 0\nnode 3 2 0\nnode 4 3 0\nfix 1 x y\nfix 4 x y\n"
       "default E=2.1e8 A=0.001 IND=1\nbar 1 1 2\nbar 2 2 3\nbar 3 3 4\n",
       2,
       1,
       {{{{2, 1}}, "slack-elements", "", {1, 2}},
        {{{2, 2}}, "slack-elements", "", {1, 2}},
        {{{3, 1}}, "slack-elements", "", {2, 3}},
        {{{3, 2}}, "slack-elements", "", {2, 3}}}},
      // Node 2 between two collinear bars without force moves across them; the long bar is
      // left out and does not reach node 2.
      {"collinear_bars",
       "ndofn 2\nnode 1 0 0\nnode 2 4 0\nnode 3 8 0\nfix 1 x y\nfix 3 x y\n"
       "default E=2.1e8 A=0.001\nbar 1 1 2\nbar 2 2 3\nbar 3 1 3 IND=-1\n",
       2,
       2,
       {{{{2, 2}}, "collinear-bars", "", {1, 2}}}},
      // Three collinear bars between anchors: the two inner nodes, coupled along the line,
      // each get a mode of their own across it.
      {"collinear_chain",
       "ndofn 2\nnode 1 0 0\nnode 2 1 0\nnode 3 2 0\nnode 4 3 0\nfix 1 x y\nfix 4 x y\n"
       "default E=2.1e8 A=0.001\nbar 1 1 2\nbar 2 2 3\nbar 3 3 4\n",
       2,
       2,
       {{{{2, 2}}, "collinear-bars", "", {1, 2}}, {{{3, 2}}, "collinear-bars", "", {2, 3}}}},
      // One roller only: the triangle slides along X and turns about the roller.
      {"roller_only",
       "ndofn 2\nnode 1 0 0\nnode 2 4 0\nnode 3 2 3\nfix 1 y\ndefault E=2.1e8 A=0.001\n"
       "bar 1 1 2\nbar 2 2 3\nbar 3 1 3\n",
       3,
       1,
       {{kAll3X, "rigid-body", "translation X"},
        {{{2, 2}, {3, 1}, {3, 2}}, "rigid-body", "rotation about Z through node 1"}}},
      // A node that no element meets at all.
      {"lone_node",
       kTriangleHeld + "node 4 9 9\n",
       4,
       1,
       {{{{4, 1}}, "unreached-node"}, {{{4, 2}}, "unreached-node"}}},
      // A held triangle and a free bar beside it: the bar's rigid-body motions, named as a part.
      {"free_part",
       kTriangleHeld + "node 4 10 0\nnode 5 12 1\nbar 4 4 5\n",
       4,
       2,
       {{{{4, 1}, {5, 1}}, "rigid-body", "translation X"},
        {{{4, 2}, {5, 2}}, "rigid-body", "translation Y"},
        {{{4, 1}, {4, 2}, {5, 1}, {5, 2}}, "rigid-body", "rotation about Z"}}},
      // A tetrahedron in space without support: three translations, three rotations.
      {"free_tetrahedron",
       "ndofn 3\nnode 1 0 0 0\nnode 2 2 0 0\nnode 3 0 3 0\nnode 4 0 0 4\ndefault E=1000 A=1\n"
       "bar 1 1 2\nbar 2 1 3\nbar 3 1 4\nbar 4 2 3\nbar 5 2 4\nbar 6 3 4\n",
       2,
       3,
       {{{{1, 1}, {2, 1}, {3, 1}, {4, 1}}, "rigid-body", "translation X"},
        {{{1, 2}, {2, 2}, {3, 2}, {4, 2}}, "rigid-body", "translation Y"},
        {{{1, 3}, {2, 3}, {3, 3}, {4, 3}}, "rigid-body", "translation Z"},
        {{}, "rigid-body", "rotation about X"},
        {{}, "rigid-body", "rotation about Y"},
        {{}, "rigid-body", "rotation about Z"}}},
  };
}

Moves moves_of(const Json& motion) {
  Moves m;
  for (const Json& mv : motion["moves"].items) {
    m.emplace(mv["node"].integer(), mv["direction"].integer());
  }
  return m;
}

class Diagnostics : public AuditRun {
 protected:
  Outcome audit(const std::string& args) {
    return run_in(dir_, std::string(DRAV_AUDIT_EXE) + " " + args);
  }
  Json mechanism_json(const fs::path& d, const std::string& extra = "") {
    const Outcome r = audit("mechanism " + quote(d.string()) + " --json" + extra);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return parse_json(r.out);
  }
};

// A command on PATH (or one of the given paths) that works: the first of `candidates` for
// which `probe` (appended to it) exits 0, else "".
std::string first_working(const std::vector<std::string>& candidates, const std::string& probe) {
#ifdef _WIN32
  // The checkers are programs of the build machine, out of reach of a Windows test.
  (void)candidates;
  (void)probe;
  return "";
#endif
  for (const std::string& c : candidates) {
    if (std::system((c + " " + probe + " >/dev/null 2>&1").c_str()) == 0) return c;
  }
  return "";
}

}  // namespace

TEST_F(Diagnostics, MechanismNamesNodesDirectionsAndClassification) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const fs::path d = build_text(c.name, c.description);
    // The program's own report names the failing node.
    std::smatch sm;
    ASSERT_TRUE(std::regex_search(drav_.out, sm, std::regex("NODE: ([0-9]+),   DIRECTION: (.)")))
        << drav_.out;
    EXPECT_EQ(std::stoi(sm[1]), c.failing_node);

    const Json j = mechanism_json(d);
    EXPECT_EQ(j["status"].integer(), -1);
    EXPECT_TRUE(j["singular"].b);
    EXPECT_EQ(j["failing_step"]["node"].integer(), c.failing_node);
    EXPECT_EQ(j["failing_step"]["direction"].integer(), c.failing_dir);
    EXPECT_TRUE(j["eigen"]["computed"].b);
    const double largest = j["eigen"]["largest_abs"].num;

    // The motion at the failing step is a null vector that moves the failing unknown.
    const Json& fm = j["failing_step"]["motion"];
    EXPECT_LE(j["failing_step"]["residual"].num, 1e-9 * std::max(largest, 1.0));
    EXPECT_TRUE(moves_of(fm).count({c.failing_node, c.failing_dir})) << fm["explanation"].str;

    const Json& modes = j["modes"];
    ASSERT_EQ(modes.size(), c.modes.size());
    for (size_t i = 0; i < c.modes.size(); ++i) {
      SCOPED_TRACE("mode " + std::to_string(i + 1));
      const Json& mo = modes[i];
      const Expected& want = c.modes[i];
      if (!want.moves.empty()) {
        EXPECT_EQ(moves_of(mo), want.moves);
      }
      EXPECT_EQ(mo["classification"].str, want.kind) << mo["explanation"].str;
      if (!want.rigid.empty()) {
        EXPECT_EQ(mo["rigid"].str, want.rigid);
      }
      if (!want.elements.empty()) {
        const Json& els = mo["reasons"][0]["elements"];
        std::vector<int> got;
        for (const Json& e : els.items) got.push_back(e.integer());
        EXPECT_EQ(got, want.elements);
      }
      // Zero energy, shares that add up to the whole motion, largest first.
      EXPECT_LE(std::fabs(mo["energy"].num), 1e-9 * std::max(largest, 1.0));
      double total = mo["unlisted_share"].num, last = 2;
      for (const Json& mv : mo["moves"].items) {
        total += mv["share"].num;
        EXPECT_LE(mv["share"].num, last);
        last = mv["share"].num;
      }
      EXPECT_NEAR(total, 1.0, 1e-12);
    }
  }
}

TEST_F(Diagnostics, ShippedMechanismExampleAsText) {
  const fs::path d =
      build_and_run("example", std::string(DRAV_SOURCE_DIR) + "/examples/mechanism.txt");
  const Outcome r = audit("mechanism " + quote(d.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line :
       {"singular: the factorization stops at step 4", "node 4, direction 1 (X)\n",
        "zero-energy modes: 1 ", "mode 1: energy ",
        "  classification: mechanism: no active bar at the moving nodes changes its length\n",
        "    node 3 X  0.500000  +0.707107\n", "    node 4 X  0.500000  +0.707107\n",
        "    3: nodes 3 - 4, IND = 0 (elastic), T = 0\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  // The check names the same motion.
  const Outcome ch = check(d);
  EXPECT_EQ(ch.status, 0);
  EXPECT_NE(ch.out.find("motion at the failing step (mechanism): node 3 X 0.5, node 4 X 0.5\n"),
            std::string::npos)
      << ch.out;
}

TEST_F(Diagnostics, OptionsStatusesAndRegularRuns) {
  const fs::path reg =
      build_and_run("plane", std::string(DRAV_SOURCE_DIR) + "/examples/plane_truss.txt");
  Json j = mechanism_json(reg);
  EXPECT_FALSE(j["singular"].b);
  EXPECT_EQ(j["failing_step"].type, Json::Type::Null);
  EXPECT_EQ(j["modes"].size(), 0u);
  EXPECT_EQ(j["eigen"]["negative"].integer(), 0);
  // Counting every eigenvalue below half the largest as zero finds modes in a regular truss.
  j = mechanism_json(reg, " --zero 0.5");
  EXPECT_GT(j["modes"].size(), 0u);

  const fs::path sq = build_text("square", kSquare);
  // No eigenvalues above the order limit; the failing step is still analysed.
  j = mechanism_json(sq, " --max-order 2");
  EXPECT_FALSE(j["eigen"]["computed"].b);
  EXPECT_EQ(j["modes"].size(), 0u);
  EXPECT_EQ(moves_of(j["failing_step"]["motion"]), (Moves{{3, 1}, {4, 1}}));

  struct Bad {
    std::string args;
    int status;
    const char* says;
  };
  const std::vector<Bad> bad = {
      {"mechanism " + quote(sq.string()) + " --zero 2", 2, "bad --zero"},
      {"mechanism " + quote(sq.string()) + " --bogus", 2, "unknown or incomplete option"},
      {"mechanism " + quote(sq.string()) + " " + quote(sq.string()), 2, "takes one directory"},
      {"mechanism " + quote((dir_ / "nowhere").string()), 2, "cannot enter"},
      {"draw " + quote(sq.string()) + " --modes x", 2, "bad --modes"},
      {"spy " + quote(sq.string()) + " --cells 0", 2, "bad --cells"},
      {"export " + quote(sq.string()) + " -o", 2, "-o needs a file"},
  };
  for (const Bad& b : bad) {
    const Outcome r = audit(b.args);
    EXPECT_EQ(r.status, b.status) << b.args;
    EXPECT_NE(r.err.find(b.says), std::string::npos) << b.args << ": " << r.err;
  }
  // A status that the model does not give, and a missing model file.
  write_file(sq / "drav0.dat", "           0\r\n");
  Outcome r = audit("mechanism " + quote(sq.string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("drav0.dat holds 0, but the rebuilt matrix is singular"), std::string::npos);
  fs::remove(sq / "drav0.dat");
  EXPECT_EQ(audit("mechanism " + quote(sq.string())).status, 0);
  fs::remove(sq / "el.unf");
  for (const char* cmd : {"mechanism", "draw", "spy", "export"}) {
    r = audit(std::string(cmd) + " " + quote(sq.string()));
    EXPECT_EQ(r.status, 2) << cmd;
    EXPECT_NE(r.err.find("file not found, unit 2, file el.unf"), std::string::npos) << r.err;
  }
}

TEST_F(Diagnostics, PositionsRebuiltFromTheElementVectors) {
  // The tower's positions relative to its first fixed node are the description's coordinates
  // (rounded to single precision by the builder), and every loop closes.
  const fs::path d =
      build_and_run("tower", std::string(DRAV_SOURCE_DIR) + "/examples/space_truss.txt");
  drav::audit::Model m;
  {
    const fs::path old = fs::current_path();
    fs::current_path(d);
    drav::audit::load_model(m);
    fs::current_path(old);
  }
  const drav::audit::Geometry g = drav::audit::rebuild_positions(m);
  EXPECT_EQ(g.parts, 1);
  ASSERT_EQ(g.root.size(), 1u);
  EXPECT_EQ(g.root[0], 1);
  EXPECT_TRUE(g.disagreeing.empty()) << g.worst_mismatch;
  // x0.UNF record 1 holds the coordinates; the program itself never reads them.
  std::vector<float> x0(static_cast<size_t>(3 * m.c.NNODE));
  {
    drav::recio::SeqReader r(2, (d / "x0.UNF").string());
    r.read(x0.data(), x0.size() * 4);
  }
  for (int32_t n = 1; n <= m.c.NNODE; ++n) {
    for (int32_t k = 1; k <= 3; ++k) {
      const double want = static_cast<double>(x0[static_cast<size_t>(3 * (n - 1) + k - 1)]) -
                          x0[static_cast<size_t>(k - 1)];
      EXPECT_NEAR(g.x(n, k), want, 1e-5) << n << " " << k;
    }
  }
}

TEST_F(Diagnostics, PicturesAreWellFormedAndRender) {
  const std::string xmllint = first_working({"xmllint"}, "--version");
  const std::string rsvg = first_working({"rsvg-convert"}, "--version");
  std::vector<std::pair<std::string, fs::path>> runs;
  for (const Case& c : cases()) runs.emplace_back(c.name, build_text(c.name, c.description));
  for (const char* ex : {"plane_truss", "space_truss", "cable_net"}) {
    runs.emplace_back(ex,
                      build_and_run(ex, std::string(DRAV_SOURCE_DIR) + "/examples/" + ex + ".txt"));
  }
  for (const auto& [name, d] : runs) {
    SCOPED_TRACE(name);
    const bool singular = read_file(d / "drav0.dat") == "          -1\r\n";
    Outcome r = audit("draw " + quote(d.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("wrote " + (d / "model.svg").string() + "\n"), std::string::npos) << r.out;
    // What the picture cannot know is said.
    EXPECT_EQ(r.out.find("1 node that no element reaches") != std::string::npos,
              name == "lone_node");
    EXPECT_EQ(r.out.find("2 parts that no element joins") != std::string::npos,
              name == "free_part");
    r = audit("spy " + quote(d.string()) + " -o " + quote(name + "-spy.svg"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string model = read_file(d / "model.svg"),
                      spy = read_file(dir_ / (name + "-spy.svg"));
    // The singular node ringed, a panel per motion; the factors drawn for finished runs only.
    EXPECT_EQ(model.find("<g id=\"failing-node\">") != std::string::npos, singular);
    EXPECT_EQ(model.find("<g id=\"motion-1\">") != std::string::npos, singular);
    EXPECT_EQ(spy.find("stored factors L\\U") != std::string::npos, !singular);
    for (const fs::path& svg : {d / "model.svg", dir_ / (name + "-spy.svg")}) {
      if (!xmllint.empty()) {
        EXPECT_EQ(std::system((xmllint + " --noout " + quote(svg.string())).c_str()), 0) << svg;
      }
      if (!rsvg.empty()) {
        const fs::path png = svg.string() + ".png";
        EXPECT_EQ(
            std::system((rsvg + " " + quote(svg.string()) + " -o " + quote(png.string())).c_str()),
            0)
            << svg;
        const std::string bytes = read_file(png);
        EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << svg;
      }
    }
  }
  // Vectors that do not close a loop are noted, and the picture is still drawn.
  const fs::path tri = build_text("bent", kTriangleHeld);
  std::string el = read_file(tri / "el.unf");
  double v0;
  std::memcpy(&v0, el.data() + 2 * 288, 8);  // element 3: V(1)
  v0 += 0.5;
  std::memcpy(el.data() + 2 * 288, &v0, 8);
  write_file(tri / "el.unf", el);
  const Outcome r = audit("draw " + quote(tri.string()) + " -o bent.svg");
  EXPECT_EQ(r.status, 0) << r.err;
  // Which element of the loop is named depends on the walk.
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("note: the vectors V of 1 element \\([123]\\) do not close their loops")))
      << r.out;
  if (xmllint.empty()) GTEST_SKIP() << "xmllint is not installed: the SVG files were not parsed";
  if (rsvg.empty())
    GTEST_SKIP() << "rsvg-convert is not installed: the SVG files were not rendered";
}

TEST_F(Diagnostics, SpyGathersEntriesIntoCellsAndMarksTheBand) {
  const fs::path d =
      build_and_run("plane", std::string(DRAV_SOURCE_DIR) + "/examples/plane_truss.txt");
  Outcome r = audit("spy " + quote(d.string()) + " --cells 5");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = read_file(d / "spy.svg");
  EXPECT_NE(svg.find("NEQ = 13, NBAND = 11, each cell gathers up to 3 x 3 entries"),
            std::string::npos);
  // Both band lines on both patterns (13 > 11), U's wider reach on the factors only.
  size_t dashed = 0;
  for (size_t p = svg.find("stroke-dasharray=\"5 3\""); p != std::string::npos;
       p = svg.find("stroke-dasharray=\"5 3\"", p + 1))
    ++dashed;
  EXPECT_EQ(dashed, 2u * 2u + 1u);  // + the legend
}

TEST_F(Diagnostics, MatrixMarketFilesRoundTripExactly) {
  const fs::path d =
      build_and_run("plane", std::string(DRAV_SOURCE_DIR) + "/examples/plane_truss.txt");
  Outcome r = audit("export " + quote(d.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* f : {"K.mtx", "K-factors.mtx", "K-order.txt"}) {
    EXPECT_NE(r.out.find("wrote " + (d / f).string() + "\n"), std::string::npos) << r.out;
  }
  // The rebuilt matrix and the stored factors, independently of the export.
  drav::audit::Model m;
  drav::Matrix A, F;
  std::vector<int32_t> iord;
  {
    const fs::path old = fs::current_path();
    fs::current_path(d);
    drav::audit::load_model(m);
    drav::audit::build_matrix(m, A);
    drav::audit::read_stored_factors(m.c, F, iord);
    fs::current_path(old);
  }
  const int32_t n = A.order();
  ASSERT_EQ(n, 13);

  // Our own reading of the coordinate files: the header, the lower triangle, every value.
  std::istringstream mtx(read_file(d / "K.mtx"));
  std::string line;
  std::getline(mtx, line);
  EXPECT_EQ(line, "%%MatrixMarket matrix coordinate real symmetric");
  while (mtx.peek() == '%') std::getline(mtx, line);
  int rows = 0, cols = 0, entries = 0;
  mtx >> rows >> cols >> entries;
  EXPECT_EQ(rows, n);
  EXPECT_EQ(cols, n);
  int listed = 0;
  for (int i, j; mtx >> i >> j >> line; ++listed) {
    EXPECT_GE(i, j);
    EXPECT_EQ(std::strtod(line.c_str(), nullptr), A(i, j)) << i << " " << j;
  }
  EXPECT_EQ(listed, entries);
  int nonzero_lower = 0;
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= i; ++j) nonzero_lower += A(i, j) != 0.0;
  }
  EXPECT_EQ(entries, nonzero_lower);
  std::istringstream order(read_file(d / "K-order.txt"));
  std::vector<int32_t> exported;
  for (int32_t v; order >> v;) exported.push_back(v);
  EXPECT_EQ(exported, iord);

  // An independent reader: scipy's mmread, every value compared bit for bit through its hex
  // form.
  const std::string python = first_working({"python3", "/usr/bin/python3"}, "-c 'import scipy.io'");
  if (python.empty())
    GTEST_SKIP() << "no python3 with scipy: the round trip through scipy was not run";
  const std::string script =
      "import scipy.io\n"
      "for name in ['K.mtx', 'K-factors.mtx']:\n"
      "    a = scipy.io.mmread(name).toarray()\n"
      "    with open(name + '.hex', 'w') as f:\n"
      "        for row in a:\n"
      "            f.write(' '.join(float(v).hex() for v in row) + '\\n')\n";
  write_file(d / "read.py", script);
  r = run_in(d, python + " read.py");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const auto& [name, M] :
       {std::pair<const char*, const drav::Matrix*>{"K.mtx.hex", &A}, {"K-factors.mtx.hex", &F}}) {
    SCOPED_TRACE(name);
    std::istringstream hex(read_file(d / name));
    int32_t count = 0;
    for (int32_t i = 1; i <= n; ++i) {
      for (int32_t j = 1; j <= n; ++j, ++count) {
        std::string tok;
        ASSERT_TRUE(hex >> tok);
        const double v = std::strtod(tok.c_str(), nullptr);
        // Zeros are not listed, so -0.0 comes back as 0.0; everything else bit for bit.
        const double want = (*M)(i, j);
        if (want == 0.0) {
          EXPECT_EQ(v, 0.0);
        } else {
          EXPECT_EQ(std::memcmp(&v, &want, 8), 0) << i << " " << j << " " << tok;
        }
      }
    }
    EXPECT_EQ(count, n * n);
  }

  // A singular run has no factors: the matrix alone, and a note.
  const fs::path sq = build_text("square", kSquare);
  r = audit("export " + quote(sq.string()) + " -o " + quote("sq"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / "sq.mtx"));
  EXPECT_FALSE(fs::exists(dir_ / "sq-factors.mtx"));
  EXPECT_NE(r.out.find("note: the run ended with a singular matrix"), std::string::npos);
}

TEST(DiagnosticsText, JsonAndXmlStayWellFormedWhateverTheText) {
  std::ostringstream out;
  drav::audit::JsonOut j(out);
  j.begin_object();
  j.key("text").value("a \"quoted\" back\\slash\r\n\ttab \x01");
  j.key("numbers").begin_array();
  j.value(0.1).value(-2.5e-300).value(std::nan("")).value(1.0 / 0.0).value(int64_t{-7});
  j.end_array();
  j.key("empty").begin_array().end_array();
  j.key("none").begin_object().end_object();
  j.key("ids").value(std::vector<int32_t>{3, 1});
  j.end_object();
  j.finish();
  const Json back = parse_json(out.str());
  EXPECT_EQ(back["text"].str, "a \"quoted\" back\\slash\r\n\ttab \x01");
  ASSERT_EQ(back["numbers"].size(), 5u);
  EXPECT_EQ(back["numbers"][0].num, 0.1);  // the shortest text reads back exactly
  EXPECT_EQ(back["numbers"][1].num, -2.5e-300);
  EXPECT_EQ(back["numbers"][2].type, Json::Type::Null);
  EXPECT_EQ(back["numbers"][3].type, Json::Type::Null);
  EXPECT_EQ(back["numbers"][4].num, -7);
  EXPECT_EQ(back["empty"].size(), 0u);
  EXPECT_EQ(back["none"].size(), 0u);
  EXPECT_EQ(back["ids"][1].integer(), 1);
  // Text from a model file in an SVG document: markup escaped, bytes outside ASCII replaced.
  EXPECT_EQ(drav::audit::xml_text("a<b & \"c\" > d\xe9\x01"),
            "a&lt;b &amp; &quot;c&quot; &gt; d??");
  // The reader used above rejects what is not JSON.
  for (const char* bad : {"{\"a\": 1,}", "[1 2]", "{\"a\" 1}", "01", "\"x", "[1] 2", "nul"}) {
    EXPECT_THROW(parse_json(bad), std::runtime_error) << bad;
  }
}
