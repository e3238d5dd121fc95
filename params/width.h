#pragma once

#include <cstdint>

namespace drav {

// Number of characters of N written in decimal: its digit count, plus one for a minus sign
// (1 for 0, 11 for -2147483648). Report lines use it as the width of an integer field so that
// the number stands with no padding.
int32_t WIDTH(int32_t N);

}  // namespace drav
