#include "recio/text_edit.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace drav::recio {

namespace {

// Room for the digits of a d-digit mantissa in scientific notation ("D." + d digits +
// "e-ddd") for every d up to kMaxGDigits, with margin.
constexpr int kDigitBuf = kMaxGDigits + 16;

constexpr auto kZeros = [] {
  std::array<char, kMaxGDigits> z{};
  for (char& c : z) c = '0';
  return z;
}();

void append_stars(std::string& out, int w) {
  out.append(static_cast<size_t>(w), '*');
}

// Right-justifies `text` in w characters, or w asterisks when it is longer.
void append_right(std::string& out, std::string_view text, int w) {
  if (text.size() > static_cast<size_t>(w)) {
    append_stars(out, w);
    return;
  }
  out.append(static_cast<size_t>(w) - text.size(), ' ');
  out.append(text);
}

// Scientific digits of a finite positive value rounded to `sig` significant digits:
// digits[0..sig) and the decimal exponent of the first digit. The conversion is exact and
// rounds ties to even.
struct Sci {
  char digits[kDigitBuf];
  int exp;
};

void to_sci(double a, int sig, Sci& s) {
  char buf[kDigitBuf + 8];
  // Output: "D" or "D.DDD", then 'e', sign and at least two exponent digits.
  const auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, sig - 1);
  const char* end = r.ptr;
  const char* p = buf;
  int n = 0;
  s.digits[n++] = *p++;
  if (*p == '.') {
    ++p;
    while (*p != 'e') s.digits[n++] = *p++;
  }
  ++p;  // 'e'
  const bool neg = *p == '-';
  ++p;
  int e = 0;
  std::from_chars(p, end, e);
  s.exp = neg ? -e : e;
}

// Rounds the d+1 digits of `s` to d digits in `f`. The d+1 digits are themselves rounded, so
// this is exact only when the dropped digit is not 5: below 5 the exact value lies below the
// midpoint, above 5 beyond it. Returns false for a 5.
bool drop_last_digit(const Sci& s, int d, Sci& f) {
  const char last = s.digits[d];
  if (last == '5') return false;
  std::memcpy(f.digits, s.digits, static_cast<size_t>(d));
  f.exp = s.exp;
  if (last > '5') {
    int i = d - 1;
    while (i >= 0 && f.digits[i] == '9') f.digits[i--] = '0';
    if (i >= 0) {
      ++f.digits[i];
    } else {  // 99..9 carried into the next decade
      f.digits[0] = '1';
      ++f.exp;
    }
  }
  return true;
}

// F-form: [-] int_digits "." frac_digits right-justified in w-n characters, then n blanks.
// An empty int_digits stands for a value below 1, whose "0" is shown when there is room.
void append_F(std::string& out, bool neg, std::string_view int_digits, std::string_view frac, int w,
              int n) {
  const int avail = w - n;
  const bool optional_zero = int_digits.empty() && !frac.empty();
  int len = (neg ? 1 : 0) + (int_digits.empty() ? 1 : static_cast<int>(int_digits.size())) + 1 +
            static_cast<int>(frac.size());
  bool zero = int_digits.empty();
  if (len > avail && optional_zero) {
    zero = false;
    --len;
  }
  if (avail < 0 || len > avail) {
    append_stars(out, w);
    return;
  }
  out.append(static_cast<size_t>(avail - len), ' ');
  if (neg) out.push_back('-');
  if (zero) out.push_back('0');
  out.append(int_digits);
  out.push_back('.');
  out.append(frac);
  out.append(static_cast<size_t>(n), ' ');
}

}  // namespace

void append_I(std::string& out, int32_t v, int w) {
  if (w <= 0) return;
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  append_right(out, std::string_view(buf, static_cast<size_t>(r.ptr - buf)), w);
}

std::string edit_I(int32_t v, int w) {
  std::string s;
  append_I(s, v, w);
  return s;
}

std::string edit_A(std::string_view s, int w) {
  if (w < 0) return std::string(s);
  const size_t uw = static_cast<size_t>(w);
  if (uw <= s.size()) return std::string(s.substr(0, uw));
  std::string r(uw - s.size(), ' ');
  r.append(s);
  return r;
}

void append_G(std::string& out, double v, int w, int d, int exp_digits) {
  if (w <= 0) return;
  if (std::isnan(v)) return append_right(out, "NaN", w);
  if (std::isinf(v)) return append_right(out, v < 0 ? "-Infinity" : "Infinity", w);
  if (d < 1 || d > kMaxGDigits) return append_stars(out, w);
  const int n = exp_digits > 0 ? exp_digits + 2 : 4;
  const double a = std::fabs(v);

  if (a == 0.0) {
    const std::string_view frac(kZeros.data(), static_cast<size_t>(d - 1));
    // "0." plus d-1 zeros: the "0" is required when there are no decimals.
    return append_F(out, false, d == 1 ? std::string_view("0") : std::string_view(), frac, w, n);
  }

  const bool neg = v < 0;
  // One exact conversion serves both decisions: the E-form shows d+1 significant digits, and
  // the F/E choice rests on d, derived from them unless the dropped digit is a 5 (then the
  // exact value alone tells which way it rounds).
  Sci s;
  to_sci(a, d + 1, s);
  Sci f;
  if (!drop_last_digit(s, d, f)) to_sci(a, d, f);
  if (f.exp >= -1 && f.exp <= d - 1) {
    const std::string_view digits(f.digits, static_cast<size_t>(d));
    const size_t k = static_cast<size_t>(f.exp + 1);
    return append_F(out, neg, digits.substr(0, k), digits.substr(k), w, n);
  }

  // E-form under scale factor 1: d digits after the point.
  char text[kDigitBuf + 24];
  int len = 0;
  if (neg) text[len++] = '-';
  text[len++] = s.digits[0];
  text[len++] = '.';
  std::memcpy(text + len, s.digits + 1, static_cast<size_t>(d));
  len += d;

  const int ex = s.exp < 0 ? -s.exp : s.exp;
  char ebuf[12];
  const auto er = std::to_chars(ebuf, ebuf + sizeof ebuf, ex);
  const int ndig = static_cast<int>(er.ptr - ebuf);
  int width;  // digits the exponent is written with
  bool letter;
  if (exp_digits > 0) {
    if (ndig > exp_digits || exp_digits > 9) return append_stars(out, w);
    width = exp_digits;
    letter = true;
  } else if (ndig <= 2) {
    width = 2;
    letter = true;
  } else if (ndig == 3) {
    width = 3;
    letter = false;
  } else {
    return append_stars(out, w);
  }
  if (letter) text[len++] = 'E';
  text[len++] = s.exp < 0 ? '-' : '+';
  for (int i = ndig; i < width; ++i) text[len++] = '0';
  std::memcpy(text + len, ebuf, static_cast<size_t>(ndig));
  len += ndig;
  append_right(out, std::string_view(text, static_cast<size_t>(len)), w);
}

std::string edit_G(double v, int w, int d, int exp_digits) {
  std::string s;
  if (w > 0) s.reserve(static_cast<size_t>(w));
  append_G(s, v, w, d, exp_digits);
  return s;
}

std::string list_int(int32_t v) {
  return edit_I(v, 12);
}

std::string list_real(float v) {
  return edit_G(static_cast<double>(v), 15, 7, 2);
}

std::string list_double(double v) {
  return edit_G(v, 24, 15, 3);
}

}  // namespace drav::recio
