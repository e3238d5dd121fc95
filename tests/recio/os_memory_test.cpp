// The memory seam: advice on how a range is mapped, and taking its pages, never change what it
// holds, whatever the range's size and alignment, before and after the range is first written.
#include "recio/os_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace drav::recio::os {
namespace {

struct Range {
  size_t offset;  // from the start of the block
  size_t bytes;
};

TEST(OsMemory, AdviceLeavesEveryByteAsItWas) {
  constexpr size_t kBlock = size_t{40} << 20;
  auto* block = static_cast<unsigned char*>(std::calloc(kBlock, 1));
  ASSERT_NE(block, nullptr);
  auto value = [](size_t i) { return static_cast<unsigned char>(i * 131 + 7); };
  // Below the size worth advising, whole pages, and ranges whose ends cut pages, all over a
  // block half written before the advice and written in full after it.
  const Range ranges[] = {{0, 0},
                          {3, 100},
                          {0, size_t{4} << 20},
                          {4096, 9 << 20},
                          {5, (16 << 20) + 3},
                          {kBlock / 2 + 1, kBlock / 2 - 9}};
  for (size_t i = 0; i < kBlock / 2; ++i) block[i] = value(i);
  for (const Range& r : ranges) prefer_large_pages(block + r.offset, r.bytes);
  prefer_large_pages(nullptr, kBlock);
  // Pages taken where the block was written and where it was not, ends cutting pages included.
  const Range taken[] = {{1, 10}, {kBlock / 2 - 5000, 10000}, {kBlock - 4097, 4097}};
  for (const Range& r : taken) take_pages(block + r.offset, r.bytes);
  EXPECT_FALSE(take_pages(nullptr, kBlock));
  for (size_t i = 0; i < kBlock / 2; ++i)
    ASSERT_EQ(block[i], value(i)) << "byte " << i << " changed by the advice";
  for (size_t i = kBlock / 2; i < kBlock; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
  for (size_t i = kBlock / 2; i < kBlock; ++i) block[i] = value(i);
  for (size_t i = 0; i < kBlock; ++i) ASSERT_EQ(block[i], value(i)) << "byte " << i;
  std::free(block);
}

}  // namespace
}  // namespace drav::recio::os
