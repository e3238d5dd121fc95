// What a factorization kernel reports to its caller. Kernels write no text: the caller writes
// the failure record (report_pivot_failure) from the step and the pivot.
#pragma once

#include <cstdint>

namespace drav {

struct FactorOutcome {
  enum class Stop {
    Complete,     // all N steps done: KSTEP = N + 1
    PivotFailed,  // u(KSTEP,KSTEP) failed the pivot test
    Declined,     // the kernel's reasoning does not hold for this matrix: nothing was changed
                  // (the matrix holds its entry values again); another kernel must run
  };
  Stop stop = Stop::Complete;
  int32_t KSTEP = 1;
  double pivot = 0.0;  // u(KSTEP,KSTEP) when the pivot test failed
};

}  // namespace drav
