// drav-audit compare: differences planted in a copy of a finished run, each found, named and
// located in the text and in the JSON, with its exit status; and the two number rules it
// rests on (units in the last place, the values the report's fields read back as).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "json_read.h"
#include "tool_runs.h"
#include "tools/audit/audit_compare.h"

namespace fs = std::filesystem;
using namespace drav::tooltest;

namespace {

constexpr int kNeq = 13;  // examples/plane_truss.txt

// The byte offset of entry (row, column) of the matrix file of NEQ = kNeq.
size_t entry_at(int row, int column) {
  return static_cast<size_t>((row - 1) * (8 * kNeq + 8) + 4 + (column - 1) * 8);
}

double get_entry(const std::string& bytes, int row, int column) {
  double v;
  std::memcpy(&v, bytes.data() + entry_at(row, column), 8);
  return v;
}

void set_entry(std::string& bytes, int row, int column, double v) {
  std::memcpy(bytes.data() + entry_at(row, column), &v, 8);
}

// Rewrites the file `name` of `dir` through `edit`.
void edit(const fs::path& dir, const char* name, const std::function<void(std::string&)>& f) {
  std::string bytes = read_file(dir / name);
  f(bytes);
  write_file(dir / name, bytes);
}

// The member of "files" of that name.
const Json& file_named(const Json& doc, const std::string& name) {
  for (const Json& f : doc["files"].items)
    if (f["name"].str == name) return f;
  throw std::runtime_error("no file " + name);
}

}  // namespace

TEST(AuditCompare, UlpsAndFieldsReadBack) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_EQ(drav::audit::ulps_between(1.0, std::nextafter(1.0, 2.0)), 1u);
  EXPECT_EQ(drav::audit::ulps_between(-1.0, std::nextafter(-1.0, -2.0)), 1u);
  EXPECT_EQ(drav::audit::ulps_between(0.0, -0.0), 0u);
  EXPECT_EQ(drav::audit::ulps_between(-tiny, tiny), 2u);
  EXPECT_EQ(drav::audit::ulps_between(1.0, 2.0), uint64_t{1} << 52);
  const struct {
    const char* field;
    double value;  // NaN: not a number
  } fields[] = {{"    0.5000000    ", 0.5},       {"     1234.500    ", 1234.5},
                {"     9999999.    ", 9999999.0}, {"    1.0000000E+08", 1e8},
                {"   -1.0000000-100", -1e-100},   {"   -2.5000000E-03", -0.0025},
                {"         Infinity", INFINITY},  {"        -Infinity", -INFINITY},
                {"              NaN", NAN},       {"*****************", NAN},
                {"              inf", NAN},       {"                 ", NAN}};
  for (const auto& f : fields) {
    SCOPED_TRACE(f.field);
    const double v = drav::audit::read_back(f.field);
    if (std::isnan(f.value)) {
      EXPECT_TRUE(std::isnan(v)) << v;
    } else {
      EXPECT_EQ(v, f.value);
    }
  }
}

// Each row plants one difference in a copy of the plane truss's finished run.
TEST_F(AuditRun, CompareFindsNamesAndLocatesEachPlantedDifference) {
  const fs::path a = build_and_run("a", std::string(DRAV_SOURCE_DIR) + "/examples/plane_truss.txt");
  const std::string matrix = read_file(a / "AA0.UNF");
  int zr = 0, zc = 0;  // the first +0.0 of the factors
  for (int r = 1; r <= kNeq && !zr; ++r)
    for (int c = 1; c <= kNeq && !zr; ++c)
      if (std::signbit(get_entry(matrix, r, c)) == 0 && get_entry(matrix, r, c) == 0)
        zr = r, zc = c;
  ASSERT_GT(zr, 0);
  const std::string zero_at = "  row " + std::to_string(zr) + " ";

  struct Row {
    const char* what;
    std::function<void(const fs::path&)> plant;
    int status;
    std::string verdict;  // the start of the first line
    std::string located;  // a line of the text's details
    const char* file;     // the member of "files" the JSON check looks at
    std::function<void(const Json&)> json;
  };
  const Row rows[] = {
      {"a second run of the program", [](const fs::path& b) { run_in(b, DRAV_EXE); }, 0,
       "identical\n", "AA0.UNF: same, 13 records of 104 bytes\n", "AA0.UNF",
       [](const Json& f) { EXPECT_EQ(f["entries"].integer(), kNeq * kNeq); }},
      {"one entry one unit in the last place up",
       [](const fs::path& b) {
         edit(b, "AA0.UNF", [](std::string& m) {
           set_entry(m, 3, 4, std::nextafter(get_entry(m, 3, 4), INFINITY));
         });
       },
       1, "differ: AA0.UNF 1 entry (max 1 ulp), order.dat same, rig-case1.dat same",
       "  row 3 (IORD 3: node 3, direction 1), column 4 (node 3, direction 2): ", "AA0.UNF",
       [](const Json& f) {
         const Json& e = f["first"][0];
         EXPECT_EQ(e["row"].integer(), 3);
         EXPECT_EQ(e["column"].integer(), 4);
         EXPECT_EQ(e["change"].str, "value");
         EXPECT_EQ(e["ulps"].integer(), 1);
         EXPECT_EQ(e["row_equation"][0]["node"].integer(), 3);
         EXPECT_EQ(e["column_equation"]["direction"].integer(), 2);
         EXPECT_EQ(f["max_ulps"]["column"].integer(), 4);
       }},
      {"a +0.0 turned into -0.0",
       [&](const fs::path& b) {
         edit(b, "AA0.UNF", [&](std::string& m) { set_entry(m, zr, zc, -0.0); });
       },
       1, "differ: AA0.UNF 1 entry (1 signed zero)", zero_at, "AA0.UNF",
       [&](const Json& f) {
         EXPECT_EQ(f["signed_zero"].integer(), 1);
         EXPECT_EQ(f["first"][0]["change"].str, "signed zero");
         EXPECT_EQ(f["first"][0]["b_bits"].str, "0x8000000000000000");
         EXPECT_EQ(f["first"][0]["column"].integer(), zc);
         EXPECT_EQ(f["max_ulps"].type, Json::Type::Null);
       }},
      {"two entries of order.dat exchanged",
       [](const fs::path& b) {
         edit(b, "order.dat", [](std::string& t) { std::swap_ranges(&t[12], &t[24], &t[36]); });
       },
       1, "differ: AA0.UNF same, order.dat 2 positions,",
       "  position 4: equation 4 against equation 2\n", "order.dat",
       [](const Json& f) {
         EXPECT_EQ(f["differ"].integer(), 2);
         EXPECT_EQ(f["first"][0]["position"].integer(), 2);
         EXPECT_EQ(f["first"][0]["b"].integer(), 4);
       }},
      {"one field of the stiffness report",
       [](const fs::path& b) {
         edit(b, "rig-case1.dat", [](std::string& t) {
           const size_t line5 = t.find("\r\n", t.find("\r\n\r\n") + 4) + 2;
           t.replace(line5 + 17, 17, "   -1.0000000-100");
         });
       },
       1, "differ: AA0.UNF same, order.dat same, rig-case1.dat 1 field,",
       "  line 5, entry (1,8): \"     0.000000    \" against \"   -1.0000000-100\", read back 0 "
       "against -1e-100\n",
       "rig-case1.dat",
       [](const Json& f) {
         EXPECT_EQ(f["fields"].integer(), 1);
         EXPECT_EQ(f["first"][0]["row"].integer(), 1);
         EXPECT_EQ(f["first"][0]["column"].integer(), 8);
         EXPECT_EQ(f["first"][0]["value_b"].num, -1e-100);
       }},
      {"status 0 against -1",
       [](const fs::path& b) { write_file(b / "drav0.dat", "          -1\r\n"); }, 1,
       "differ: AA0.UNF same, order.dat same, rig-case1.dat same, drav0.dat 0 against -1, 5 "
       "other files same\n",
       "drav0.dat: status 0 against -1\n", "drav0.dat",
       [](const Json& f) {
         EXPECT_EQ(f["status"][1].integer(), -1);
         EXPECT_EQ(f["first"][0]["line"].integer(), 1);
       }},
      {"a model file in one directory only and one changed",
       [](const fs::path& b) {
         fs::remove(b / "temp.dat");
         edit(b, "el.unf", [](std::string& t) { t[100] ^= 1; });
       },
       1,
       "differ: AA0.UNF same, order.dat same, rig-case1.dat same, drav0.dat same, el.unf "
       "differs at byte 100, temp.dat only in a, 3 other files same\n",
       "temp.dat: only in a\n", "temp.dat", [](const Json& f) { EXPECT_FALSE(f["in_b"].b); }},
      {"a record of the matrix file cut short",
       [](const fs::path& b) {
         edit(b, "AA0.UNF", [](std::string& m) { m.resize(5 * 112 + 50); });
       },
       2, "", "", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const fs::path b = dir_ / "b";
    fs::remove_all(b);
    fs::copy(a, b, fs::copy_options::recursive);
    row.plant(b);
    const std::string cmd =
        std::string(DRAV_AUDIT_EXE) + " compare " + quote(a.string()) + " " + quote(b.string());
    const Outcome text = run_in(dir_, cmd);
    const Outcome json = run_in(dir_, cmd + " --json");
    EXPECT_EQ(text.status, row.status) << text.out << text.err;
    EXPECT_EQ(json.status, row.status) << json.err;
    if (row.status == 2) {
      // Nothing but the program's words, naming the file and the record.
      EXPECT_EQ(text.out, "");
      EXPECT_EQ(json.out, "");
      EXPECT_NE(text.err.find("error during read, unit 3, file " + (b / "AA0.UNF").string() +
                              " (record 6 at byte 560"),
                std::string::npos)
          << text.err;
      continue;
    }
    EXPECT_EQ(text.out.rfind(row.verdict, 0), 0u) << text.out;
    EXPECT_NE(text.out.find("\n" + row.located), std::string::npos) << text.out;
    const Json doc = parse_json(json.out);
    EXPECT_EQ(doc["verdict"].str + "\n", text.out.substr(0, text.out.find('\n') + 1));
    EXPECT_EQ(doc["identical"].b, row.status == 0);
    row.json(file_named(doc, row.file));
  }
}
