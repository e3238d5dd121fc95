#include "recio/listin.h"

#include <charconv>
#include <limits>
#include <type_traits>

#include "recio/fatal.h"
#include "recio/textio.h"

namespace drav::recio {

namespace {

// A CR that is not part of a line end (a doubled CR, a stray one mid-line) can never belong
// to a value, so it separates like a blank instead of spoiling the value beside it.
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}
bool is_separator(char c) {
  return is_blank(c) || c == ',' || c == '/';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

enum class Parse { Ok, Syntax, Range };

// An unsigned digit string (already checked) as a value up to `limit`; Range beyond it.
// Leading zeros are skipped so that a long run of them is still a small number.
Parse digits_value(std::string_view d, uint64_t limit, uint64_t& out) {
  size_t i = 0;
  while (i < d.size() && d[i] == '0') ++i;
  if (d.size() - i > 19) return Parse::Range;
  uint64_t v = 0;
  for (; i < d.size(); ++i) v = v * 10 + static_cast<uint64_t>(d[i] - '0');
  if (v > limit) return Parse::Range;
  out = v;
  return Parse::Ok;
}

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!is_digit(c)) return false;
  }
  return true;
}

Parse parse_int(std::string_view t, int32_t& v) {
  bool neg = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    neg = t[0] == '-';
    t.remove_prefix(1);
  }
  if (!all_digits(t)) return Parse::Syntax;
  uint64_t limit = neg ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  uint64_t mag = 0;
  Parse p = digits_value(t, limit, mag);
  if (p != Parse::Ok) return p;
  v = neg ? static_cast<int32_t>(-static_cast<int64_t>(mag)) : static_cast<int32_t>(mag);
  return Parse::Ok;
}

// Checks the form of a real and converts it with correct rounding. The digits are first
// brought to the form 0.DDD x 10^E, so that the conversion sees a short exponent whatever the
// input looked like (leading zeros, long exponents), and overflow can be told from underflow.
template <class T>
Parse parse_real(std::string_view t, T& v) {
  size_t i = 0, n = t.size();
  bool neg = false;
  if (i < n && (t[i] == '+' || t[i] == '-')) {
    neg = t[i] == '-';
    ++i;
  }
  std::string digits;     // significant digits, without leading zeros
  int64_t point_exp = 0;  // decimal exponent contributed by the position of the point
  size_t ndigits = 0;
  for (; i < n && is_digit(t[i]); ++i, ++ndigits) {
    if (digits.empty() && t[i] == '0') continue;
    digits.push_back(t[i]);
    ++point_exp;
  }
  if (i < n && t[i] == '.') {
    for (++i; i < n && is_digit(t[i]); ++i, ++ndigits) {
      if (digits.empty() && t[i] == '0') {
        --point_exp;
        continue;
      }
      digits.push_back(t[i]);
    }
  }
  if (ndigits == 0) return Parse::Syntax;
  int64_t exp = 0;
  if (i < n) {
    if (t[i] == 'E' || t[i] == 'e' || t[i] == 'D' || t[i] == 'd') {
      ++i;
      if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    } else if (t[i] == '+' || t[i] == '-') {
      ++i;  // exponent without a letter: the sign introduces it
    } else {
      return Parse::Syntax;
    }
    size_t sign_at = i > 0 && (t[i - 1] == '+' || t[i - 1] == '-') ? i - 1 : n;
    std::string_view ed = t.substr(i);
    if (!all_digits(ed)) return Parse::Syntax;
    uint64_t e = 0;
    // A huge exponent only needs to be known as huge.
    if (digits_value(ed, uint64_t{1} << 40, e) != Parse::Ok) e = uint64_t{1} << 40;
    exp = sign_at < n && t[sign_at] == '-' ? -static_cast<int64_t>(e) : static_cast<int64_t>(e);
  }
  if (digits.empty()) {  // all zeros, whatever the exponent
    v = neg ? -T(0) : T(0);
    return Parse::Ok;
  }
  while (digits.back() == '0') digits.pop_back();
  int64_t e10 = point_exp + exp;  // value = 0.digits x 10^e10
  // Far outside the range of double (and so of float): no conversion needed.
  if (e10 > 400) return Parse::Range;
  if (e10 < -400) {
    v = neg ? -T(0) : T(0);
    return Parse::Ok;
  }
  std::string s;
  s.reserve(digits.size() + 12);
  if (neg) s.push_back('-');
  s.append("0.");
  s.append(digits);
  s.push_back('e');
  s.append(std::to_string(e10));
  T r{};
  auto res = std::from_chars(s.data(), s.data() + s.size(), r, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    if (e10 > 0) return Parse::Range;
    v = neg ? -T(0) : T(0);
    return Parse::Ok;
  }
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return Parse::Syntax;
  v = r;
  return Parse::Ok;
}

// The token as it appears in a message: bounded in length, non-printing bytes shown as '?'.
std::string shown(std::string_view t) {
  constexpr size_t kMax = 40;
  std::string s = "\"";
  for (size_t i = 0; i < t.size() && i < kMax; ++i) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    s.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
  }
  if (t.size() > kMax) s.append("...");
  s.push_back('"');
  return s;
}

}  // namespace

ListRead::ListRead(TextFileIn& in) : in_(in) {
  if (!in_.next_line(line_)) in_.fail_eof();
}

ListRead::Next ListRead::next(std::string_view& token) {
  for (;;) {
    while (pos_ < line_.size() && is_blank(line_[pos_])) ++pos_;
    if (pos_ == line_.size()) {
      // A line end separates like a blank; the statement goes on with the next line.
      if (!in_.next_line(line_)) in_.fail_eof();
      pos_ = 0;
      continue;
    }
    char c = line_[pos_];
    if (c == ',') {
      ++pos_;
      if (after_value_) {  // the separator after a value
        after_value_ = false;
        continue;
      }
      return Next::Null;  // no value since the last comma (or the start of the statement)
    }
    if (c == '/') {
      slashed_ = true;
      return Next::Slash;
    }
    size_t b = pos_;
    while (pos_ < line_.size() && !is_separator(line_[pos_])) ++pos_;
    token = std::string_view(line_).substr(b, pos_ - b);
    after_value_ = true;
    return Next::Value;
  }
}

bool ListRead::take(std::string_view& token) {
  if (slashed_) return false;
  if (repeat_left_ > 0) {
    --repeat_left_;
    if (repeat_null_) return false;
    token = repeat_value_;
    return true;
  }
  std::string_view t;
  if (next(t) != Next::Value) return false;
  size_t star = t.find('*');
  if (star == std::string_view::npos) {
    token = t;
    return true;
  }
  std::string_view count = t.substr(0, star);
  if (!all_digits(count)) syntax_error(t, "the repeat count is not an unsigned integer");
  uint64_t r = 0;
  if (digits_value(count, std::numeric_limits<int32_t>::max(), r) != Parse::Ok) {
    conversion_error(t, "the repeat count is out of range");
  }
  if (r == 0) syntax_error(t, "the repeat count is zero");
  repeat_left_ = static_cast<int64_t>(r) - 1;
  repeat_null_ = star + 1 == t.size();
  if (repeat_null_) return false;
  repeat_value_.assign(t.substr(star + 1));
  token = repeat_value_;
  return true;
}

bool ListRead::item(int32_t& v) {
  std::string_view t;
  if (!take(t)) return false;
  int32_t x = 0;
  switch (parse_int(t, x)) {
    case Parse::Ok:
      v = x;
      return true;
    case Parse::Syntax:
      syntax_error(t, "an integer was expected");
    case Parse::Range:
      conversion_error(t, "the integer is beyond the 32-bit range");
  }
  return false;
}

namespace {

template <class T>
constexpr const char* kRangeText = "the value is beyond the double precision range";
template <>
constexpr const char* kRangeText<float> = "the value is beyond the single precision range";

}  // namespace

template <class T>
bool ListRead::item_real(T& v) {
  std::string_view t;
  if (!take(t)) return false;
  T x = 0;
  switch (parse_real(t, x)) {
    case Parse::Ok:
      v = x;
      return true;
    case Parse::Syntax:
      syntax_error(t, "a real number was expected");
    case Parse::Range:
      conversion_error(t, kRangeText<T>);
  }
  return false;
}

bool ListRead::item(float& v) {
  return item_real(v);
}
bool ListRead::item(double& v) {
  return item_real(v);
}

void ListRead::end() {
  // The next statement starts on a new line, so the rest of this one is simply left unread.
  repeat_left_ = 0;
  pos_ = line_.size();
}

void ListRead::syntax_error(std::string_view token, std::string_view what) const {
  in_.fail(kSyntaxError, "line " + std::to_string(in_.line_number()) + ": " + shown(token) + ", " +
                             std::string(what));
}

void ListRead::conversion_error(std::string_view token, std::string_view what) const {
  in_.fail(kConversionError, "line " + std::to_string(in_.line_number()) + ": " + shown(token) +
                                 ", " + std::string(what));
}

}  // namespace drav::recio
