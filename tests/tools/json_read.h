// A strict reader of JSON documents for the tests: any text that is not one well-formed JSON
// value (trailing text included) throws.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace drav::tooltest {

struct Json {
  enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
  bool b = false;
  double num = 0;
  std::string str;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  // Member `k` of an object; throws when it is missing or this is not an object.
  const Json& operator[](const std::string& k) const {
    if (type != Type::Object) throw std::runtime_error("not an object, looking for " + k);
    const auto it = members.find(k);
    if (it == members.end()) throw std::runtime_error("no member " + k);
    return it->second;
  }
  const Json& operator[](size_t i) const { return items.at(i); }
  size_t size() const { return type == Type::Object ? members.size() : items.size(); }
  int integer() const { return static_cast<int>(num); }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}

  Json document() {
    Json v = value();
    blanks();
    if (i_ != s_.size()) fail("text after the document");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(i_));
  }
  char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  char take() { return i_ < s_.size() ? s_[i_++] : '\0'; }
  void blanks() {
    while (i_ < s_.size() &&
           (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) {
      ++i_;
    }
  }
  bool word(const char* w) {
    const std::string t(w);
    if (s_.compare(i_, t.size(), t) != 0) return false;
    i_ += t.size();
    return true;
  }
  std::string string() {
    if (peek() != '"') fail("string expected");
    std::string r;
    for (++i_; i_ < s_.size() && s_[i_] != '"'; ++i_) {
      if (static_cast<unsigned char>(s_[i_]) < 0x20) fail("control character in a string");
      if (s_[i_] != '\\') {
        r += s_[i_];
        continue;
      }
      if (++i_ == s_.size()) fail("end in an escape");
      const char e = s_[i_];
      if (e == 'u') {
        if (i_ + 4 >= s_.size()) fail("short \\u escape");
        r += static_cast<char>(std::stoi(s_.substr(i_ + 1, 4), nullptr, 16));
        i_ += 4;
      } else {
        const std::string from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
        const size_t k = from.find(e);
        if (k == std::string::npos) fail("bad escape");
        r += to[k];
      }
    }
    if (i_ == s_.size()) fail("unterminated string");
    ++i_;
    return r;
  }
  Json value() {
    blanks();
    if (i_ == s_.size()) fail("value expected");
    Json v;
    const char c = s_[i_];
    if (c == '{') {
      v.type = Json::Type::Object;
      ++i_;
      blanks();
      if (peek() == '}') {
        ++i_;
        return v;
      }
      for (;;) {
        blanks();
        const std::string k = string();
        blanks();
        if (take() != ':') fail("':' expected");
        if (!v.members.emplace(k, value()).second) fail("member " + k + " twice");
        blanks();
        if (peek() == ',') {
          ++i_;
          continue;
        }
        if (take() != '}') fail("'}' expected");
        return v;
      }
    }
    if (c == '[') {
      v.type = Json::Type::Array;
      ++i_;
      blanks();
      if (peek() == ']') {
        ++i_;
        return v;
      }
      for (;;) {
        v.items.push_back(value());
        blanks();
        if (peek() == ',') {
          ++i_;
          continue;
        }
        if (take() != ']') fail("']' expected");
        return v;
      }
    }
    if (c == '"') {
      v.type = Json::Type::String;
      v.str = string();
      return v;
    }
    if (word("null")) return v;
    if (word("true") || word("false")) {
      v.type = Json::Type::Bool;
      v.b = s_[i_ - 1] == 'e' && s_[i_ - 4] == 't';
      return v;
    }
    // A number in the JSON grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    const size_t start = i_;
    auto digits = [&] {
      const size_t from = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      return i_ > from;
    };
    if (peek() == '-') ++i_;
    if (i_ < s_.size() && s_[i_] == '0') {
      ++i_;
    } else if (!digits()) {
      fail("value expected");
    }
    if (i_ < s_.size() && s_[i_] == '.' && (++i_, !digits())) fail("digits after '.'");
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!digits()) fail("exponent digits");
    }
    v.type = Json::Type::Number;
    v.num = std::strtod(s_.substr(start, i_ - start).c_str(), nullptr);
    return v;
  }

  const std::string& s_;
  size_t i_ = 0;
};

inline Json parse_json(const std::string& text) {
  return JsonReader(text).document();
}

}  // namespace drav::tooltest
