// The pivot step and its two helpers on hand-checked states.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "factor/reference/ludecomp.h"
#include "factor_support.h"

namespace drav {
namespace {

using testing_factor::bits;
using testing_factor::copy_matrix;
using testing_factor::make_matrix;
using testing_factor::same_bits;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(SwapRow, ExchangesWholeRowsAndOrderEntries) {
  Matrix a = make_matrix({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  std::vector<int32_t> iord = {1, 2, 3};
  SWAP_ROW(3, a, iord.data(), 3, 1);
  Matrix want = make_matrix({{7, 8, 9}, {4, 5, 6}, {1, 2, 3}});
  EXPECT_TRUE(same_bits(a, want, 3));
  EXPECT_EQ(iord, (std::vector<int32_t>{3, 2, 1}));

  // The same row on both sides changes nothing, not even the sign of a zero.
  a(2, 2) = -0.0;
  Matrix before;
  copy_matrix(a, before, 3);
  SWAP_ROW(3, a, iord.data(), 2, 2);
  EXPECT_TRUE(same_bits(a, before, 3));
  EXPECT_EQ(iord, (std::vector<int32_t>{3, 2, 1}));
}

TEST(ComputeAii, DiagonalMinusAscendingSumRoundedToSingle) {
  // Row 3 holds multipliers 0.5 and 0.25 in columns 1 and 2; column 3 above the diagonal 8, 4.
  Matrix a = make_matrix({{2, 1, 8}, {0, 1, 4}, {0.5, 0.25, 1.0 + 0x1p-40}});
  float aii = -1.0f;
  COMPUTE_A_II(3, a, 3, aii);
  // 1 + 2^-40 - (4 + 1) rounds to -4 in single precision.
  EXPECT_EQ(aii, -4.0f);
  Matrix b = make_matrix({{2, 1, 8}, {0, 1, 4}, {0.5, 0.25, 1.0 + 0x1p-40}});
  EXPECT_TRUE(same_bits(a, b, 3));  // read only
}

struct PivotCase {
  const char* name;
  std::vector<std::vector<double>> rows;
  int32_t k;
  int32_t winner;  // row position brought to row k (k: no exchange)
};

Matrix from_rows(const std::vector<std::vector<double>>& rows) {
  Matrix a;
  a.allocate(static_cast<int32_t>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < rows.size(); ++j)
      a(static_cast<int32_t>(i + 1), static_cast<int32_t>(j + 1)) = rows[i][j];
  return a;
}

// After the step, exactly rows k and winner (and their order entries) have traded places;
// every other row is untouched, so the trial exchanges left no trace.
TEST(Apvt, BringsTheFirstLargestCandidateAndNothingElse) {
  const std::vector<PivotCase> cases = {
      {"largest magnitude below", {{1, 0, 0}, {-3, 1, 0}, {2, 0, 1}}, 1, 2},
      {"row k already largest", {{5, 0, 0}, {-3, 1, 0}, {2, 0, 1}}, 1, 1},
      {"opposite signs tie: smaller position", {{1, 0, 0}, {-4, 1, 0}, {4, 0, 1}}, 1, 2},
      {"row k wins a tie", {{-4, 0, 0}, {4, 1, 0}, {1, 0, 1}}, 1, 1},
      {"equal in single precision", {{1, 0, 0}, {1.0 + 0x1p-40, 1, 0}, {0, 0, 1}}, 1, 1},
      {"all zero", {{0, 1, 0}, {0, 1, 0}, {0, 0, 1}}, 1, 1},
      {"NaN never wins", {{kNaN, 1, 0}, {0, 1, 0}, {2, 0, 1}}, 1, 3},
      {"NaN below row k", {{1, 1, 0}, {kNaN, 1, 0}, {-1, 0, 1}}, 1, 1},
      {"negative zero counts as zero", {{-0.0, 1, 0}, {0, 1, 0}, {0, 0, 1}}, 1, 1},
      // Step 2: row 1 holds u(1,.) = 4, 4, 1; the multipliers 0.5 and 0.25 make candidates
      // 2 - 0.5*4 = 0 and 3 - 0.25*4 = 2 in column 2.
      {"step 2 uses the eliminated value", {{4, 4, 1}, {0.5, 2, 7}, {0.25, 3, 1}}, 2, 3},
      // Step 2: raw entries 9 and 1 would favour row 2; eliminated: 9 - 1*8 = 1 vs 1 - 0.5*8 = -3.
      {"step 2 compares eliminated, not raw", {{1, 8, 0}, {1, 9, 0}, {0.5, 1, 0}}, 2, 3},
      // Rounding the diagonal to single before subtracting would make row 2's candidate 0.
      {"step 2 rounds after the subtraction",
       {{1, 1, 0}, {1, 1 + 0x1p-30, 0}, {0, 0x1p-31, 0}},
       2,
       2},
      {"step 2 all zero after elimination", {{4, 4, 1}, {0.5, 2, 7}, {0.25, 1, 1}}, 2, 2},
  };
  for (const PivotCase& pc : cases) {
    SCOPED_TRACE(pc.name);
    const int32_t n = static_cast<int32_t>(pc.rows.size());
    for (bool direct : {false, true}) {
      SCOPED_TRACE(direct ? "direct" : "trial exchanges");
      Matrix a = from_rows(pc.rows);
      std::vector<int32_t> iord = {11, 12, 13};
      if (direct) {
        APVT_DIRECT(a, n, iord.data(), pc.k);
      } else {
        APVT(a, n, iord.data(), pc.k);
      }
      std::vector<std::vector<double>> want_rows = pc.rows;
      std::vector<int32_t> want_iord = {11, 12, 13};
      std::swap(want_rows[pc.k - 1], want_rows[pc.winner - 1]);
      std::swap(want_iord[pc.k - 1], want_iord[pc.winner - 1]);
      EXPECT_TRUE(same_bits(a, from_rows(want_rows), n));
      EXPECT_EQ(iord, want_iord);
    }
  }
}

}  // namespace
}  // namespace drav
