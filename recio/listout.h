// Free-format (list-directed) output: one write statement without an edit sequence.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drav::recio {

class TextSink;

// Collects the items of one free-format write statement and lays them out in lines of at most
// 80 characters: integers as I12, reals as G15.7, doubles as G24.15, texts as themselves.
// - Numeric fields follow each other with no separator; a numeric field that does not fit in
//   what remains of the line ends the line and starts the next one.
// - A text item gets one blank before it when it is the first item of a line or follows a
//   numeric item. A text item that (with that blank) does not fit on a non-empty line starts a
//   new line; a text longer than a whole line is written whole on its own line, never cut,
//   and the item after it starts a new line if it is numeric.
// - A statement that writes nothing gives one line holding one blank.
// finish() and write_to() end the statement and leave the writer empty for the next one.
class ListWriter {
 public:
  ListWriter& item(int32_t v);
  ListWriter& item(float v);
  ListWriter& item(double v);
  ListWriter& item(std::string_view text);
  ListWriter& item(const char* text) { return item(std::string_view(text)); }

  // Ends the statement and returns its lines (without line terminators).
  std::vector<std::string> finish();
  // Ends the statement and writes its lines to `out`.
  void write_to(TextSink& out);

 private:
  void numeric(const std::string& field);
  std::vector<std::string> lines_;
  std::string cur_;
  bool started_ = false;  // a line is open
  bool last_numeric_ = false;
};

}  // namespace drav::recio
