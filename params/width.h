#pragma once

#include <cstdint>

namespace drav {

// Number of characters of N written in decimal: its digit count, plus one for a minus sign.
int32_t WIDTH(int32_t N);

}  // namespace drav
