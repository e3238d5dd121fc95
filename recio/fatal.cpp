#include "recio/fatal.h"

namespace drav::recio {

std::string io_message(std::string_view condition, int unit, std::string_view file,
                       std::string_view detail) {
  std::string m;
  m.reserve(condition.size() + file.size() + detail.size() + 32);
  m.append(condition);
  m.append(", unit ");
  m.append(std::to_string(unit));
  m.append(", file ");
  m.append(file);
  if (!detail.empty()) {
    m.append(" (");
    m.append(detail);
    m.append(")");
  }
  return m;
}

void io_fail(std::string_view condition, int unit, std::string_view file, std::string_view detail) {
  throw FatalError(io_message(condition, unit, file, detail));
}

void fail(std::string_view message) {
  throw FatalError(std::string(message));
}

}  // namespace drav::recio
