#include "driver/model_input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/drav.h"
#include "driver/results.h"
#include "recio/binrec.h"
#include "recio/fatal.h"
#include "support/fatal_text.h"
#include "support/scratch.h"

namespace drav {
namespace {

using testing::InDir;
using testing::TempDir;

COMPAR supports(int32_t nnode, int32_t ndofn, const std::vector<std::vector<int32_t>>& rows) {
  COMPAR c;
  c.NNODE = nnode;
  c.NDOFN = ndofn;
  EXPECT_TRUE(c.IBLK.allocate(int64_t{nnode} * ndofn));
  EXPECT_TRUE(c.ELSUP.allocate(int64_t{nnode} * ndofn));
  for (int32_t n = 1; n <= nnode; ++n)
    for (int32_t d = 1; d <= ndofn; ++d) c.IBLK[c.sup_index(n, d)] = rows[n - 1][d - 1];
  return c;
}

TEST(Locarray, NumbersFreeDirectionsNodeByNode) {
  // Node 1 fully blocked, node 2 partly (direction 2 blocked), node 3 free, node 4 blocked
  // with a code other than 1.
  COMPAR c = supports(4, 3, {{1, 1, 1}, {0, 1, 0}, {0, 0, 0}, {2, -1, 5}});
  ASSERT_EQ(count_free_dofs(c), 5);
  WorkArrays W;
  ASSERT_TRUE(W.LOC.allocate(5 * 2));
  LOCARRAY(c, W);
  const int32_t node[] = {2, 2, 3, 3, 3};
  const int32_t dir[] = {1, 3, 1, 2, 3};
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(W.loc_node(k), node[k - 1]) << k;
    EXPECT_EQ(W.loc_dir(k), dir[k - 1]) << k;
  }
}

TEST(Locarray, NeverWritesPastTheTable) {
  COMPAR c = supports(2, 2, {{0, 0}, {0, 0}});
  WorkArrays W;
  ASSERT_TRUE(W.LOC.allocate(2 * 2));  // room for 2 equations, 4 are free
  LOCARRAY(c, W);
  EXPECT_EQ(W.loc_node(2), 1);
  EXPECT_EQ(W.loc_dir(2), 2);
}

TEST(Locarray, NoDirectionsMeansNoEquations) {
  COMPAR c = supports(3, 0, {{}, {}, {}});
  EXPECT_EQ(count_free_dofs(c), 0);
}

class ModelFiles : public ::testing::Test {
 protected:
  TempDir dir;
  InDir in{dir.path()};

  template <class T>
  static std::vector<char> bytes(const std::vector<T>& v) {
    std::vector<char> b(v.size() * sizeof(T));
    if (!v.empty()) std::memcpy(b.data(), v.data(), b.size());
    return b;
  }
  static void seq(const char* name, const std::vector<std::vector<char>>& records) {
    recio::SeqWriter w(9, name, recio::OpenStatus::Unknown);
    for (const auto& r : records) w.write(r.data(), r.size());
    w.close();
  }
};

TEST_F(ModelFiles, ReadsEveryRecordIntoItsArray) {
  COMPAR c;
  c.NNODE = 2;
  c.NEMAX = 2;
  c.NUMEL = 1;
  c.NDOFN = 2;
  WorkArrays W;
  ASSERT_TRUE(allocate_group1(c, W) && allocate_group2(c, W));
  // A longer record is read from its start; a fourth record of nei.UNF is never looked at.
  seq("nei.UNF", {bytes<int32_t>({1, 0, 1, 0, 99}), bytes<int32_t>({1}), bytes<int32_t>({2}),
                  bytes<int32_t>({7})});
  seq("x0.UNF", {bytes<float>({9, 9, 9}), bytes<float>({0.5f}), {}, bytes<float>({4.0f, 8.0f})});
  {
    recio::DirectWriter w(9, "el.unf", 8 * 2 + 56);
    std::vector<char> rec(8 * 2 + 56);
    const double d[] = {3.0, 4.0, 5.0, -1.0, 2.1e11, 12.5, -1.0, -1.0};
    std::memcpy(rec.data(), d, sizeof d);
    const int32_t ind = -3;
    const float al0 = 0.75f;
    std::memcpy(rec.data() + 64, &ind, 4);
    std::memcpy(rec.data() + 68, &al0, 4);
    w.write(1, rec.data(), rec.size());
    w.close();
  }
  read_nei(c, W);
  read_x0(c, W);
  read_el(c, W);
  EXPECT_EQ(std::vector<int32_t>(W.NEI.begin(), W.NEI.end()), (std::vector<int32_t>{1, 0, 1, 0}));
  EXPECT_EQ(W.NI[0], 1);
  EXPECT_EQ(W.NF[0], 2);
  EXPECT_EQ(W.A0[0], 0.5f);
  EXPECT_EQ(W.S0[0], 4.0f);
  EXPECT_EQ(W.V[0], 3.0);
  EXPECT_EQ(W.V[1], 4.0);
  EXPECT_EQ(W.VMOD[0], 5.0);
  EXPECT_EQ(W.YY[0], 2.1e11);
  EXPECT_EQ(W.T[0], 12.5);
  EXPECT_EQ(W.IND[0], -3);
  EXPECT_EQ(W.AL0[0], 0.75f);
}

TEST_F(ModelFiles, EmptySizesStillConsumeTheirRecords) {
  COMPAR c;  // NNODE = NEMAX = NUMEL = 0
  WorkArrays W;
  ASSERT_TRUE(allocate_group1(c, W) && allocate_group2(c, W));
  seq("nei.UNF", {{}, {}, {}});
  seq("x0.UNF", {{}, {}, {}, {}});
  recio::DirectWriter(9, "el.unf", 56).close();
  read_nei(c, W);
  read_x0(c, W);
  read_el(c, W);
  // One record too few is the end-of-file report.
  seq("x0.UNF", {{}, {}, {}});
  {
    const std::string msg = testing::fatal_text([&] { read_x0(c, W); });
    EXPECT_NE(msg.find("end-of-file during read, unit 2, file x0.UNF"), std::string::npos) << msg;
  }
}

TEST_F(ModelFiles, ShortRecordsAndMissingFilesEndTheRun) {
  COMPAR c;
  c.NNODE = 3;
  c.NEMAX = 2;
  c.NUMEL = 2;
  c.NDOFN = 3;
  WorkArrays W;
  ASSERT_TRUE(allocate_group1(c, W) && allocate_group2(c, W));
  seq("nei.UNF", {bytes<int32_t>({1, 2, 3, 4, 5})});
  auto message = [&](auto&& f) {
    try {
      f();
    } catch (const recio::FatalError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message([&] {
              read_nei(c, W);
            }).find("input statement requires too much data, unit 2, file nei.UNF"),
            std::string::npos);
  EXPECT_NE(message([&] { read_x0(c, W); }).find("file not found, unit 2, file x0.UNF"),
            std::string::npos);
  {
    recio::DirectWriter w(9, "el.unf", 8 * 3 + 56);
    std::vector<char> rec(80);
    w.write(1, rec.data(), rec.size());
    w.close();
  }
  EXPECT_NE(message([&] {
              read_el(c, W);
            }).find("attempt to access non-existent record, unit 2, file el.unf"),
            std::string::npos);
}

TEST(DirectionLabel, ByDirectionAndDirectionsPerNode) {
  EXPECT_EQ(direction_label(1, 2), 'X');
  EXPECT_EQ(direction_label(2, 2), 'Y');
  EXPECT_EQ(direction_label(2, 3), 'Z');
  EXPECT_EQ(direction_label(3, 3), 'Z');
  EXPECT_EQ(direction_label(4, 6), ' ');
}

}  // namespace
}  // namespace drav

namespace drav {
namespace {

TEST_F(ModelFiles, ElementNumberOutsideTheModelIsRefused) {
  COMPAR c;
  c.NNODE = 2;
  c.NEMAX = 3;
  c.NUMEL = 2;
  WorkArrays W;
  ASSERT_TRUE(allocate_group1(c, W));
  seq("nei.UNF",
      {bytes<int32_t>({1, 2, 0, 2, 0, 3}), bytes<int32_t>({1, 1}), bytes<int32_t>({2, 2})});
  {
    const std::string msg = testing::fatal_text([&] { read_nei(c, W); });
    EXPECT_NE(msg.find("node 2, slot 3 names element 3, outside 0..2"), std::string::npos) << msg;
  }
}

}  // namespace
}  // namespace drav
