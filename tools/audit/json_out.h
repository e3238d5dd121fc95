// A small streaming JSON writer: objects and arrays indented two blanks a level, numbers in
// the shortest form that reads back as the same double, non-finite numbers as null.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace drav::audit {

class JsonOut {
 public:
  explicit JsonOut(std::ostream& out) : out_(out) {}

  JsonOut& begin_object();
  JsonOut& end_object();
  JsonOut& begin_array();
  JsonOut& end_array();
  // The name of the next member of the current object.
  JsonOut& key(std::string_view name);

  JsonOut& value(double v);
  JsonOut& value(int64_t v);
  JsonOut& value(int32_t v) { return value(static_cast<int64_t>(v)); }
  JsonOut& value(bool v);
  JsonOut& value(std::string_view s);
  JsonOut& value(const char* s) { return value(std::string_view(s)); }
  JsonOut& null();
  // An array of integers on one line.
  JsonOut& value(const std::vector<int32_t>& v);
  JsonOut& value(const std::vector<int64_t>& v);

  // Ends the document with a line end.
  void finish() { out_ << "\n"; }

 private:
  void before_value();
  void open(char bracket);
  void close(char bracket);

  std::ostream& out_;
  std::vector<bool> first_;  // per open level: no member written yet
  bool after_key_ = false;
};

// s with the JSON escapes, without the quotes.
std::string json_escape(std::string_view s);

}  // namespace drav::audit
