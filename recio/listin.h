// Free-format (list-directed) input: one read statement without an edit sequence.
//
// Values are separated by blanks, commas or line ends. A statement starts on a new line,
// takes as many lines as its items need, and discards the rest of its last line. Two commas
// with only blanks between them give a null value (the item keeps its value); r*c stands for r
// copies of c and r* for r null values; "/" ends the statement (the remaining items keep their
// values). Malformed values are "list-directed I/O syntax error", well-formed numbers that do
// not fit the item's type "input conversion error", the end of the file "end-of-file during
// read", each naming the unit, the file and the line.
#pragma once

#include <cstdint>
#include <string>

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

  // Ends the statement: the rest of the current line is discarded.
  void end();

 private:
  // implementation state: the current line, the position in it, a pending repeat, the slash
  TextFileIn& in_;
  std::string line_;
  size_t pos_ = 0;
  bool slashed_ = false;
  int64_t repeat_left_ = 0;
  bool repeat_null_ = false;
  std::string repeat_value_;
  bool after_value_ = false;  // a value (or null) was taken and its separator not yet consumed
};

}  // namespace drav::recio
