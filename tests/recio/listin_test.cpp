#include "recio/listin.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "recio/fatal.h"
#include "recio/textio.h"
#include "support/scratch.h"

namespace drav::recio {
namespace {

namespace fs = std::filesystem;

// Runs `body` on a file holding `bytes`, read on unit 5; returns the fatal report, or "" when
// none. The file's path is returned through `path`.
std::string with_file(const std::string& bytes, const std::function<void(TextFileIn&)>& body,
                      std::string* path = nullptr) {
  const drav::testing::TempDir dir("drav-listin");
  const std::string p = dir.write("in.dat", bytes);
  if (path != nullptr) *path = p;
  std::string msg;
  try {
    TextFileIn in(5, p);
    body(in);
  } catch (const FatalError& e) {
    msg = e.what();
  }
  return msg;
}

// One statement of `n` integers (each starting at -1), then the next line of the file; the
// result lists the values, '|', and that line (or "EOF").
std::string ints(const std::string& bytes, int n) {
  std::string out;
  std::string err = with_file(bytes, [&](TextFileIn& in) {
    std::vector<int32_t> v(n, -1);
    ListRead r(in);
    for (auto& x : v) r.item(x);
    r.end();
    for (auto x : v) out += std::to_string(x) + " ";
    std::string next;
    out += "| " + (in.next_line(next) ? next : std::string("EOF"));
  });
  return err.empty() ? out : err;
}

TEST(ListReadTest, ValuesNullsRepeatsAndSlash) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"1 2 3", "1 2 3 | EOF"},
      {"1,2,3\nnext", "1 2 3 | next"},
      {" 1 , 2 ,3 ", "1 2 3 | EOF"},
      {"1\t2\t\t3", "1 2 3 | EOF"},
      // A CR that does not end a line separates like a blank (as after a doubled CR).
      {"1\r2\r 3", "1 2 3 | EOF"},
      {"1 2\r\r\n3\r\r\nnext\r\r\n", "1 2 3 | next\r"},
      {"\r\r\n1,\r,3", "1 -1 3 | EOF"},
      {"+1 -2 0003", "1 -2 3 | EOF"},
      {"-2147483648 2147483647 -0", "-2147483648 2147483647 0 | EOF"},
      // null values
      {",2,3", "-1 2 3 | EOF"},
      {"  , 2 3", "-1 2 3 | EOF"},
      {"1,,3", "1 -1 3 | EOF"},
      {"1, ,3", "1 -1 3 | EOF"},
      {",,/", "-1 -1 -1 | EOF"},
      {", ,3", "-1 -1 3 | EOF"},
      {"1,\n,3", "1 -1 3 | EOF"},   // comma at line end, comma at line start
      {"1\n,2\n3", "1 2 3 | EOF"},  // a line end is a blank, not a comma
      {"1,\n2,\n3,\nnext", "1 2 3 | next"},
      // repeats
      {"3*7", "7 7 7 | EOF"},
      {"2*-5 1", "-5 -5 1 | EOF"},
      {"1 2*4", "1 4 4 | EOF"},
      {"2* 5", "-1 -1 5 | EOF"},
      {"2*,5", "-1 -1 5 | EOF"},
      {"1 5*4 9\nnext", "1 4 4 | next"},  // leftover copies are dropped
      {"3*", "-1 -1 -1 | EOF"},
      {"0001*8 2*9", "8 9 9 | EOF"},
      // slash
      {"1 / 7\nnext", "1 -1 -1 | next"},
      {"1 2/", "1 2 -1 | EOF"},
      {"/", "-1 -1 -1 | EOF"},
      {"1,/", "1 -1 -1 | EOF"},
      {"2*/ 5", "-1 -1 -1 | EOF"},
      {"4*6/", "6 6 6 | EOF"},
      // multi-line statements, rest of the last line skipped
      {"1\n\n2\n3 4 5\nnext", "1 2 3 | next"},
      {"1 2 3 garbage 'x' ,,, /\r\nnext\r\n", "1 2 3 | next"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ints(c.in, 3), c.want) << "input: " << c.in;
  }
}

TEST(ListReadTest, IntegerErrors) {
  struct Case {
    const char* in;
    const char* kind;
    const char* detail;
  };
  const Case cases[] = {
      {"1.5", "list-directed I/O syntax error", "line 1: \"1.5\", an integer was expected"},
      {"1 abc", "list-directed I/O syntax error", "line 1: \"abc\", an integer was expected"},
      {"1e5", "list-directed I/O syntax error", "line 1: \"1e5\", an integer was expected"},
      {"--1", "list-directed I/O syntax error", "line 1: \"--1\", an integer was expected"},
      {"1\n+", "list-directed I/O syntax error", "line 2: \"+\", an integer was expected"},
      {"1-", "list-directed I/O syntax error", "line 1: \"1-\", an integer was expected"},
      {"'1'", "list-directed I/O syntax error", "line 1: \"'1'\", an integer was expected"},
      {"2*x", "list-directed I/O syntax error", "line 1: \"x\", an integer was expected"},
      {"0*5", "list-directed I/O syntax error", "line 1: \"0*5\", the repeat count is zero"},
      {"-2*5", "list-directed I/O syntax error",
       "line 1: \"-2*5\", the repeat count is not an unsigned integer"},
      {"*5", "list-directed I/O syntax error",
       "line 1: \"*5\", the repeat count is not an unsigned integer"},
      {"2147483648", "input conversion error",
       "line 1: \"2147483648\", the integer is beyond the 32-bit range"},
      {"-2147483649", "input conversion error",
       "line 1: \"-2147483649\", the integer is beyond the 32-bit range"},
      {"123456789012345678901234567890", "input conversion error",
       "line 1: \"123456789012345678901234567890\", the integer is beyond the 32-bit range"},
      {"3000000000*1", "input conversion error",
       "line 1: \"3000000000*1\", the repeat count is out of range"},
  };
  for (const auto& c : cases) {
    std::string path;
    std::string got = with_file(
        c.in,
        [](TextFileIn& in) {
          int32_t v[3];
          ListRead r(in);
          for (auto& x : v) r.item(x);
        },
        &path);
    EXPECT_EQ(got, std::string(c.kind) + ", unit 5, file " + path + " (" + c.detail + ")")
        << "input: " << c.in;
  }
}

TEST(ListReadTest, EndOfFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "the file is empty"},
      {"1 2", "the file ends after line 1"},
      {"1\r\n2\r\n", "the file ends after line 2"},
      {"1,\n", "the file ends after line 1"},
      {"3*", "the file ends after line 1"},  // three nulls, and the fourth item finds no value
  };
  for (const auto& [in, detail] : cases) {
    std::string path;
    std::string got = with_file(
        in,
        [](TextFileIn& in) {
          int32_t v[4];
          ListRead r(in);
          for (auto& x : v) r.item(x);
        },
        &path);
    EXPECT_EQ(got, "end-of-file during read, unit 5, file " + path + " (" + detail + ")")
        << "input: " << in;
  }
}

template <class T>
std::string real_result(const std::string& token, T& v) {
  return with_file(token, [&](TextFileIn& in) {
    ListRead r(in);
    r.item(v);
  });
}

TEST(ListReadTest, RealForms) {
  const std::pair<std::string, float> cases[] = {
      {"1.5", 1.5f},
      {"-2", -2.0f},
      {".5", 0.5f},
      {"5.", 5.0f},
      {"+1.25e+2", 125.0f},
      {"1E3", 1000.0f},
      {"1d3", 1000.0f},
      {"1D-3", 1e-3f},
      {"0.1", 0.1f},
      {"1.0-5", 1e-5f},  // exponent without its letter
      {"2+3", 2000.0f},
      {"00000000000000000000000001.5", 1.5f},
      {"0." + std::string(70, '0') + "123e73", 123.0f},
      {"1230" + std::string(60, '0') + "e-62", 12.3f},
      {"3.4028235e38", FLT_MAX},
      {"1e-40", 1e-40f},  // subnormal
      {"1e-50", 0.0f},    // underflow to zero is accepted
      {"0e999999999999999999999", 0.0f},
      {"1e-999999999999999999999", 0.0f},
      // Just above the midpoint of 1 and the next float: rounding through double would tie
      // to even and give 1.
      {"1.00000005960464477539062501", 1.0f + FLT_EPSILON},
  };
  for (const auto& [in, want] : cases) {
    float v = -7.0f;
    EXPECT_EQ(real_result(in, v), "") << in;
    EXPECT_EQ(std::bit_cast<uint32_t>(v), std::bit_cast<uint32_t>(want)) << in << " -> " << v;
  }
  float neg = 1.0f;
  EXPECT_EQ(real_result("-1e-60", neg), "");
  EXPECT_TRUE(neg == 0.0f && std::signbit(neg));

  const std::pair<std::string, double> dcases[] = {
      {"0.1", 0.1},
      {"1d300", 1e300},
      {"-1.0-100", -1e-100},
      {"1e-320", 1e-320},
      {"1.7976931348623157e308", DBL_MAX},
      {"123456789012345678901234567890", 123456789012345678901234567890.0},
  };
  for (const auto& [in, want] : dcases) {
    double v = -7.0;
    EXPECT_EQ(real_result(in, v), "") << in;
    EXPECT_EQ(std::bit_cast<uint64_t>(v), std::bit_cast<uint64_t>(want)) << in;
  }
}

TEST(ListReadTest, RealErrors) {
  const std::pair<std::string, bool> cases[] = {
      // token, true for a syntax error (false: conversion error)
      {"1e", true},
      {"1e+", true},
      {"e5", true},
      {".", true},
      {"-.", true},
      {"1.2.3", true},
      {"1.5x", true},
      {"--1", true},
      {"1.0+-5", true},
      {"1e5.0", true},
      {"Inf", true},
      {"NaN", true},
      {"Infinity", true},
      {"\"1.0\"", true},
      {"1e39", false},
      {"-1e39", false},
      {"3.40282357e38", false},
      {"1" + std::string(50, '0'), false},
  };
  for (const auto& [in, syntax] : cases) {
    float v = 0;
    std::string got = real_result(in, v);
    std::string want = syntax ? "list-directed I/O syntax error, unit 5, file "
                              : "input conversion error, unit 5, file ";
    EXPECT_EQ(got.rfind(want, 0), 0u) << in << ": " << got;
  }
  double d = 0;
  EXPECT_NE(real_result("1e309", d).find("input conversion error"), std::string::npos);
  EXPECT_EQ(real_result("1e308", d), "");
}

TEST(ListReadTest, LongInputIsShownShortAndReadInOnePass) {
  std::string path;
  std::string token(5'000'000, '7');
  std::string got = with_file(
      token,
      [](TextFileIn& in) {
        float v;
        ListRead r(in);
        r.item(v);
      },
      &path);
  EXPECT_EQ(got, "input conversion error, unit 5, file " + path + " (line 1: \"" +
                     std::string(40, '7') +
                     "...\", the value is beyond the single precision range)");

  // 200000 values on one line, read by one statement.
  std::string line;
  for (int i = 0; i < 200000; ++i) line += std::to_string(i % 1000) + (i % 2 ? "," : " ");
  int64_t sum = 0;
  EXPECT_EQ(with_file(line + "\n",
                      [&](TextFileIn& in) {
                        ListRead r(in);
                        for (int i = 0; i < 200000; ++i) {
                          int32_t v = 0;
                          r.item(v);
                          sum += v;
                        }
                        r.end();
                      }),
            "");
  EXPECT_EQ(sum, 200LL * 499500);
}

TEST(ListReadTest, MixedKindsShareARepeat) {
  int32_t i = 0;
  float f = 0;
  double d = 0;
  EXPECT_EQ(with_file("3*4\n",
                      [&](TextFileIn& in) {
                        ListRead r(in);
                        EXPECT_TRUE(r.item(i));
                        EXPECT_TRUE(r.item(f));
                        EXPECT_TRUE(r.item(d));
                        EXPECT_FALSE(r.slashed());
                      }),
            "");
  EXPECT_EQ(i, 4);
  EXPECT_EQ(f, 4.0f);
  EXPECT_EQ(d, 4.0);
  // A copy that suits a real but not an integer fails at the integer item.
  EXPECT_NE(with_file("2*2.5\n",
                      [&](TextFileIn& in) {
                        ListRead r(in);
                        r.item(f);
                        r.item(i);
                      })
                .find("list-directed I/O syntax error"),
            std::string::npos);
}

}  // namespace
}  // namespace drav::recio
