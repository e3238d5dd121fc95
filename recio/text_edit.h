// Editing of single items into text fields, as the report and result files lay them out.
// Each function returns exactly the characters of one field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace drav::recio {

// Iw: right-justified, minus sign for negative values, no plus sign, zero as "0"; w asterisks
// when the digits and the sign do not fit. w <= 0 gives an empty field (never asked for).
std::string edit_I(int32_t v, int w);
// As edit_I, appending the field to `out`.
void append_I(std::string& out, int32_t v, int w);

// Aw: w < 0 means plain A (the field is as wide as the text). Wider: blanks first; narrower:
// the first w characters (w = 0: nothing).
std::string edit_A(std::string_view s, int w = -1);

// Gw.d under scale factor 1P. The value is first rounded to d significant digits (to nearest
// on the exact binary value, ties to even), giving D.DDD x 10^e:
//   - zero (either sign): F-form with d-1 decimals ("0.000000" for d = 7);
//   - -1 <= e <= d-1: F-form with k = e+1 digits before the point (k = 0 below 1, shown as a
//     leading "0" when the field leaves room for it) and d-k decimals;
//   - otherwise E-form: one nonzero digit, the point, d digits (the value rounded anew to d+1
//     significant digits), then the exponent.
// F-form text is right-justified in w-n characters and followed by n blanks.
//   exp_digits = 0: n = 4; exponent "E+dd" up to 99, "+ddd" (no letter) for 100..999.
//   exp_digits = e > 0: n = e + 2; exponent always "E" followed by sign and exactly e digits.
// A minus sign precedes negative values only: negative zero prints as zero. Infinities and NaN
// are right-justified "Infinity", "-Infinity", "NaN". Any text that does not fit (F-form in
// w-n, E-form or the exponent in its digits, the special texts in w) gives w asterisks.
// w <= 0 gives an empty field; d outside 1..kMaxGDigits gives w asterisks (never asked for).
std::string edit_G(double v, int w, int d, int exp_digits = 0);
// As edit_G, appending the field to `out` (no allocation when `out` has the capacity).
void append_G(std::string& out, double v, int w, int d, int exp_digits = 0);
inline constexpr int kMaxGDigits = 60;

// The fixed free-format editing of each item type.
std::string list_int(int32_t v);    // I12
std::string list_real(float v);     // G15.7E2
std::string list_double(double v);  // G24.15E3

}  // namespace drav::recio
