// The fatal report a call ends with, as text, for the tests of the program's failures.
#pragma once

#include <string>
#include <utility>

#include "recio/fatal.h"

namespace drav::testing {

// What `f()` ends with as its fatal report (recio::FatalError), or "(no failure)".
template <class F>
std::string fatal_text(F&& f) {
  try {
    std::forward<F>(f)();
  } catch (const recio::FatalError& e) {
    return e.what();
  }
  return "(no failure)";
}

}  // namespace drav::testing
