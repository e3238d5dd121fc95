#include "recio/text_edit.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace drav::recio {
namespace {

// One line of a field table: hex bits (or an integer), the value in decimal, the field.
struct FieldLine {
  std::string key;
  std::string second;
  std::string field;
  int line_no;
};

// Reads a tab-separated field table; '#' lines are comments, the field sits between '|'s.
std::vector<FieldLine> read_table(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  std::vector<FieldLine> rows;
  std::string line;
  int no = 0;
  while (std::getline(in, line)) {
    ++no;
    if (line.empty() || line[0] == '#') continue;
    const size_t t1 = line.find('\t');
    const size_t t2 = line.find('\t', t1 + 1);
    const size_t b1 = line.find('|', t2);
    const size_t b2 = line.find('|', b1 + 1);
    if (t1 == std::string::npos || t2 == std::string::npos || b1 == std::string::npos ||
        b2 == std::string::npos) {
      ADD_FAILURE() << path << ":" << no << ": malformed line";
      continue;
    }
    rows.push_back({line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1),
                    line.substr(b1 + 1, b2 - b1 - 1), no});
  }
  return rows;
}

double double_from_hex(const std::string& h) {
  return std::bit_cast<double>(static_cast<uint64_t>(std::stoull(h, nullptr, 16)));
}
float float_from_hex(const std::string& h) {
  return std::bit_cast<float>(static_cast<uint32_t>(std::stoul(h, nullptr, 16)));
}

const std::string kData = DRAV_TESTDATA_DIR;

TEST(EditG, ExamplesOfTheReportLayout) {
  struct Case {
    double v;
    const char* field;
  };
  const Case cases[] = {
      {0.0, "     0.000000    "},
      {-0.0, "     0.000000    "},
      {0.5, "    0.5000000    "},
      {1234.5, "     1234.500    "},
      {9999999.0, "     9999999.    "},
      {1.0E7, "    1.0000000E+07"},
      {1.0E8, "    1.0000000E+08"},
      {-0.0025, "   -2.5000000E-03"},
      {-1.0E-100, "   -1.0000000-100"},
      {1.0E100, "    1.0000000+100"},
      {std::ldexp(1.0, -11), "    4.8828125E-04"},
      {0.99999995, "    0.9999999    "},
      {0.1, "    0.1000000    "},
      {0.09999999, "    9.9999990E-02"},
      {-7.25, "    -7.250000    "},
      {1.0E-310, "    1.0000000-310"},
      // The eighth digit is 5 only after rounding: the exact value decides.
      {0.12345674999, "    0.1234567    "},
      {0.1234567500001, "    0.1234568    "},
      // Seven digits carry into the next decade; the E-form keeps eight.
      {9999999.6, "    9.9999996E+06"},
      {9999999.4, "     9999999.    "},
      {99.999996, "     100.0000    "},
  };
  for (const Case& c : cases) EXPECT_EQ(edit_G(c.v, 17, 7), c.field) << c.v;
}

TEST(EditG, FreeFormatExamples) {
  EXPECT_EQ(list_real(1.0f), "   1.000000    ");
  EXPECT_EQ(list_real(0.0f), "   0.000000    ");
  EXPECT_EQ(list_real(1.0E-7f), "  1.0000000E-07");
  EXPECT_EQ(list_double(1.0), "   1.00000000000000     ");
  EXPECT_EQ(list_double(-1.0E-100), " -1.000000000000000E-100");
  EXPECT_EQ(list_double(1.0E300), "  1.000000000000000E+300");
  EXPECT_EQ(list_int(-1), "          -1");
  EXPECT_EQ(list_int(0), "           0");
}

TEST(EditG, InfinitiesAndNaN) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(edit_G(inf, 17, 7), "         Infinity");
  EXPECT_EQ(edit_G(-inf, 17, 7), "        -Infinity");
  EXPECT_EQ(edit_G(nan, 17, 7), "              NaN");
  EXPECT_EQ(edit_G(-nan, 15, 7), "            NaN");
  EXPECT_EQ(edit_G(-inf, 8, 2), "********");
  EXPECT_EQ(edit_G(nan, 2, 1), "**");
  EXPECT_EQ(list_real(std::numeric_limits<float>::infinity()), "       Infinity");
}

TEST(EditG, NarrowFieldsAndOddDescriptors) {
  struct Case {
    double v;
    int w, d, e;
    const char* field;
  };
  const Case cases[] = {
      // F-form drops the leading zero when only that makes it fit, else w asterisks.
      {0.5, 12, 7, 0, ".5000000    "},
      {-0.5, 12, 7, 0, "************"},
      {-0.5, 13, 7, 0, "-.5000000    "},
      {0.5, 13, 7, 0, "0.5000000    "},
      {0.0, 11, 7, 0, ".000000    "},  // no room for "0.000000" in 7: drops the zero
      {0.0, 10, 7, 0, "**********"},
      {1234.5, 12, 7, 0, "1234.500    "},
      {1234.5, 11, 7, 0, "***********"},
      {1.0E7, 13, 7, 0, "1.0000000E+07"},
      {-1.0E7, 13, 7, 0, "*************"},
      // exponent digits
      {1.0E10, 12, 3, 1, "************"},  // exponent 10 has two digits
      {1.0E5, 12, 3, 1, "    1.000E+5"},
      {1.0E5, 12, 3, 4, " 1.000E+0005"},
      {5.0, 10, 3, 1, "   5.00   "},  // n = 3 in F-form
      {2.5, 10, 1, 0, "    2.    "},  // ties to even
      // d = 1: F-form 0.1 <= |v| < 9.5, one digit; zero keeps its "0".
      {2.5, 8, 1, 0, "  2.    "},
      {0.25, 8, 1, 0, " 0.2    "},
      {0.0, 8, 1, 0, "  0.    "},
      {9.5, 8, 1, 0, " 9.5E+00"},  // rounds to 10 at one digit: E-form
  };
  for (const Case& c : cases) {
    const std::string f = edit_G(c.v, c.w, c.d, c.e);
    EXPECT_EQ(f.size(), static_cast<size_t>(c.w)) << c.v << " G" << c.w << "." << c.d;
    if (f.size() == static_cast<size_t>(c.w)) {
      EXPECT_EQ(f, c.field) << c.v << " G" << c.w << "." << c.d << "E" << c.e;
    }
  }
  EXPECT_EQ(edit_G(1.0, 0, 7), "");
  EXPECT_EQ(edit_G(1.0, -3, 7), "");
  EXPECT_EQ(edit_G(1.0, 5, 0), "*****");
  EXPECT_EQ(edit_G(1.0, 5, kMaxGDigits + 1), "*****");
}

TEST(EditG, AppendAddsOneFieldAfterExistingText) {
  std::string s = "ab";
  append_G(s, 0.5, 17, 7);
  append_G(s, 0.0, 17, 7);
  EXPECT_EQ(s, "ab    0.5000000         0.000000    ");
}

TEST(EditG, ReportFieldsOfDoubles) {
  const auto rows = read_table(kData + "/g17_7.tsv");
  EXPECT_GT(rows.size(), 20000u);
  for (const FieldLine& r : rows)
    EXPECT_EQ(edit_G(double_from_hex(r.key), 17, 7), r.field) << "g17_7.tsv:" << r.line_no;
}

TEST(EditG, RealFieldsOfSinglePrecision) {
  const auto rows = read_table(kData + "/g15_7.tsv");
  EXPECT_GT(rows.size(), 10000u);
  for (const FieldLine& r : rows) {
    const float v = float_from_hex(r.key);
    EXPECT_EQ(edit_G(v, 15, 7), r.field) << "g15_7.tsv:" << r.line_no;
    EXPECT_EQ(list_real(v), r.field) << "g15_7.tsv:" << r.line_no;
  }
}

TEST(EditG, FreeFormatDoublesAgreeWithFortranRunTime) {
  const auto rows = read_table(kData + "/g24_15e3.tsv");
  EXPECT_GT(rows.size(), 3000u);
  for (const FieldLine& r : rows)
    EXPECT_EQ(list_double(double_from_hex(r.key)), r.field) << "g24_15e3.tsv:" << r.line_no;
}

TEST(EditG, FreeFormatRealsAgreeWithFortranRunTime) {
  const auto rows = read_table(kData + "/g15_7e2.tsv");
  EXPECT_GT(rows.size(), 1500u);
  for (const FieldLine& r : rows)
    EXPECT_EQ(list_real(float_from_hex(r.key)), r.field) << "g15_7e2.tsv:" << r.line_no;
}

// Reference G editing built on printf's exact conversion, to check the fast digit source
// over descriptors and values that the tables do not reach.
std::string printf_G(double v, int w, int d) {
  const int n = 4;
  const double a = std::fabs(v);
  char m[128];
  if (a == 0) {
    if (std::snprintf(m, sizeof m, "%#.*f", d - 1, 0.0) < 0) ADD_FAILURE();
  } else {
    if (std::snprintf(m, sizeof m, "%.*e", d - 1, a) < 0) ADD_FAILURE();
    const int e = std::atoi(std::strchr(m, 'e') + 1);
    if (e >= -1 && e <= d - 1) {
      if (std::snprintf(m, sizeof m, "%s%#.*f", v < 0 ? "-" : "", d - 1 - e, a) < 0) ADD_FAILURE();
    } else {
      if (std::snprintf(m, sizeof m, "%s%.*e", v < 0 ? "-" : "", d, a) < 0) ADD_FAILURE();
      char* p = std::strchr(m, 'e');
      const int x = std::atoi(p + 1);
      if (std::snprintf(p, 16, "%s%c%02d", std::abs(x) > 99 ? "" : "E", x < 0 ? '-' : '+',
                        std::abs(x)) < 0)
        ADD_FAILURE();
      std::string t = m;
      return t.size() > static_cast<size_t>(w) ? std::string(w, '*')
                                               : std::string(w - t.size(), ' ') + t;
    }
  }
  std::string t = m;
  if (t.size() > static_cast<size_t>(w - n)) return std::string(w, '*');
  return std::string(w - n - t.size(), ' ') + t + std::string(n, ' ');
}

TEST(EditG, AgreesWithPrintfOverManyValuesAndPrecisions) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> mant(1.0, 10.0);
  std::uniform_int_distribution<int> ex(-30, 30);
  for (int i = 0; i < 40000; ++i) {
    double v;
    if (i % 2 == 0) {
      v = std::bit_cast<double>(rng());
      if (!std::isfinite(v)) continue;
    } else {
      v = mant(rng) * std::pow(10.0, ex(rng));
      // Short decimals produce ties on the exact value only for few digits; include them.
      if (i % 6 == 1) v = std::round(v * 1000.0) / 8.0;
    }
    const int d = 1 + static_cast<int>(rng() % 20);
    const int w = d + 12;
    ASSERT_EQ(edit_G(v, w, d), printf_G(v, w, d)) << std::hexfloat << v << " d=" << d;
  }
}

TEST(EditI, FieldsAndOverflow) {
  struct Case {
    int32_t v;
    int w;
    const char* field;
  };
  const Case cases[] = {
      {123, 2, "**"},
      {-3, 1, "*"},
      {-12, 3, "-12"},
      {0, 1, "0"},
      {0, 3, "  0"},
      {7, 12, "           7"},
      {-2147483647 - 1, 11, "-2147483648"},
      {-2147483647 - 1, 10, "**********"},
      {2147483647, 10, "2147483647"},
  };
  for (const Case& c : cases) EXPECT_EQ(edit_I(c.v, c.w), c.field) << c.v << " I" << c.w;
  EXPECT_EQ(edit_I(5, 0), "");
  EXPECT_EQ(edit_I(5, -1), "");
}

TEST(EditI, AgreesWithFortranRunTime) {
  const auto rows = read_table(kData + "/iw.tsv");
  EXPECT_GT(rows.size(), 900u);
  for (const FieldLine& r : rows) {
    const int32_t v = static_cast<int32_t>(std::stol(r.key));
    const int w = std::stoi(r.second);
    EXPECT_EQ(edit_I(v, w), r.field) << "iw.tsv:" << r.line_no;
    if (w == 12) {
      EXPECT_EQ(list_int(v), r.field) << "iw.tsv:" << r.line_no;
    }
  }
}

TEST(EditA, WidthRules) {
  const std::string t34 = " Stiffness Matrix (Upper Triangle)";
  ASSERT_EQ(t34.size(), 34u);
  EXPECT_EQ(edit_A(t34), t34);
  EXPECT_EQ(edit_A("ZORV", 10), "      ZORV");
  EXPECT_EQ(edit_A("ZORVIK", 3), "ZOR");
  EXPECT_EQ(edit_A("ZORVIK", 6), "ZORVIK");
  EXPECT_EQ(edit_A("ZORVIK", 0), "");
  EXPECT_EQ(edit_A("", 2), "  ");
  EXPECT_EQ(edit_A(""), "");
}

}  // namespace
}  // namespace drav::recio
