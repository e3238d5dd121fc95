// The operating-system seam of the program's memory: the only code that gives the platform
// advice on how the large work arrays are mapped. The advice never changes what an array holds.
#pragma once

#include <cstddef>

namespace drav::recio::os {

// Asks the system to map [p, p + bytes) with large pages where it has them to give, before the
// range is first written. A dense matrix of thousands of equations then costs one fault per
// large page instead of one per 4 KB page when it is filled, and its factorization, which goes
// down whole columns of rows far apart, misses the processor's address cache far less often.
// Small ranges, and systems that only grant large pages to privileged processes (Windows), are
// left as they are. Never fails: advice the system refuses changes nothing.
void prefer_large_pages(void* p, size_t bytes) noexcept;

// Makes the pages under [p, p + bytes) the process's own and writable, as a first write to each
// would, in one call instead of one fault per page, and without changing a byte (the pages at
// the ends may hold other data). False where the system cannot: the caller then writes the
// range itself, which takes the pages too.
bool take_pages(void* p, size_t bytes) noexcept;

}  // namespace drav::recio::os
