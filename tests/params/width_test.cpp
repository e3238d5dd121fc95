#include "params/width.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace drav {
namespace {

// Reference: digits by repeated division, in 64 bits so that every 32-bit value has an
// opposite.
int32_t digits_by_division(int32_t n) {
  int64_t a = n < 0 ? -static_cast<int64_t>(n) : n;
  int32_t count = 1;
  while (a >= 10) {
    a /= 10;
    ++count;
  }
  return count + (n < 0 ? 1 : 0);
}

TEST(Width, TableAndEdges) {
  struct Case {
    int32_t n;
    int32_t width;
  };
  const Case cases[] = {
      {0, 1},
      {7, 1},
      {-7, 2},
      {10, 2},
      {99, 2},
      {100, 3},
      {-1000, 5},
      {2147483647, 10},
      {-1, 2},
      {9, 1},
      {999999999, 9},
      {1000000000, 10},
      {-2147483647, 11},
      {std::numeric_limits<int32_t>::min(), 11},
  };
  for (const Case& c : cases) EXPECT_EQ(WIDTH(c.n), c.width) << c.n;
}

TEST(Width, AroundEveryPowerOfTen) {
  for (int64_t p = 1; p <= 1000000000; p *= 10) {
    for (int64_t delta = -1000; delta <= 1000; ++delta) {
      const int64_t v = p + delta;
      if (v < 1 || v > std::numeric_limits<int32_t>::max()) continue;
      const int32_t n = static_cast<int32_t>(v);
      ASSERT_EQ(WIDTH(n), digits_by_division(n)) << n;
      ASSERT_EQ(WIDTH(-n), digits_by_division(-n)) << -n;
    }
  }
  for (int32_t n = std::numeric_limits<int32_t>::max() - 1000;; ++n) {
    ASSERT_EQ(WIDTH(n), 10) << n;
    ASSERT_EQ(WIDTH(-n), 11) << -n;
    if (n == std::numeric_limits<int32_t>::max()) break;
  }
}

}  // namespace
}  // namespace drav
