#include "recio/binrec.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "recio/os_file.h"
#ifndef _WIN32
#include "support/file_size_limit.h"
#endif
#include "support/scratch.h"

namespace drav::recio {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// The fatal report of a call, or "" when it returned.
std::string report(const std::function<void()>& f) {
  try {
    f();
  } catch (const FatalError& e) {
    return e.what();
  }
  return "";
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

void le32(Bytes& b, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(u >> (8 * i)));
}

// One hand-made frame: leading word, data, trailing word.
void frame(Bytes& b, int32_t lead, const Bytes& data, int32_t trail) {
  le32(b, lead);
  b.insert(b.end(), data.begin(), data.end());
  le32(b, trail);
}

Bytes seq_bytes(size_t n, unsigned char first) {
  Bytes d(n);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(first + i);
  return d;
}

class BinRec : public ::testing::Test {
 protected:
  std::string file(const std::string& name) const { return (dir_ / name).string(); }
  void put(const std::string& path, const Bytes& b) const {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  static Bytes get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  const drav::testing::TempDir tmp_{"drav-binrec"};
  const fs::path dir_ = tmp_.path();
};

TEST_F(BinRec, SequentialFramingByteForByte) {
  const std::string p = file("frames.UNF");
  {
    SeqWriter w(3, p, OpenStatus::Unknown);
    const int32_t ints[] = {1, 2};
    w.write(ints, sizeof ints);
    w.write(nullptr, 0);
    const double d[] = {1.0, -2.5, 1e300};
    write_array(w, d, 3);
    w.close();
  }
  Bytes want = {8, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Bytes dbl(24);
  const double d[] = {1.0, -2.5, 1e300};
  std::memcpy(dbl.data(), d, 24);
  frame(want, 24, dbl, 24);
  EXPECT_EQ(get(p), want);
  EXPECT_EQ(want.size(), 16u + 8u + 32u);
}

TEST_F(BinRec, WriterSplitsLongRecordsIntoMarkedSubrecords) {
  const std::string p = file("split.UNF");
  const Bytes data = seq_bytes(10, 1);
  {
    SeqWriter w(3, p, OpenStatus::Unknown);
    w.set_subrecord_limit(4);
    w.write(data.data(), data.size());
    w.write(data.data(), 4);  // exactly one frame: no marks
    w.close();
  }
  Bytes want;
  frame(want, -4, Bytes(data.begin(), data.begin() + 4), 4);
  frame(want, -4, Bytes(data.begin() + 4, data.begin() + 8), -4);
  frame(want, 2, Bytes(data.begin() + 8, data.end()), -2);
  frame(want, 4, Bytes(data.begin(), data.begin() + 4), 4);
  EXPECT_EQ(get(p), want);

  SeqReader r(2, p);
  Bytes got(10);
  r.read(got.data(), got.size());
  EXPECT_EQ(got, data);
  EXPECT_EQ(r.record_length(), 4);
  EXPECT_TRUE(r.at_end());
}

// Random records written with random split points read back identically, from any prefix
// length: the writer and the reader agree on every chain shape.
TEST_F(BinRec, RoundTripOfRandomChains) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 200; ++trial) {
    const std::string p = file("rt.UNF");
    std::vector<Bytes> recs(1 + rng() % 6);
    for (auto& rec : recs) {
      rec.resize(rng() % 40);
      for (auto& c : rec) c = static_cast<unsigned char>(rng());
    }
    {
      SeqWriter w(3, p, OpenStatus::Unknown);
      w.set_subrecord_limit(static_cast<int32_t>(1 + rng() % 12));
      for (const auto& rec : recs) w.write(rec.data(), rec.size());
      w.close();
    }
    SeqReader r(2, p);
    for (const auto& rec : recs) {
      const size_t take = rec.empty() ? 0 : rng() % (rec.size() + 1);
      Bytes got(take + 1, 0xEE);
      r.read(got.data(), take);
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + take, rec.begin())) << trial;
      EXPECT_EQ(got[take], 0xEE) << "wrote past the requested bytes";
    }
    EXPECT_TRUE(r.at_end());
  }
}

TEST_F(BinRec, ReadTakesOneRecordAndReportsShortRecordsAndEnd) {
  const std::string p = file("nei.UNF");
  {
    SeqWriter w(3, p, OpenStatus::Unknown);
    std::vector<int32_t> ten(10);
    for (int i = 0; i < 10; ++i) ten[i] = 100 + i;
    write_array(w, ten.data(), 10);
    const int32_t four[] = {7, 8, 9, 10};
    write_array(w, four, 4);
    write_array(w, four, 4);
    w.close();
  }
  SeqReader r(2, p);
  int32_t one = 0;
  read_array(r, &one, 1);
  EXPECT_EQ(one, 100);
  int32_t five[5] = {};
  EXPECT_EQ(report([&] { read_array(r, five, 5); }),
            "input statement requires too much data, unit 2, file " + p +
                " (record 2 holds 16 bytes, 20 requested)");
  r.read(nullptr, 0);  // skips record 2
  EXPECT_EQ(r.record_length(), 16);
  EXPECT_TRUE(r.at_end());
  EXPECT_TRUE(
      starts_with(report([&] { r.read(&one, 4); }), "end-of-file during read, unit 2, file " + p));
  EXPECT_TRUE(starts_with(report([&] { r.read(nullptr, 0); }), "end-of-file during read"));
}

TEST_F(BinRec, HandMadeChainsReadAsOneRecord) {
  // Three subrecords (3, 0 and 2 bytes; the empty middle one cannot show its marks), then a
  // plain record.
  Bytes b;
  frame(b, -3, {1, 2, 3}, 3);
  frame(b, 0, {}, 0);  // a zero length ends the chain: the record is 1, 2, 3
  frame(b, -2, {4, 5}, 2);
  frame(b, 1, {6}, -1);
  frame(b, 2, {9, 9}, 2);
  const std::string p = file("chain.UNF");
  put(p, b);
  SeqReader r(2, p);
  EXPECT_EQ(r.record_length(), 3);
  unsigned char got[3] = {};
  r.read(got, 3);
  EXPECT_EQ(Bytes(got, got + 3), (Bytes{4, 5, 6}));
  r.read(got, 2);
  EXPECT_EQ(got[0], 9);
  EXPECT_TRUE(r.at_end());
}

TEST_F(BinRec, DamagedFramesAreReadErrors) {
  struct Case {
    const char* what;
    Bytes bytes;
    const char* detail;  // part of the report
  };
  auto make = [](std::function<void(Bytes&)> f) {
    Bytes b;
    frame(b, 4, {1, 2, 3, 4}, 4);  // a sound first record
    f(b);
    return b;
  };
  const std::vector<Case> cases = {
      {"twin mismatch", make([](Bytes& b) {
         frame(b, 4, {1, 2, 3, 4}, 5);
       }),
       "record 2 at byte 20: trailing length 5 does not match leading length 4"},
      {"length past the end", make([](Bytes& b) {
         frame(b, 100, {1, 2}, 100);
       }),
       "record 2 at byte 12: length 100 runs past the end"},
      {"huge length in a tiny file", make([](Bytes& b) { frame(b, 0x7FFFFFF0, {1}, 0x7FFFFFF0); }),
       "length 2147483632"},
      {"most negative length", make([](Bytes& b) { frame(b, INT32_MIN, {}, INT32_MIN); }),
       "runs past the end"},
      {"continuation announced, file ends", make([](Bytes& b) {
         frame(b, -2, {1, 2}, 2);
       }),
       "record 2 at byte 22: continuation subrecord missing"},
      {"continuation without its mark", make([](Bytes& b) {
         frame(b, -2, {1, 2}, 2);
         frame(b, 2, {1, 2}, 2);
       }),
       "lacks the continuation mark"},
      {"continuation mark on a first subrecord", make([](Bytes& b) {
         frame(b, 2, {1, 2}, -2);
       }),
       "no subrecord precedes it"},
      {"truncated trailer", make([](Bytes& b) {
         le32(b, 2);
         b.insert(b.end(), {1, 2, 2, 0});
       }),
       "runs past the end"},
      {"one stray byte", make([](Bytes& b) { b.push_back(0); }),
       "record 2 at byte 12: 1 stray bytes after the last record"},
      {"three stray bytes", make([](Bytes& b) {
         b.insert(b.end(), {1, 0, 0});
       }),
       "3 stray bytes"},
  };
  for (const auto& c : cases) {
    const std::string p = file("bad.UNF");
    put(p, c.bytes);
    SeqReader r(2, p);
    unsigned char buf[4];
    r.read(buf, 4);
    const std::string rep = report([&] { r.read(buf, 1); });
    EXPECT_TRUE(starts_with(rep, "error during read, unit 2, file " + p + " (")) << c.what << rep;
    EXPECT_NE(rep.find(c.detail), std::string::npos) << c.what << ": " << rep;
    // Skipping or measuring the record finds the same fault.
    SeqReader r2(2, p);
    r2.read(nullptr, 0);
    EXPECT_EQ(report([&] { r2.record_length(); }), rep) << c.what;
  }
}

// Garbage never crashes the reader or makes it write past the caller's buffer; every failure
// is one of the reports a read may give.
TEST_F(BinRec, RandomBytesNeverCrash) {
  std::mt19937 rng(777);
  const std::string p = file("garbage.UNF");
  int failures = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes b(rng() % 48);
    for (auto& c : b) c = static_cast<unsigned char>(rng() % 4 == 0 ? rng() : rng() % 12);
    put(p, b);
    SeqReader r(2, p);
    unsigned char buf[17];
    const std::string rep = report([&] {
      while (!r.at_end()) {
        const size_t n = rng() % 16;
        buf[n] = 0xA5;
        r.read(buf, n);
        ASSERT_EQ(buf[n], 0xA5);
      }
    });
    if (rep.empty()) continue;
    ++failures;
    EXPECT_TRUE(starts_with(rep, "error during read") ||
                starts_with(rep, "input statement requires too much data"))
        << rep;
  }
  EXPECT_GT(failures, 1000);
}

TEST_F(BinRec, OpenReports) {
  const std::string missing = file("x0.UNF");
  EXPECT_EQ(report([&] { SeqReader r(2, missing); }), "file not found, unit 2, file " + missing);
  EXPECT_EQ(report([&] { DirectReader r(2, missing, 10); }),
            "file not found, unit 2, file " + missing);
  EXPECT_EQ(report([&] { SeqWriter w(3, missing, OpenStatus::Old); }),
            "file not found, unit 3, file " + missing);
  EXPECT_FALSE(fs::exists(missing));
  const std::string d = dir_.string();
  EXPECT_TRUE(starts_with(report([&] { SeqReader r(2, d); }), "open failure, unit 2, file " + d));
  EXPECT_TRUE(starts_with(report([&] { SeqWriter w(3, d, OpenStatus::Unknown); }),
                          "open failure, unit 3, file " + d));
}

TEST_F(BinRec, WriterReplacesContentOnlyAtTheFirstRecord) {
  const std::string p = file("AA.UNF");
  const Bytes old = {'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'};
  put(p, old);
  SeqWriter(3, p, OpenStatus::Old).close();
  { SeqWriter w(3, p, OpenStatus::Unknown); }  // closed by the destructor
  EXPECT_EQ(get(p), old);

  {
    SeqWriter w(3, p, OpenStatus::Old);
    EXPECT_EQ(get(p), old) << "opening changed the file";
    const int32_t v = 5;
    w.write(&v, 4);
  }  // the destructor flushes what close() would
  EXPECT_EQ(get(p), (Bytes{4, 0, 0, 0, 5, 0, 0, 0, 4, 0, 0, 0}));

  const std::string fresh = file("AA0.UNF");
  SeqWriter(3, fresh, OpenStatus::Unknown).close();
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_EQ(fs::file_size(fresh), 0u);
}

TEST_F(BinRec, WriterBuffersLargeRecordsAcrossTheBuffer) {
  // Rows larger and smaller than the output buffer, interleaved.
  const std::string p = file("big.UNF");
  std::vector<double> big(300000), small(3);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<double>(i) * 0.5;
  small = {1, 2, 3};
  {
    SeqWriter w(3, p, OpenStatus::Unknown);
    for (int k = 0; k < 3; ++k) {
      write_array(w, small.data(), 3);
      write_array(w, big.data(), static_cast<int64_t>(big.size()));
    }
    w.close();
  }
  EXPECT_EQ(fs::file_size(p), 3 * (32 + (8 * big.size() + 8)));
  SeqReader r(2, p);
  std::vector<double> got(big.size());
  for (int k = 0; k < 3; ++k) {
    read_array(r, got.data(), 3);
    EXPECT_EQ(got[2], 3.0);
    read_array(r, got.data(), static_cast<int64_t>(got.size()));
    EXPECT_EQ(got, big);
  }
}

TEST_F(BinRec, WriteFailureIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  SeqWriter w(3, "/dev/full", OpenStatus::Old);
  const int32_t v = 1;
  w.write(&v, 4);
  const std::string rep = report([&] { w.close(); });
  EXPECT_TRUE(starts_with(rep, "error during write, unit 3, file /dev/full")) << rep;
}

TEST_F(BinRec, ArrayHelpersCheckTheByteSize) {
  const std::string p = file("a.UNF");
  {
    SeqWriter w(3, p, OpenStatus::Unknown);
    const int32_t v[2] = {1, 2};
    write_array(w, v, -3);  // a negative extent counts as 0: an empty record
    write_array(w, v, 2);
    EXPECT_TRUE(starts_with(report([&] { write_array(w, v, INT64_MAX / 2); }),
                            "error during write, unit 3"));
    w.close();
  }
  SeqReader r(2, p);
  EXPECT_EQ(r.record_length(), 0);
  double d = 0;
  EXPECT_TRUE(starts_with(report([&] { read_array(r, &d, INT64_MAX / 4); }),
                          "input statement requires too much data, unit 2"));
  EXPECT_TRUE(starts_with(report([&] { read_array(r, &d, INT64_MAX); }),
                          "input statement requires too much data, unit 2"));
}

TEST_F(BinRec, DirectRecordsAreFixedLengthWithZeroFill) {
  const std::string p = file("el.unf");
  {
    DirectWriter w(2, p, 10);
    const int32_t a[] = {1, 2, 3};
    w.write(3, a, sizeof a);
    w.write(1, a, 4);
    w.write(2, nullptr, 0);
    EXPECT_TRUE(starts_with(report([&] { w.write(1, a, 41); }), "error during write, unit 2"));
    w.close();
  }
  const Bytes b = get(p);
  ASSERT_EQ(b.size(), 120u);
  Bytes want(120, 0);
  want[0] = 1;
  want[80] = 1, want[84] = 2, want[88] = 3;
  EXPECT_EQ(b, want);

  DirectReader r(2, p, 10);
  EXPECT_EQ(r.record_count(), 3);
  EXPECT_EQ(r.record_bytes(), 40);
  int32_t got[10] = {};
  r.read(3, got, 40);
  EXPECT_EQ(got[0], 1);
  EXPECT_EQ(got[2], 3);
  EXPECT_EQ(got[9], 0);
  r.read(1, got, 8);
  EXPECT_EQ(got[0], 1);
  EXPECT_EQ(got[1], 0);

  struct Case {
    int64_t recno;
    size_t nbytes;
    std::string report;
  };
  const std::string tail = ", unit 2, file " + p;
  const std::vector<Case> cases = {
      {4, 4, "attempt to access non-existent record" + tail},
      {0, 4, "attempt to access non-existent record" + tail},
      {-1, 4, "attempt to access non-existent record" + tail},
      {INT64_MAX, 4, "attempt to access non-existent record" + tail},
      {INT64_MAX / 40 + 2, 4, "attempt to access non-existent record" + tail},
      {1, 41, "input statement requires too much data" + tail},
  };
  for (const auto& c : cases) {
    const std::string rep = report([&] { r.read(c.recno, got, c.nbytes); });
    EXPECT_TRUE(starts_with(rep, c.report)) << c.recno << ": " << rep;
  }
}

TEST_F(BinRec, DirectCutShortLastRecordAndBadRecordLength) {
  const std::string p = file("el.unf");
  put(p, Bytes(100, 7));  // records of 40 bytes: the third holds only 20
  DirectReader r(2, p, 10);
  EXPECT_EQ(r.record_count(), 2);
  unsigned char buf[40];
  r.read(3, buf, 20);
  EXPECT_EQ(buf[19], 7);
  EXPECT_TRUE(starts_with(report([&] { r.read(3, buf, 21); }),
                          "end-of-file during read, unit 2, file " + p));
  for (int32_t recl : {0, -5}) {
    EXPECT_TRUE(starts_with(report([&] { DirectReader d(2, p, recl); }),
                            "open failure, unit 2, file " + p));
    EXPECT_TRUE(starts_with(report([&] { DirectWriter d(2, file("w.unf"), recl); }),
                            "open failure, unit 2"));
  }
}

// A row of n doubles, +0.0 but for the entries given.
Bytes row(size_t n, std::initializer_list<std::pair<size_t, double>> set = {}) {
  std::vector<double> v(n, 0.0);
  for (const auto& [i, x] : set) v[i] = x;
  Bytes b(n * sizeof(double));
  std::memcpy(b.data(), v.data(), b.size());
  return b;
}

// Records written with zero pages as holes read as those written densely: at every edge of a
// page and a record, whether the file is new or one cut to nothing where it is (a link, a
// file of another user, a directory that takes no new file), through whose holes no old
// byte may show.
TEST_F(BinRec, ZeroPagesLeftAsHolesReadAsTheBytesOfADenseWrite) {
  const size_t P = SeqWriter::kHolePage;
  Bytes edges(4 * P);  // after the leading length word: the last byte of page 2, the first of 3
  edges[2 * P - 5] = edges[2 * P - 4] = 1;
  struct Case {
    std::string name;
    std::vector<Bytes> recs;
    int32_t limit = SeqWriter::kMaxSubrecord;  // subrecord split
  };
  std::vector<Case> cases = {
      {"a lone byte at each edge of a page", {edges}},
      {"zeros at the start, middle and end of rows",
       {row(3000, {{2990, 1.0}}), row(3000, {{0, 1.0}, {2999, 2.0}}), row(3000, {{5, 3.0}})}},
      {"runs shorter than a page", {row(3000, {{400, 1}, {800, 2}, {1200, 3}, {1600, 4}})}},
      {"-0.0 inside a zero run", {row(3000, {{1500, -0.0}})}},
      {"rows shorter than a page", std::vector<Bytes>(50, row(10))},
      {"a record, then its data, ending on a page edge",
       {Bytes(P - 8), Bytes(P - 4), Bytes(3 * P)}},
      {"empty records between zero rows", {row(2000), Bytes(), Bytes(), row(2000)}},
      {"records spanning pages in subrecords", {Bytes(5 * P), row(3000, {{1000, 1.0}})}, 5000},
      {"rows longer than the write buffer", {row(300000, {{7, 1.0}, {150000, 2.0}}), row(300000)}},
  };
  std::mt19937 rng(7);
  for (int k = 0; k < 20; ++k) {  // zero runs, rows and splits of any length
    Case c{"random " + std::to_string(k), {}, static_cast<int32_t>(1 + rng() % 20000)};
    for (Bytes& b : c.recs = std::vector<Bytes>(4, Bytes())) {
      b.resize(rng() % 30000);
      for (size_t at = rng() % 9000; at < b.size(); at += rng() % 9000) b[at] = 1 + rng() % 255;
    }
    cases.push_back(c);
  }
  const std::string real = file("real.UNF"), link = file("AA.UNF");
  const std::vector<std::pair<const char*, std::function<bool()>>> places = {
      {"new", [] { return true; }},
      {"symbolic link",
       [&] {
         std::error_code no;
         fs::create_symlink(real, link, no);
         return !no;
       }},
      {"hard link", [&] { return fs::create_hard_link(real, link), true; }},
      {"no room",
       [&] { return fs::copy_file(real, link), fs::create_directory(scratch_path(link)); }},
  };
  for (const auto& c : cases) {
    for (const auto& [where, make] : places) {
      for (const std::string& p : {real, link, scratch_path(link)}) fs::remove_all(p);
      put(real, Bytes(200000, 0xFF));
      if (!make()) continue;  // Windows may refuse symbolic links to a user without the right
      for (const ZeroPages zeros : {ZeroPages::Write, ZeroPages::Holes}) {
        SeqWriter w(3, zeros == ZeroPages::Write ? file("dense.UNF") : link, OpenStatus::Unknown,
                    Replace::Whole, zeros);
        w.set_subrecord_limit(c.limit);
        for (const auto& rec : c.recs) {
          w.write(rec.data(), rec.size());
          if (&rec == &c.recs[c.recs.size() / 2]) w.settle();  // stored halfway: changes nothing
        }
        w.close();
      }
      EXPECT_EQ(get(link), get(file("dense.UNF"))) << c.name << ", " << where;
    }
  }
}

// Equal records written in stretches side by side, each by a thread of its own, read as the
// same records written one after the other: stretches that start and end inside a page, rows
// with zero pages, -0.0, records of no bytes, and rows given whole, in the room, or only from
// their first to their last value that is not zero bytes (or none at all), the room around
// that holding leftovers. One part writes them one by one.
TEST_F(BinRec, RecordsInStretchesReadAsTheRecordsOneAfterTheOther) {
  const size_t P = SeqWriter::kHolePage;
  struct Case {
    size_t doubles;
    int64_t count;
  };
  const Case cases[] = {{0, 5}, {1, 40}, {3000, 7}, {P / 8, 9}, {5000, 31}, {70000, 6}};
  std::mt19937 rng(11);
  for (const Case& c : cases) {
    std::vector<std::vector<double>> rows(static_cast<size_t>(c.count));
    for (auto& r : rows) {
      r.assign(c.doubles, 0.0);
      if (rng() % 5 == 0) continue;
      for (size_t at = rng() % 9000; at < r.size(); at += 1 + rng() % 9000)
        r[at] = rng() % 3 == 0 ? -0.0 : 1.0 + rng() % 7;
    }
    const size_t bytes = c.doubles * sizeof(double);
    auto source = [&](int64_t i, void* room) {
      const std::vector<double>& r = rows[static_cast<size_t>(i)];
      if (i % 3 == 0) return SeqWriter::RecordBytes{r.data(), 0, bytes};
      auto* to = static_cast<double*>(room);
      std::fill(to, to + r.size(), 1e300);  // what an earlier row left
      size_t begin = 0, end = r.size();
      if (i % 3 == 2) {
        const auto zero = [](double v) { return v == 0.0 && !std::signbit(v); };
        while (begin < end && zero(r[begin])) ++begin;
        while (end > begin && zero(r[end - 1])) --end;
        if (begin == end) begin = end = r.size() / 2;  // any empty range will do
      }
      std::copy(r.begin() + begin, r.begin() + end, to + begin);
      return SeqWriter::RecordBytes{room, begin * sizeof(double), end * sizeof(double)};
    };
    {
      SeqWriter w(3, file("one.UNF"), OpenStatus::Unknown, Replace::Whole, ZeroPages::Holes);
      for (const auto& r : rows) w.write(r.data(), bytes);
      w.close();
    }
    const Bytes one = get(file("one.UNF"));
    for (int parts : {1, 2, 3, 5}) {
      for (const ZeroPages zeros : {ZeroPages::Holes, ZeroPages::Write}) {
        SeqWriter w(3, file("parts.UNF"), OpenStatus::Unknown, Replace::Whole, zeros);
        const int32_t lead = 7;
        w.write(&lead, sizeof lead);  // the stretches start after a record of another length
        w.write_records(c.count, bytes, parts, source);
        if (parts % 2 == 1) w.settle();
        w.write(&lead, sizeof lead);
        w.close();
        Bytes want;
        le32(want, 4);
        want.insert(want.end(), {7, 0, 0, 0});
        le32(want, 4);
        want.insert(want.end(), one.begin(), one.end());
        le32(want, 4);
        want.insert(want.end(), {7, 0, 0, 0});
        le32(want, 4);
        ASSERT_EQ(get(file("parts.UNF")), want) << c.doubles << " x " << c.count << ", " << parts;
      }
    }
  }
}

#ifndef _WIN32
int64_t disk_bytes(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? int64_t{st.st_blocks} * 512 : -1;
}

// A banded matrix of rows of 64 KB: its zero pages take no room where the file system keeps
// holes of a page and the file takes them, which a probe file (every other page written) tells.
TEST_F(BinRec, ZeroPagesTakeNoDiskSpace) {
  const size_t P = SeqWriter::kHolePage;
  {
    os::File probe;
    ASSERT_TRUE(probe.create_new(file("probe")).ok());
    if (!probe.mark_sparse()) GTEST_SKIP() << "this file system is given the zeros";
    for (size_t at = 0; at < 64 * P; at += 2 * P) ASSERT_TRUE(probe.write_at(at, "x", 1).ok());
  }
  if (disk_bytes(file("probe")) > static_cast<int64_t>(48 * P)) GTEST_SKIP() << "no such holes";
  for (const ZeroPages zeros : {ZeroPages::Holes, ZeroPages::Write}) {
    SeqWriter w(3, file("m.UNF"), OpenStatus::Unknown, Replace::Whole, zeros);
    for (size_t i = 0; i < 200; ++i) {
      const Bytes r = row(8000, {{40 * i, 1.0}});
      w.write(r.data(), r.size());
    }
    w.close();
    const auto length = static_cast<int64_t>(fs::file_size(file("m.UNF")));
    EXPECT_EQ(disk_bytes(file("m.UNF")) <= length * 15 / 100, zeros == ZeroPages::Holes);
  }
}

// A stretch that cannot be written is reported for its record, whichever thread wrote it: the
// file may grow to 64 KB, which the first stretch (records 1-10, 80 KB) crosses at its end.
TEST_F(BinRec, AFailedStretchIsReportedForItsRecord) {
  const std::vector<double> r(1000, 1.0);
  for (const ZeroPages zeros : {ZeroPages::Holes, ZeroPages::Write}) {
    std::string rep;
    {
      const drav::testing::FileSizeLimit limit(64 * 1024);
      ASSERT_TRUE(limit.set());
      rep = report([&] {
        SeqWriter w(3, file("big.UNF"), OpenStatus::Unknown, Replace::Whole, zeros);
        w.write_records(30, 8000, 3, [&](int64_t, void*) {
          return SeqWriter::RecordBytes{r.data(), 0, 8000};
        });
        w.close();
      });
    }
    EXPECT_TRUE(starts_with(rep, "error during write, unit 3")) << rep;
    EXPECT_NE(rep.find("record 10:"), std::string::npos) << rep;
    EXPECT_EQ(fs::file_size(file("big.UNF")), 0u);  // created at the opening, no record kept
  }
}
#endif

// Offsets past 2 GiB, on sparse files so that nothing big is written.
TEST_F(BinRec, OffsetsBeyondTwoGigabytes) {
  const std::string p = file("sparse.UNF");
  const int64_t len = SeqWriter::kMaxSubrecord;
  {
    Bytes head;
    le32(head, -static_cast<int32_t>(len));
    put(p, head);
    fs::resize_file(p, static_cast<uintmax_t>(4 + len));
#ifdef _WIN32
    // The file system may give the file all its clusters.
    if (fs::space(dir_).available < (uintmax_t{8} << 30)) GTEST_SKIP() << "not 8 GiB free";
#else
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    if (st.st_blocks * 512 > (int64_t{1} << 24)) GTEST_SKIP() << "no sparse files here";
#endif
    Bytes rest;
    le32(rest, static_cast<int32_t>(len));
    frame(rest, 3, {1, 2, 3}, -3);  // continuation of the 2 GiB subrecord
    frame(rest, 4, {9, 8, 7, 6}, 4);
    std::ofstream(p, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(rest.data()),
               static_cast<std::streamsize>(rest.size()));
  }
  SeqReader r(2, p);
  EXPECT_EQ(r.record_length(), len + 3);
  unsigned char got[4] = {};
  r.read(got, 4);
  EXPECT_EQ(Bytes(got, got + 4), (Bytes{9, 8, 7, 6}));
  EXPECT_TRUE(r.at_end());

  // Direct record 600 of 4 MiB records starts beyond 2 GiB.
  const int32_t recl = 1 << 20;
  {
    DirectWriter w(2, p, recl);
    const int32_t v = 42;
    w.write(600, &v, 4);
    w.close();
  }
  DirectReader d(2, p, recl);
  EXPECT_EQ(d.record_count(), 600);
  int32_t v = 0;
  d.read(600, &v, 4);
  EXPECT_EQ(v, 42);
  d.read(599, &v, 4);
  EXPECT_EQ(v, 0);
}

}  // namespace
}  // namespace drav::recio
