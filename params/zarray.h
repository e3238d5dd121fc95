// Zero-filled work array taken straight from the system allocator.
//
// The arrays of a run are sized from the model parameters before any model file is read. They
// are obtained with calloc, whose large blocks are fresh zero pages: a size that a short or
// corrupt file will never fill costs no memory until it is written. Nothing here value-
// initialises element by element (std::vector would touch every page).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <utility>

#include "recio/os_memory.h"

namespace drav {

template <class T>
class ZArray {
  static_assert(std::is_trivially_copyable_v<T>, "ZArray holds plain numbers only");

 public:
  ZArray() = default;
  ZArray(const ZArray&) = delete;
  ZArray& operator=(const ZArray&) = delete;
  ZArray(ZArray&& o) noexcept : p_(std::exchange(o.p_, nullptr)), n_(std::exchange(o.n_, 0)) {}
  ZArray& operator=(ZArray&& o) noexcept {
    if (this != &o) {
      release();
      p_ = std::exchange(o.p_, nullptr);
      n_ = std::exchange(o.n_, 0);
    }
    return *this;
  }
  ~ZArray() { release(); }

  // Byte size of `count` elements, or -1 when it does not fit in `limit` bytes. A negative
  // count is an empty array.
  static int64_t byte_size(int64_t count, uint64_t limit = std::numeric_limits<int64_t>::max()) {
    if (count <= 0) return 0;
    if (static_cast<uint64_t>(count) > limit / sizeof(T)) return -1;
    return count * static_cast<int64_t>(sizeof(T));
  }

  // Allocates `count` zeroed elements (a negative count gives an empty array). Returns false,
  // leaving the array unallocated, when the memory cannot be had. An allocated empty array
  // is still "allocated".
  bool allocate(int64_t count) noexcept {
    release();
    if (count < 0) count = 0;
    if (byte_size(count) < 0) return false;
    // calloc(0) may return null; keep one element so that "allocated" has a pointer.
    void* p = std::calloc(count > 0 ? static_cast<size_t>(count) : 1, sizeof(T));
    if (p == nullptr) return false;
    p_ = static_cast<T*>(p);
    n_ = count;
    return true;
  }

  void release() noexcept {
    std::free(p_);
    p_ = nullptr;
    n_ = 0;
  }

  // Asks for large pages under the whole array where the system has them; before the first
  // write, as only then does the advice change how the pages are taken.
  void prefer_large_pages() noexcept { recio::os::prefer_large_pages(p_, sizeof(T) * n_); }

  bool allocated() const { return p_ != nullptr; }
  int64_t size() const { return n_; }
  T* data() { return p_; }
  const T* data() const { return p_; }
  T& operator[](int64_t i) { return p_[i]; }
  const T& operator[](int64_t i) const { return p_[i]; }
  T* begin() { return p_; }
  T* end() { return p_ + n_; }
  const T* begin() const { return p_; }
  const T* end() const { return p_ + n_; }

 private:
  T* p_ = nullptr;
  int64_t n_ = 0;
};

}  // namespace drav
