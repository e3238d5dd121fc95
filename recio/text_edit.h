// Editing of single items into text fields, as the report and result files lay them out.
// Each function returns exactly the characters of one field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace drav::recio {

// Iw: right-justified, minus sign for negative values, w asterisks when it does not fit.
std::string edit_I(int32_t v, int w);

// Aw: w < 0 means plain A (the field is as wide as the text). Wider: blanks first; narrower:
// the first w characters.
std::string edit_A(std::string_view s, int w = -1);

// Gw.d under scale factor 1P. F-form when 0.1 - 0.5e-(d+1) <= |v| < 10^d - 0.5 (decided on the
// exactly rounded value) or v is zero, with n trailing blanks; otherwise E-form with one digit
// before the point. Rounding is to nearest on the exact binary value, ties to even.
//   exp_digits = 0: n = 4; exponent "E+dd" up to 99, "+ddd" (no letter) for 100..999.
//   exp_digits = e > 0: n = e + 2; exponent always "E" followed by sign and e digits.
// Infinities and NaN are right-justified "Infinity", "-Infinity", "NaN" (asterisks when they
// do not fit). Negative zero prints as zero.
std::string edit_G(double v, int w, int d, int exp_digits = 0);

// The fixed free-format editing of each item type.
std::string list_int(int32_t v);     // I12
std::string list_real(float v);      // G15.7E2
std::string list_double(double v);   // G24.15E3

}  // namespace drav::recio
