#include "params/model_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace drav {
namespace {

template <class T>
T at(const std::vector<unsigned char>& b, size_t off) {
  T x;
  std::memcpy(&x, b.data() + off, sizeof x);
  return x;
}

// What the writer puts where is read back by the reader, and stands at the offsets that the
// files of earlier runs have (V first, then VMOD, VMOD, YY, T, 0, 0, IND, AL0).
TEST(ElRecord, EncodeAndDecodeAgreeAndKeepTheFileOffsets) {
  for (int32_t nd : {0, 1, 2, 3, 6}) {
    SCOPED_TRACE("NDOFN = " + std::to_string(nd));
    std::vector<double> V(static_cast<size_t>(nd));
    for (int32_t d = 0; d < nd; ++d) V[d] = -1.5 * (d + 1);
    ElRecord::Fields f;
    f.VMOD = 2.5;
    f.YY = 2.1e8;
    f.T = -7.25;
    f.IND = -3;
    f.AL0 = 0.125f;
    std::vector<unsigned char> rec(static_cast<size_t>(ElRecord::data_bytes(nd)), 0xAB);
    ASSERT_EQ(rec.size(), 8u * nd + 56u);
    ElRecord::encode(f, V.data(), nd, rec.data());

    const size_t b = 8u * nd;
    for (int32_t d = 0; d < nd; ++d) EXPECT_EQ(at<double>(rec, 8u * d), V[d]);
    EXPECT_EQ(at<double>(rec, b + 0), 2.5);
    EXPECT_EQ(at<double>(rec, b + 8), 2.5);
    EXPECT_EQ(at<double>(rec, b + 16), 2.1e8);
    EXPECT_EQ(at<double>(rec, b + 24), -7.25);
    EXPECT_EQ(at<double>(rec, b + 32), 0.0);
    EXPECT_EQ(at<double>(rec, b + 40), 0.0);
    EXPECT_EQ(at<int32_t>(rec, b + 48), -3);
    EXPECT_EQ(at<float>(rec, b + 52), 0.125f);

    std::vector<double> back(static_cast<size_t>(nd), 99.0);
    const ElRecord::Fields g = ElRecord::decode(rec.data(), nd, back.data());
    EXPECT_EQ(back, V);
    EXPECT_EQ(g.VMOD, f.VMOD);
    EXPECT_EQ(g.YY, f.YY);
    EXPECT_EQ(g.T, f.T);
    EXPECT_EQ(g.IND, f.IND);
    EXPECT_EQ(g.AL0, f.AL0);
  }
}

// The record length: 8*NDOFN + 56 four-byte units when that is 1 .. INT32_MAX; a negative
// NDOFN has no components but may still give a length.
TEST(ElRecord, RecordLengthLimits) {
  const struct {
    int32_t ndofn;
    std::optional<int32_t> units;
    int64_t data_bytes;
  } cases[] = {
      {2, 72, 72},
      {0, 56, 56},
      {-1, 48, 56},
      {-6, 8, 56},
      {-7, std::nullopt, 56},  // 0 units: no record
      {-100, std::nullopt, 56},
      {268435448, 2147483640, 8 * int64_t{268435448} + 56},  // the largest that fits
      {268435449, std::nullopt, 8 * int64_t{268435449} + 56},
      {INT32_MAX, std::nullopt, 8 * int64_t{INT32_MAX} + 56},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("NDOFN = " + std::to_string(c.ndofn));
    EXPECT_EQ(ElRecord::valid_units(c.ndofn), c.units);
    EXPECT_EQ(ElRecord::data_bytes(c.ndofn), c.data_bytes);
    EXPECT_EQ(ElRecord::units(c.ndofn), 8 * int64_t{c.ndofn} + 56);
  }
}

TEST(RunFiles, MatrixFileOfTheIteration) {
  EXPECT_STREQ(matrix_file_of(1).name, "AA0.UNF");
  EXPECT_STREQ(matrix_file_of(2).name, "AA.UNF");
  EXPECT_STREQ(matrix_file_of(0).name, "AA.UNF");  // only iteration 1 is the first
  EXPECT_EQ(matrix_file_of(1).unit, 3);
}

// The numbering walks nodes, then directions, skipping the blocked ones; none for NDOFN <= 0.
TEST(EquationNumbering, NodeByNodeDirectionByDirection) {
  const std::vector<int> blocked = {1, 0, 0, 1, 0, 0};  // 3 nodes, 2 directions
  std::vector<std::pair<int32_t, int32_t>> got;
  for_each_free_dof(
      3, 2, [&](int32_t n, int32_t d) { return blocked[(n - 1) * 2 + d - 1] != 0; },
      [&](int32_t n, int32_t d) { got.emplace_back(n, d); });
  EXPECT_EQ(got, (std::vector<std::pair<int32_t, int32_t>>{{1, 2}, {2, 1}, {3, 1}, {3, 2}}));
  got.clear();
  for_each_free_dof(
      3, 0, [](int32_t, int32_t) { return false; },
      [&](int32_t n, int32_t d) { got.emplace_back(n, d); });
  EXPECT_TRUE(got.empty());
}

}  // namespace
}  // namespace drav
