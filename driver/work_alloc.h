// Sizes and allocation of the work arrays of a run.
#pragma once

#include <cstdint>

#include "params/zarray.h"
#include "recio/fatal.h"

namespace drav {

// An extent computed as negative counts as 0.
inline int64_t nonneg(int64_t v) {
  return v > 0 ? v : 0;
}

// Arrays whose byte size needs more than 32 bits cannot be had, like memory that is refused.
inline constexpr uint64_t kMaxArrayBytes = 0xFFFFFFFFu;

// An allocation that reports failure to its caller (the allocation groups).
template <class T>
bool allocate_checked(ZArray<T>& a, int64_t count) {
  if (ZArray<T>::byte_size(count, kMaxArrayBytes) < 0) return false;
  return a.allocate(count);
}

// An allocation without a status of its own: failure ends the run with the fatal report.
template <class T>
void allocate_or_fail(ZArray<T>& a, int64_t count) {
  if (ZArray<T>::byte_size(count, kMaxArrayBytes) < 0) recio::fail(recio::kSizeOverflow);
  if (!a.allocate(count)) recio::fail(recio::kNoMemory);
}

}  // namespace drav
