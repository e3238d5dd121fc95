// The main program: one whole run in the working directory.
#pragma once

#include <cstdint>

#include "params/compar.h"
#include "params/work.h"
#include "recio/textio.h"

namespace drav {

// Process exit statuses.
inline constexpr int kExitOk = 0;        // normal end, a singular matrix included
inline constexpr int kExitStop = 1;      // the program's own stop (" STOP: DRAV")
inline constexpr int kExitFatal = 2;     // fatal error report on standard error
inline constexpr int kExitNoMatrix = 3;  // the matrix could not be allocated

// The threads a run may use: DRAV_THREADS when it holds a count from 1 to 1024 (blanks around
// it allowed), else the cores of the machine. With 1 the stiffness report and the
// factorization run one after the other. The factorization takes the count from here.
int run_threads();

// Runs the whole program in the working directory; console records go to `console`.
// Returns the exit status; fatal errors are thrown as recio::FatalError.
int DRAV_LU(recio::TextSink& console);

}  // namespace drav
