#include "recio/fatal.h"

#include "recio/os_file.h"

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

void os_fail(std::string_view condition, int unit, std::string_view file, const os::Status& st,
             std::string_view where) {
  std::string detail(where);
  if (!detail.empty() && !st.detail.empty()) detail.append(": ");
  detail.append(st.detail);
  io_fail(condition, unit, file, detail);
}

void open_fail(int unit, std::string_view file, const os::Status& st, bool must_exist) {
  if (must_exist && st.kind == os::Status::Kind::NotFound) io_fail(kFileNotFound, unit, file);
  os_fail(kOpenFailure, unit, file, st);
}

void fail(std::string_view message) {
  throw FatalError(std::string(message));
}

std::string file_place(std::string_view file, int unit, std::string_view where) {
  std::string m(file);
  m.append(", unit ");
  m.append(std::to_string(unit));
  if (!where.empty()) {
    m.append(", ");
    m.append(where);
  }
  return m;
}

void fail_at(std::string_view file, int unit, std::string_view where, std::string_view what) {
  fail(file_place(file, unit, where) + ": " + std::string(what));
}

}  // namespace drav::recio
