// The failure record of a pivot that failed the pivot test. Kernels write no text; whoever ran
// the factorization writes this record from the step and the pivot the kernel reports.
#pragma once

#include <cstdint>

#include "params/compar.h"
#include "recio/textio.h"

namespace drav {

// Writes the failure record of a pivot u = u(k,k) that failed the pivot test at step k: at
// step 1 to `console` and to the report file c.report_path() (appended, unit 1), at a later
// step to the report file only.
void report_pivot_failure(int32_t k, double u, const COMPAR& c, recio::TextSink& console);

}  // namespace drav
