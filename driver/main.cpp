#include <cstdio>
#include <exception>

#include "driver/drav.h"
#include "recio/fatal.h"

int main() {
  drav::recio::ConsoleSink console;
  try {
    return drav::DRAV_LU(console);
  } catch (const drav::recio::FatalError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "drav: %s\r\n", e.what());
    return drav::kExitFatal;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "drav: %s\r\n", e.what());
    return drav::kExitFatal;
  }
}
