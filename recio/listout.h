// Free-format (list-directed) output: one write statement without an edit sequence.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drav::recio {

class TextSink;

// Collects the items of one free-format write statement and lays them out in lines of at most
// 80 characters: integers as I12, reals as G15.7, doubles as G24.15, texts as themselves (a
// text item gets one blank before it at the start of a line or after a numeric item). A
// statement that writes nothing gives one line holding one blank.
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
  bool started_ = false;     // a line is open
  bool last_numeric_ = false;
};

}  // namespace drav::recio
