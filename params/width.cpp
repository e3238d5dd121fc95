#include "params/width.h"

#include <cmath>

namespace drav {

// The digit count comes from the decimal logarithm: exact at powers of ten, and far enough
// below the next integer for every 32-bit value just under one that truncation is safe.
int32_t WIDTH(int32_t N) {
  if (N == 0) return 1;
  // Widen before taking the magnitude: -2147483648 has no 32-bit opposite.
  const int64_t a = N < 0 ? -static_cast<int64_t>(N) : static_cast<int64_t>(N);
  int32_t w = static_cast<int32_t>(std::log10(static_cast<double>(a)) + 1.0);
  if (N < 0) ++w;
  return w;
}

}  // namespace drav
