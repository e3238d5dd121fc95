#include "params/rcom.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "recio/fatal.h"
#include "support/scratch.h"

namespace drav {
namespace {

namespace fs = std::filesystem;

class RcomTest : public ::testing::Test {
 protected:
  void write(const std::string& bytes) { drav::testing::write_file(path_, bytes); }
  // Reads `bytes` as COMZOR.DAT; returns the fatal report, or "" when there is none.
  std::string run(const std::string& bytes, COMPAR& c) {
    write(bytes);
    try {
      RCOM(c, 2, path_);
    } catch (const recio::FatalError& e) {
      return e.what();
    }
    return "";
  }

  const drav::testing::TempDir tmp_{"drav-rcom"};
  const fs::path dir_ = tmp_.path();
  const std::string path_ = tmp_.file("COMZOR.DAT");
};

// The part of the file after the support records, one step per line.
const std::string kTail =
    "10 20 30 40 50\n"
    "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 "
    "31 32 33 34 35\n"
    "7 1.5 8 9 10 2.5\n"
    "4\n"
    "11 12 13 14 0.25 0.5 1\n"
    "string one\n"
    "report.txt\n"
    "string three\n"
    "label1\n"
    "label2\n"
    "label3\n"
    "Romana\n";

template <size_t N>
std::string padded(const std::string& s) {
  return s + std::string(N - s.size(), ' ');
}

void expect_tail(const COMPAR& c) {
  EXPECT_EQ(std::vector<int32_t>(c.IC, c.IC + 5), (std::vector<int32_t>{10, 20, 30, 40, 50}));
  for (int t = 0; t < 6; ++t) {
    for (int k = 0; k < 5; ++k) EXPECT_EQ(c.TABR[t][k], static_cast<float>(5 * t + k + 1));
  }
  EXPECT_EQ(std::vector<int32_t>(c.TABI, c.TABI + 5), (std::vector<int32_t>{31, 32, 33, 34, 35}));
  EXPECT_EQ(c.IA1, 7);
  EXPECT_EQ(c.RA1, 1.5f);
  EXPECT_EQ(c.IA2, 8);
  EXPECT_EQ(c.IA3, 9);
  EXPECT_EQ(c.IA4, 10);
  EXPECT_EQ(c.RA2, 2.5f);
  EXPECT_EQ(c.NEQ, 4);
  EXPECT_EQ(std::vector<int32_t>(c.IB, c.IB + 4), (std::vector<int32_t>{11, 12, 13, 14}));
  EXPECT_EQ(c.RB1, 0.25f);
  EXPECT_EQ(c.RB2, 0.5f);
  EXPECT_EQ(c.ITER, 1);
  EXPECT_EQ(text_str(c.STR1), padded<255>("string one"));
  EXPECT_EQ(text_str(c.REPFIL), padded<255>("report.txt"));
  EXPECT_EQ(c.report_path(), "report.txt");
  EXPECT_EQ(text_str(c.STR3), padded<255>("string three"));
  EXPECT_EQ(text_str(c.LABL[0]), padded<20>("label1"));
  EXPECT_EQ(text_str(c.LABL[2]), padded<20>("label3"));
  EXPECT_EQ(text_str(c.LANG), padded<20>("Romana"));
  EXPECT_TRUE(c.romanian());
}

// The same model, written one step per line, and spread over lines with values to spare.
TEST_F(RcomTest, ReadsEveryStepWhateverTheLineLayout) {
  const std::string files[] = {
      "3 2 1 4 2 5 6\n"
      "1 1 1\n"
      "3 0 1\n"
      "2 100.5 0\n" +
          kTail,
      "3 2 1\r\n4 2\r\n5 6 99 99\r\n"
      "1\r\n1,1 77\r\n"
      "3,0,1\r\n"
      "2 1.005E2\r\n0 88\r\n"
      "10 20 30 40 50 60\r\n"
      "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\r\n16 17 18 19 20 21 22 23 24 25 26 27 28 29 30\r\n"
      "31 32 33 34 35 36\r\n"
      "7 1.5 8 9 10 2.5 extra\r\n"
      "4 5\r\n"
      "11 12 13 14 .25 5e-1 1 junk\r\n"
      "string one\r\nreport.txt\r\nstring three\r\nlabel1\r\nlabel2\r\nlabel3\r\nRomana\r\n"
      "lines after the language line are never read: x y z\r\n",
  };
  for (const auto& f : files) {
    COMPAR c;
    ASSERT_EQ(run(f, c), "");
    EXPECT_EQ(c.NNODE, 3);
    EXPECT_EQ(c.NBLK, 2);
    EXPECT_EQ(c.NSPR, 1);
    EXPECT_EQ(c.NUMEL, 4);
    EXPECT_EQ(c.NDOFN, 2);
    EXPECT_EQ(c.NEMAX, 5);
    EXPECT_EQ(c.NBAND, 6);
    ASSERT_EQ(c.IBLK.size(), 6);
    ASSERT_EQ(c.ELSUP.size(), 6);
    // Column by column: node index fastest.
    EXPECT_EQ(std::vector<int32_t>(c.IBLK.begin(), c.IBLK.end()),
              (std::vector<int32_t>{1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(std::vector<float>(c.ELSUP.begin(), c.ELSUP.end()),
              (std::vector<float>{0, 100.5f, 0, 0, 0, 0}));
    expect_tail(c);
  }
}

TEST_F(RcomTest, SupportRowsKeepWhatARecordLeavesOut) {
  COMPAR c;
  ASSERT_EQ(run("3 4 3 1 3 1 1\n"
                "2 1 0 4\n"  // node 2 named twice: the later record replaces entry by entry
                "2 0 5 6\n"
                "1 7 8 9\n"
                "1 3 /\n"  // slash: the entries after it keep 8 and 9
                "2 1.5,,2.5\n"
                "3 /\n"
                ",9 /\n"  // K left out keeps the node of the record before (3)
                    + kTail,
                c),
            "");
  EXPECT_EQ(c.iblk(2, 1), 0);
  EXPECT_EQ(c.iblk(2, 2), 5);
  EXPECT_EQ(c.iblk(2, 3), 6);
  EXPECT_EQ(c.iblk(1, 1), 3);
  EXPECT_EQ(c.iblk(1, 2), 8);
  EXPECT_EQ(c.iblk(1, 3), 9);
  EXPECT_EQ(c.iblk(3, 1), 0);
  EXPECT_EQ(c.elsup(2, 1), 1.5f);
  EXPECT_EQ(c.elsup(2, 2), 0.0f);
  EXPECT_EQ(c.elsup(2, 3), 2.5f);
  EXPECT_EQ(c.elsup(3, 1), 9.0f);
  EXPECT_EQ(c.elsup(3, 2), 0.0f);
  expect_tail(c);
}

TEST_F(RcomTest, NoSupportsAndNoDirections) {
  COMPAR c;
  ASSERT_EQ(run("4 0 0 3 2 1 1\n" + kTail, c), "");
  EXPECT_EQ(c.IBLK.size(), 8);
  for (int32_t v : c.IBLK) EXPECT_EQ(v, 0);
  for (float v : c.ELSUP) EXPECT_EQ(v, 0.0f);
  expect_tail(c);

  COMPAR d;  // NDOFN = 0: each support record is K alone
  ASSERT_EQ(run("4 2 1 3 0 1 1\n2\n4 99\n3\n" + kTail, d), "");
  EXPECT_TRUE(d.IBLK.allocated());
  EXPECT_EQ(d.IBLK.size(), 0);
  EXPECT_EQ(d.ELSUP.size(), 0);
  expect_tail(d);

  COMPAR e;  // negative extents give empty arrays, even beside a huge one
  ASSERT_EQ(run("-5 0 0 3 2000000000 1 1\n" + kTail, e), "");
  EXPECT_EQ(e.IBLK.size(), 0);
  expect_tail(e);
}

TEST_F(RcomTest, SlashEndsAStepAndTheRestKeepsZero) {
  COMPAR c;
  ASSERT_EQ(run("2 0 0 / 5 5 5\n1 2 /\n/\n1 2.5 /\n/\n1 2 3 4 5.5 6.5 7\n" +
                    std::string("a\nb\nc\nd\ne\nf\nr\n"),
                c),
            "");
  EXPECT_EQ(c.NNODE, 2);
  EXPECT_EQ(c.NUMEL, 0);
  EXPECT_EQ(c.NBAND, 0);
  EXPECT_EQ(c.IC[1], 2);
  EXPECT_EQ(c.IC[2], 0);
  EXPECT_EQ(c.TABR[0][0], 0.0f);
  EXPECT_EQ(c.RA1, 2.5f);
  EXPECT_EQ(c.IA2, 0);
  EXPECT_EQ(c.NEQ, 0);
  EXPECT_EQ(c.ITER, 7);
  EXPECT_TRUE(c.romanian());
}

TEST_F(RcomTest, TextLinesAreCutOrPadded) {
  const std::string head = "1 0 0 1 1 1 1\n1 2 3 4 5\n" + std::string("1 2 3 4 5 6 7 8 9 10 ") +
                           "11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 "
                           "31 32 33 34 35\n1 1 1 1 1 1\n1\n1 1 1 1 1 1 1\n";
  std::string long_line(300, 'x');
  long_line[254] = 'y';
  struct Case {
    std::string lang;
    bool romanian;
  };
  const Case langs[] = {{"romana", true}, {"R", true},        {" R", false},
                        {"", false},      {"English", false}, {"Ra\r", true}};
  for (const auto& l : langs) {
    COMPAR c;
    ASSERT_EQ(
        run(head + long_line + "\n\nshort\n" + std::string(25, 'L') + "\n\nab\n" + l.lang + "\n",
            c),
        "")
        << l.lang;
    EXPECT_EQ(text_str(c.STR1), long_line.substr(0, 255));
    EXPECT_EQ(text_str(c.REPFIL), std::string(255, ' '));
    EXPECT_EQ(c.report_path(), "");
    EXPECT_EQ(text_str(c.STR3), padded<255>("short"));
    EXPECT_EQ(text_str(c.LABL[0]), std::string(20, 'L'));
    EXPECT_EQ(text_str(c.LABL[1]), std::string(20, ' '));
    EXPECT_EQ(text_str(c.LABL[2]), padded<20>("ab"));
    EXPECT_EQ(c.romanian(), l.romanian) << l.lang;
  }
  // The language line is the last line of the file and has no terminator.
  COMPAR c;
  ASSERT_EQ(run(head + "a\nb\nc\nd\ne\nf\nrom", c), "");
  EXPECT_EQ(text_str(c.LANG), padded<20>("rom"));
}

// Lines one short of, exactly and one past the field length, with CR LF ends: the CR of the
// terminator never lands in the field, a short line is padded with blanks.
TEST_F(RcomTest, TextLinesAtTheFieldLength) {
  const std::string head = "1 0 0 1 1 1 1\r\n1 2 3 4 5\r\n35*1\r\n1 1 1 1 1 1\r\n1\r\n7*1\r\n";
  for (size_t delta : {0, 1, 2}) {
    const std::string l255 = std::string(254, 'a') + std::string(delta, 'b');
    const std::string l20 = std::string(19, 'c') + std::string(delta, 'd');
    COMPAR c;
    ASSERT_EQ(run(head + l255 + "\r\n" + l255 + "\r\n" + l255 + "\r\n" + l20 + "\r\n" + l20 +
                      "\r\n" + l20 + "\r\n" + l20 + "\r\n",
                  c),
              "");
    const std::string f255 = (l255 + "  ").substr(0, 255);
    const std::string f20 = (l20 + "  ").substr(0, 20);
    EXPECT_EQ(text_str(c.STR1), f255) << delta;
    EXPECT_EQ(text_str(c.REPFIL), f255) << delta;
    EXPECT_EQ(text_str(c.STR3), f255) << delta;
    for (const auto& l : c.LABL) EXPECT_EQ(text_str(l), f20) << delta;
    EXPECT_EQ(text_str(c.LANG), f20) << delta;
  }
}

TEST_F(RcomTest, FatalReports) {
  const std::string supports = "3 1 2 1 2 1 1\n2 1 1\n";
  struct Case {
    std::string file;
    std::string want;  // the report, with @ standing for the file's path
  };
  const std::vector<Case> cases = {
      {"", "end-of-file during read, unit 2, file @ (the file is empty)"},
      {"3 1 0 1 2 1\n", "end-of-file during read, unit 2, file @ (the file ends after line 1)"},
      {supports + "1 2 2\n3 4 5\n" + kTail.substr(0, kTail.find("label3")),
       "end-of-file during read, unit 2, file @ (the file ends after line 14)"},
      {"3 1 x 1 2 1 1\n",
       "list-directed I/O syntax error, unit 2, file @ (line 1: \"x\", an integer was expected)"},
      {"3 1 1.5 1 2 1 1\n",
       "list-directed I/O syntax error, unit 2, file @ (line 1: \"1.5\", an integer was "
       "expected)"},
      {supports + "1 2 2\n3 4 5e50\n",
       "input conversion error, unit 2, file @ (line 4: \"5e50\", the value is beyond the single "
       "precision range)"},
      {"3 1 0 99999999999 2 1 1\n",
       "input conversion error, unit 2, file @ (line 1: \"99999999999\", the integer is beyond "
       "the 32-bit range)"},
      {"3 2 0 1 2 1 1\n1 0 0\n0 1 1\n",
       "@, unit 2, line 3: rigid support record 2 names node 0, outside 1..3"},
      {"3 1 0 1 2 1 1\n/\n",
       "@, unit 2, line 2: rigid support record 1 names node 0, outside 1..3"},
      {supports + "1 2 2\n\n12 4 5\n",
       "@, unit 2, line 5: elastic support record 2 names node 12, outside 1..3"},
      {supports + "-1 2 2\n",
       "@, unit 2, line 3: elastic support record 1 names node -1, outside 1..3"},
      {"65536 0 0 1 16384 1 1\n", "Cannot allocate array - overflow on array size calculation."},
      {"1073741824 0 0 1 1 1 1\n", "Cannot allocate array - overflow on array size calculation."},
      {"2147483647 0 0 1 2147483647 1 1\n",
       "Cannot allocate array - overflow on array size calculation."},
  };
  for (const auto& c : cases) {
    COMPAR p;
    std::string want = c.want;
    size_t at = want.find('@');
    if (at != std::string::npos) want.replace(at, 1, path_);
    EXPECT_EQ(run(c.file, p), want) << c.file;
  }
}

TEST_F(RcomTest, MissingFileIsNamedAsGiven) {
  fs::path old = fs::current_path();
  fs::current_path(dir_);
  COMPAR c;
  std::string got;
  try {
    RCOM(c, 2);
  } catch (const recio::FatalError& e) {
    got = e.what();
  }
  fs::current_path(old);
  EXPECT_EQ(got, "file not found, unit 2, file COMZOR.DAT");
}

TEST_F(RcomTest, RunningAgainReplacesTheArrays) {
  COMPAR c;
  ASSERT_EQ(run("2 1 0 1 1 1 1\n2 5\n" + kTail, c), "");
  EXPECT_EQ(c.iblk(2, 1), 5);
  ASSERT_EQ(run("3 0 0 1 2 1 1\n" + kTail, c), "");
  EXPECT_EQ(c.IBLK.size(), 6);
  for (int32_t v : c.IBLK) EXPECT_EQ(v, 0);
}

}  // namespace
}  // namespace drav
