// Free-format (list-directed) input: one read statement without an edit sequence.
//
// Values are separated by blanks (or tabs, or a CR that is not part of a line end), commas or
// line ends. A statement starts on a new line, takes as many lines as its items need, and
// discards the rest of its last line. Two commas with only blanks (or line ends) between them
// give a null value (the item keeps its value), as does a comma that opens the statement; r*c
// stands for r copies of c and r* for r null values, and a repeat may run on over later items;
// "/" ends the statement (the remaining items keep their values).
//
// Numbers: an integer is an optional sign and digits. A real is an optional sign, digits with
// an optional point (at least one digit), and an optional exponent: E, e, D or d with an
// optional sign and digits, or a sign and digits without a letter (as in 1.5-3, the form the
// G editing gives three-digit exponents). An integer form is a valid real. Infinity and NaN
// are not accepted: no value the program reads may be non-finite. Reals are rounded correctly
// to the item's type; a result too small for it becomes a subnormal or a signed zero.
//
// Errors: characters that do not form a value of the item's kind (also a repeat count that
// is not a positive integer without sign) are "list-directed I/O syntax error"; a well-formed
// number that the item's type cannot hold (an integer beyond 32 bits, a real beyond the
// type's range, a repeat count beyond 32 bits) is "input conversion error"; the end of the
// file is "end-of-file during read". Each names the unit, the file and the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace drav::recio {

class TextFileIn;

class ListRead {
 public:
  // Starts the statement: takes the next line of `in` (end of file is an error).
  explicit ListRead(TextFileIn& in);

  // Each call transfers one item. True when a value was stored; false when the item kept its
  // value (a null value, or the statement was ended by "/").
  bool item(int32_t& v);
  bool item(float& v);
  bool item(double& v);

  // True once "/" has ended the statement: every further item keeps its value.
  bool slashed() const { return slashed_; }

  // Ends the statement: the rest of the current line is discarded, with any repeat left over.
  void end();

 private:
  enum class Next { Value, Null, Slash };
  // The next value of the statement (a token, a null or the slash), reading further lines as
  // needed. A token stays valid until the next call.
  Next next(std::string_view& token);
  // Handles a pending repeat or fetches the next value; sets `token` when a value is to be
  // converted. False when the item keeps its value.
  bool take(std::string_view& token);
  template <class T>
  bool item_real(T& v);
  [[noreturn]] void syntax_error(std::string_view token, std::string_view what) const;
  [[noreturn]] void conversion_error(std::string_view token, std::string_view what) const;

  TextFileIn& in_;
  std::string line_;
  size_t pos_ = 0;
  bool slashed_ = false;
  int64_t repeat_left_ = 0;  // copies of a repeat still to be handed out
  bool repeat_null_ = false;
  std::string repeat_value_;
  bool after_value_ = false;  // a value (or null) was taken and its separator not yet consumed
};

}  // namespace drav::recio
