#include "tools/audit/json_out.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace drav::audit {

std::string json_escape(std::string_view s) {
  std::string r;
  for (char ch : s) {
    switch (ch) {
      case '"':
        r += "\\\"";
        break;
      case '\\':
        r += "\\\\";
        break;
      case '\n':
        r += "\\n";
        break;
      case '\r':
        r += "\\r";
        break;
      case '\t':
        r += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(ch) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(ch));
          r += buf;
        } else {
          r += ch;
        }
    }
  }
  return r;
}

void JsonOut::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ << ",";
    first_.back() = false;
    out_ << "\n" << std::string(2 * first_.size(), ' ');
  }
}

void JsonOut::open(char bracket) {
  before_value();
  out_ << bracket;
  first_.push_back(true);
}

void JsonOut::close(char bracket) {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) out_ << "\n" << std::string(2 * first_.size(), ' ');
  out_ << bracket;
}

JsonOut& JsonOut::begin_object() {
  open('{');
  return *this;
}
JsonOut& JsonOut::end_object() {
  close('}');
  return *this;
}
JsonOut& JsonOut::begin_array() {
  open('[');
  return *this;
}
JsonOut& JsonOut::end_array() {
  close(']');
  return *this;
}

JsonOut& JsonOut::key(std::string_view name) {
  before_value();
  out_ << '"' << json_escape(name) << "\": ";
  after_key_ = true;
  return *this;
}

JsonOut& JsonOut::value(double v) {
  before_value();
  if (!std::isfinite(v)) {
    out_ << "null";
    return *this;
  }
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out_.write(buf, r.ptr - buf);
  return *this;
}

JsonOut& JsonOut::value(int64_t v) {
  before_value();
  out_ << v;
  return *this;
}

JsonOut& JsonOut::value(bool v) {
  before_value();
  out_ << (v ? "true" : "false");
  return *this;
}

JsonOut& JsonOut::value(std::string_view s) {
  before_value();
  out_ << '"' << json_escape(s) << '"';
  return *this;
}

JsonOut& JsonOut::null() {
  before_value();
  out_ << "null";
  return *this;
}

namespace {

template <class T>
void integers_on_one_line(std::ostream& out, const std::vector<T>& v) {
  out << '[';
  for (size_t i = 0; i < v.size(); ++i) out << (i ? ", " : "") << v[i];
  out << ']';
}

}  // namespace

JsonOut& JsonOut::value(const std::vector<int32_t>& v) {
  before_value();
  integers_on_one_line(out_, v);
  return *this;
}

JsonOut& JsonOut::value(const std::vector<int64_t>& v) {
  before_value();
  integers_on_one_line(out_, v);
  return *this;
}

}  // namespace drav::audit
