#include "recio/listout.h"

#include "recio/text_edit.h"
#include "recio/textio.h"

namespace drav::recio {

namespace {
constexpr size_t kLineLength = 80;
}

void ListWriter::numeric(const std::string& field) {
  if (started_ && cur_.size() + field.size() > kLineLength) {
    lines_.push_back(std::move(cur_));
    cur_.clear();
  }
  cur_.append(field);
  started_ = true;
  last_numeric_ = true;
}

ListWriter& ListWriter::item(int32_t v) {
  numeric(list_int(v));
  return *this;
}

ListWriter& ListWriter::item(float v) {
  numeric(list_real(v));
  return *this;
}

ListWriter& ListWriter::item(double v) {
  numeric(list_double(v));
  return *this;
}

ListWriter& ListWriter::item(std::string_view text) {
  if (started_ && cur_.size() + (last_numeric_ ? 1 : 0) + text.size() > kLineLength) {
    lines_.push_back(std::move(cur_));
    cur_.clear();
    started_ = false;
  }
  if (!started_ || last_numeric_) cur_.push_back(' ');
  cur_.append(text);
  started_ = true;
  last_numeric_ = false;
  return *this;
}

std::vector<std::string> ListWriter::finish() {
  if (started_) {
    lines_.push_back(std::move(cur_));
  } else if (lines_.empty()) {
    lines_.emplace_back(" ");
  }
  std::vector<std::string> out = std::move(lines_);
  lines_.clear();
  cur_.clear();
  started_ = false;
  last_numeric_ = false;
  return out;
}

void ListWriter::write_to(TextSink& out) {
  for (const std::string& line : finish()) out.put(line);
}

}  // namespace drav::recio
