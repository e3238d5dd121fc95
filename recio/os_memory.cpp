// The memory seam (os_memory.h).
#include "recio/os_memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace drav::recio::os {

#if defined(__linux__)
namespace {

// The system's page size less one (0 when it does not say): the bits below a page boundary.
[[maybe_unused]] uintptr_t page_mask() noexcept {
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<uintptr_t>(page) - 1 : 0;
}

}  // namespace
#endif

void prefer_large_pages([[maybe_unused]] void* p, [[maybe_unused]] size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // A range shorter than one large page cannot hold one.
  constexpr size_t kLeast = size_t{2} << 20;
  const uintptr_t mask = page_mask();
  if (p == nullptr || bytes < kLeast || mask == 0) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + mask) & ~mask;
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~mask;
  // Only the whole pages inside the range: the pages at its ends may hold other data. A system
  // without large pages for processes (or with them switched off) refuses, and nothing changes.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

bool take_pages([[maybe_unused]] void* p, [[maybe_unused]] size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  const uintptr_t mask = page_mask();
  if (p == nullptr || mask == 0) return false;
  if (bytes == 0) return true;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(p) & ~mask;
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes + mask) & ~mask;
  // Systems before the populating advice refuse it (EINVAL) and the caller writes instead.
  return madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0;
#else
  return false;
#endif
}

}  // namespace drav::recio::os
