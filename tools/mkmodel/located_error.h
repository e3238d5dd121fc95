// How the builder names a place in the description it reads: "file:line: message", or
// "file: message" where no line applies, as compilers do; warnings read "file:line: warning:
// message". The one helper of the parser, the whole-model checks and the file contents, so that
// every message about a description has the same shape.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace drav::tools {

// "file:line: message"; line 0 or less: "file: message".
inline std::string located(std::string_view file, int line, std::string_view message) {
  std::string s(file);
  if (line > 0) s += ":" + std::to_string(line);
  s += ": ";
  s += message;
  return s;
}

// "file:line: warning: message".
inline std::string located_warning(std::string_view file, int line, std::string_view message) {
  return located(file, line, "warning: " + std::string(message));
}

// An input that a tool refuses; what() is the located message.
class LocatedError : public std::runtime_error {
 public:
  LocatedError(std::string_view file, int line, std::string_view message)
      : std::runtime_error(located(file, line, message)) {}
};

}  // namespace drav::tools
