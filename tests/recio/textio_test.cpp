#include "recio/textio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "recio/fatal.h"
#include "support/fatal_text.h"
#ifndef _WIN32
#include "support/file_size_limit.h"
#endif
#include "support/scratch.h"

namespace drav::recio {
namespace {

namespace fs = std::filesystem;

using drav::testing::fatal_text;
using drav::testing::TempDir;

TEST(FatalTest, MessageForm) {
  EXPECT_EQ(io_message(kOpenFailure, 3, "AA.UNF"), "open failure, unit 3, file AA.UNF");
  EXPECT_EQ(io_message(kReadError, 2, "x0.UNF", "record 4"),
            "error during read, unit 2, file x0.UNF (record 4)");
  EXPECT_EQ(fatal_text([] { io_fail(kEndOfFile, 11, "temp.dat"); }),
            "end-of-file during read, unit 11, file temp.dat");
  EXPECT_EQ(fatal_text([] { fail(kSizeOverflow); }),
            "Cannot allocate array - overflow on array size calculation.");
  // Our own checks on a file: the file, its unit, the line or record, then the value.
  EXPECT_EQ(file_place("nei.UNF", 2), "nei.UNF, unit 2");
  EXPECT_EQ(file_place("COMZOR.DAT", 2, "line 4"), "COMZOR.DAT, unit 2, line 4");
  EXPECT_EQ(fatal_text([] { fail_at("el.unf", 2, "record 3", "IND is 7"); }),
            "el.unf, unit 2, record 3: IND is 7");
  EXPECT_EQ(fatal_text([] { fail_at("nei.UNF", 2, {}, "node 1, slot 2 names element 9"); }),
            "nei.UNF, unit 2: node 1, slot 2 names element 9");
}

TEST(TextFileInTest, LineEnds) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"\n", {""}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},  // last line without terminator
      {"a\nb\r", {"a", "b"}},          // CR at the very end of the file
      {"a\r\r\n", {"a\r"}},            // only the CR before LF belongs to the terminator
      {"  x y  \n", {"  x y  "}},
      {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
  };
  TempDir t;
  for (const auto& c : cases) {
    std::string p = t.write("in.txt", c.bytes);
    TextFileIn in(2, p);
    std::vector<std::string> got;
    std::string line;
    while (in.next_line(line)) got.push_back(line);
    EXPECT_EQ(got, c.lines) << "input: " << c.bytes;
    EXPECT_EQ(in.line_number(), static_cast<int64_t>(c.lines.size()));
  }
}

TEST(TextFileInTest, VeryLongLine) {
  TempDir t;
  std::string big(3'000'000, 'q');
  std::string p = t.write("long.txt", big + "\r\nend");
  TextFileIn in(2, p);
  std::string line;
  ASSERT_TRUE(in.next_line(line));
  EXPECT_EQ(line.size(), big.size());
  ASSERT_TRUE(in.next_line(line));
  EXPECT_EQ(line, "end");
  EXPECT_FALSE(in.next_line(line));
}

TEST(TextFileInTest, ReadAPadsCutsAndReportsEnd) {
  TempDir t;
  std::string p = t.write("a.txt", "abc\r\n0123456789XYZ\n\n");
  TextFileIn in(2, p);
  char f[10];
  in.read_A(f, 10);
  EXPECT_EQ(std::string(f, 10), "abc       ");
  in.read_A(f, 10);
  EXPECT_EQ(std::string(f, 10), "0123456789");
  in.read_A(f, 10);
  EXPECT_EQ(std::string(f, 10), std::string(10, ' '));
  EXPECT_EQ(fatal_text([&] { in.read_A(f, 10); }),
            "end-of-file during read, unit 2, file " + p + " (the file ends after line 3)");
}

TEST(TextFileInTest, OpenFailures) {
  TempDir t;
  EXPECT_EQ(fatal_text([&] { TextFileIn in(11, t.file("temp.dat")); }),
            "file not found, unit 11, file " + t.file("temp.dat"));
  std::string dir = t.file("sub");
  fs::create_directory(dir);
  EXPECT_EQ(
      fatal_text([&] { TextFileIn in(11, dir); }).rfind("open failure, unit 11, file " + dir, 0),
      0u);
}

TEST(TextFileOutTest, SequentialKeepsContentUntilFirstWrite) {
  TempDir t;
  std::string p = t.write("r.dat", "old 1\r\nold 2\r\n");
  {
    TextFileOut out(7, p);
    out.close();
  }
  EXPECT_EQ(t.read("r.dat"), "old 1\r\nold 2\r\n");
  {
    TextFileOut out(7, p);
    out.put("new");
    out.put("");
    out.close();
  }
  EXPECT_EQ(t.read("r.dat"), "new\r\n\r\n");
  {
    TextFileOut out(7, t.file("created.dat"));  // status unknown creates
  }
  EXPECT_TRUE(file_exists(t.file("created.dat")));
  EXPECT_EQ(t.read("created.dat"), "");
}

// The old content goes when the first bytes reach the file, whatever their way there and
// whatever the old length: nothing of it may stay behind the new text.
TEST(TextFileOutTest, FirstWriteReplacesOldContentOfAnyLength) {
  const std::string big(300000, 'b');  // more than the file buffer
  const std::string_view halves[] = {std::string_view(big).substr(0, 1000),
                                     std::string_view(big).substr(1000)};
  struct Way {
    const char* name;
    std::function<void(TextFileOut&)> write;
    std::string text;
    bool close = true;
  };
  const std::vector<Way> ways = {
      {"one record", [](TextFileOut& o) { o.put("new"); }, "new\r\n"},
      {"a large block", [&](TextFileOut& o) { o.put_lines(big); }, big},
      {"large pieces", [&](TextFileOut& o) { o.put_pieces(halves, 2); }, big},
      {"records, then a block", [&](TextFileOut& o) { o.put("x"), o.put_lines(big); },
       "x\r\n" + big},
      {"no close (a fatal report)", [](TextFileOut& o) { o.put("new"); }, "new\r\n", false},
  };
  TempDir t;
  for (const std::string& old : {std::string(), std::string("o"), std::string(400000, 'o')}) {
    for (const Way& w : ways) {
      SCOPED_TRACE(std::string(w.name) + ", old length " + std::to_string(old.size()));
      const std::string p = t.write("r.dat", old);
      {
        TextFileOut out(7, p);
        w.write(out);
        if (w.close) out.close();
      }
      EXPECT_EQ(t.read("r.dat"), w.text);
    }
  }
}

#ifndef _WIN32
// A first write that fails part of the way (here at a file-size limit of 64 KB) leaves neither
// old bytes behind the new ones nor the new ones: the file is cut to nothing, as it was before
// the first write when the file was cut first. Written after, the old file stays whole.
TEST(TextFileOutTest, AFailedFirstWriteLeavesNoOldBytes) {
  TempDir t;
  const std::string block(300000, 'b');
  for (const bool append : {false, true}) {
    const std::string p = t.write("r.dat", std::string(100000, 'o'));
    std::string rep;
    {
      const drav::testing::FileSizeLimit limit(64 * 1024);
      ASSERT_TRUE(limit.set());
      rep = fatal_text([&] {
        TextFileOut out(7, p,
                        append ? TextFileOut::Access::Append : TextFileOut::Access::Sequential);
        out.put_lines(block);
        out.close();
      });
    }
    EXPECT_EQ(rep.rfind("error during write, unit 7", 0), 0u) << rep;
    EXPECT_EQ(t.read("r.dat"), append ? std::string(100000, 'o') : "") << append;
  }
}
#endif

TEST(TextFileOutTest, AppendAddsAfterExistingLinesAndCreates) {
  TempDir t;
  std::string p = t.write("rep.txt", "line 1\r\n");
  {
    TextFileOut out(1, p, TextFileOut::Access::Append);
    out.put("line 2");
    out.close();
  }
  {
    TextFileOut out(1, p, TextFileOut::Access::Append);
    out.put(" line 3 ");
    out.close();
  }
  EXPECT_EQ(t.read("rep.txt"), "line 1\r\nline 2\r\n line 3 \r\n");
  std::string q = t.file("new.txt");
  {
    TextFileOut out(1, q, TextFileOut::Access::Append);
    out.put("first");
    out.close();
  }
  EXPECT_EQ(t.read("new.txt"), "first\r\n");
}

// An existing last line without its terminator stays a line of its own: the first record
// appended does not run on into it.
TEST(TextFileOutTest, AppendEndsAnUnterminatedLastLineFirst) {
  struct Case {
    std::string before, after;
  };
  const Case cases[] = {
      {"old", "old\r\nnew\r\n"},   {"a\r\nold", "a\r\nold\r\nnew\r\n"},
      {"old\r", "old\r\nnew\r\n"},  // the CR of a cut-off CR LF is completed
      {"old\n", "old\nnew\r\n"},   {"", "new\r\n"},
  };
  TempDir t;
  for (const Case& c : cases) {
    std::string p = t.write("rep.txt", c.before);
    {
      TextFileOut out(1, p, TextFileOut::Access::Append);
      out.put("new");
      out.close();
    }
    EXPECT_EQ(t.read("rep.txt"), c.after) << c.before;
  }
  // Opened and closed without a record: the file is left as it was.
  std::string p = t.write("rep.txt", "old");
  {
    TextFileOut out(1, p, TextFileOut::Access::Append);
    out.close();
  }
  EXPECT_EQ(t.read("rep.txt"), "old");
}

TEST(TextFileOutTest, Failures) {
  TempDir t;
  std::string missing = t.file("missing.dat");
  EXPECT_EQ(fatal_text([&] {
              TextFileOut out(3, missing, TextFileOut::Access::Sequential, OpenStatus::Old);
            }),
            "file not found, unit 3, file " + missing);
  EXPECT_FALSE(file_exists(missing));
  std::string nodir = t.file("no/such/dir.dat");
  EXPECT_EQ(fatal_text([&] {
              TextFileOut out(7, nodir);
            }).rfind("open failure, unit 7, file " + nodir, 0),
            0u);
  if (file_exists("/dev/full")) {
    // The buffered write only fails when it reaches the device, at close.
    EXPECT_EQ(fatal_text([&] {
                TextFileOut out(15, "/dev/full");
                out.put("x");
                out.close();
              }).rfind("error during write, unit 15, file /dev/full", 0),
              0u);
  }
}

// Records handed over in laid-out blocks give the same bytes as the same records put one by
// one, whatever the sizes of the blocks and whatever was put before them: on a file (after an
// old content and an unterminated last line), in memory and on the console.
TEST(SinkTest, BlocksOfLinesAreTheSameAsTheirLines) {
  std::vector<std::string> lines;
  for (int i = 0; i < 9000; ++i)
    lines.push_back(std::string(static_cast<size_t>(i % 97), 'a' + i % 26));
  std::string one_block;
  for (const auto& l : lines) one_block += l + "\r\n";
  auto by_lines = [&](TextSink& out) {
    out.put("head");
    for (const auto& l : lines) out.put(l);
    out.put("tail");
  };
  // Blocks of growing size, from one line to more than the file buffer.
  auto by_blocks = [&](TextSink& out) {
    out.put("head");
    size_t at = 0, size = 1;
    while (at < one_block.size()) {
      const size_t end = one_block.find("\r\n", std::min(one_block.size(), at + size * 50));
      const size_t stop = end == std::string::npos ? one_block.size() : end + 2;
      out.put_lines(std::string_view(one_block).substr(at, stop - at));
      at = stop;
      size *= 2;
    }
    out.put_lines("");
    out.put("tail");
  };
  // The same blocks as lists of pieces: more pieces than one call to the system takes, empty
  // ones, and pieces larger than the file buffer, in calls large and small.
  auto by_pieces = [&](TextSink& out) {
    out.put("head");
    std::vector<std::string_view> pieces;
    size_t at = 0, call = 0;
    for (size_t k = 0; at < one_block.size(); ++k) {
      const size_t want = k % 7 == 0 ? 0 : k < 3000 ? 1 : 40000;
      const size_t end = one_block.find("\r\n", std::min(one_block.size() - 1, at + want));
      const size_t stop = want == 0 ? at : end == std::string::npos ? one_block.size() : end + 2;
      pieces.push_back(std::string_view(one_block).substr(at, stop - at));
      at = stop;
      if (pieces.size() == (call % 2 == 0 ? 2500 : 3) || at == one_block.size()) {
        out.put_pieces(pieces.data(), pieces.size());
        pieces.clear();
        ++call;
      }
    }
    out.put_pieces(pieces.data(), 0);
    out.put("tail");
  };
  TempDir t;
  for (auto access : {TextFileOut::Access::Sequential, TextFileOut::Access::Append}) {
    const std::string a = t.write("a.txt", "old"), b = t.file("b.txt");
    {
      TextFileOut out(15, a, access);
      by_lines(out);
      out.close();
    }
    for (const std::function<void(TextSink&)>& way :
         {std::function<void(TextSink&)>(by_blocks), std::function<void(TextSink&)>(by_pieces)}) {
      t.write("b.txt", "old");
      {
        TextFileOut out(15, b, access);
        way(out);
        out.close();
      }
      EXPECT_EQ(t.read("b.txt"), t.read("a.txt"));
    }
    EXPECT_GT(t.read("b.txt").size(), size_t{1} << 17);
  }
  StringSink sa, sb, sc;
  by_lines(sa);
  by_blocks(sb);
  by_pieces(sc);
  EXPECT_EQ(sb.text(), sa.text());
  EXPECT_EQ(sc.text(), sa.text());
  // The console has no block write of its own: it puts the lines of the block.
  ::testing::internal::CaptureStdout();
  ConsoleSink c;
  c.put_lines("one\r\n\r\ntwo\r\n");
  const std::string_view two[] = {"three\r\n", "", "four\r\n"};
  c.put_pieces(two, 3);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "one\r\n\r\ntwo\r\nthree\r\nfour\r\n");
}

TEST(SinkTest, RecordsEndInCrLf) {
  StringSink s;
  s.put("a b ");
  s.put("");
  EXPECT_EQ(s.text(), "a b \r\n\r\n");
  ::testing::internal::CaptureStdout();
  ConsoleSink c;
  c.put(" DRAV");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), " DRAV\r\n");
}

}  // namespace
}  // namespace drav::recio
