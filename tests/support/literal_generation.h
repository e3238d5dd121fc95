// The generation of the system matrix exactly as the run sequence describes it, kept as the
// reference the faster generation is compared with: every entry of the upper half band from
// AA, the rest of each row zero, then row K+1 overwritten with column K+1 on the left.
#pragma once

#include <algorithm>
#include <cstdint>

#include "assembly/element.h"

namespace drav::testing {

inline void literal_generation(const COMPAR& c, WorkArrays& W, Matrix& A) {
  const int32_t NEQ = std::max(c.NEQ, 0);
  for (int32_t J = 1; J <= NEQ; ++J)
    for (int32_t I = 1; I <= NEQ; ++I) A(I, J) = 0.0;
  for (int32_t I = 1; I <= NEQ; ++I) {
    const int64_t lo = std::max<int64_t>(1, int64_t{I} - c.NBAND + 1);
    const int64_t hi = std::min<int64_t>(NEQ, int64_t{I} + c.NBAND - 1);
    for (int64_t J = lo; J <= hi; ++J)
      A(I, static_cast<int32_t>(J)) = AA(c, W, I, static_cast<int32_t>(J));
  }
  for (int32_t K = 1; K <= NEQ - 1; ++K)
    for (int32_t M = 1; M <= K; ++M) A(K + 1, M) = A(M, K + 1);
}

}  // namespace drav::testing
