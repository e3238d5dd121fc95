#include <cstdio>
#include <exception>
#include <new>
#include <string>

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
  } catch (const std::bad_alloc&) {
    // Scratch memory of a routine (a row buffer, a line) that could not be had.
    std::fflush(stdout);
    std::fprintf(stderr, "drav: %s\r\n", std::string(drav::recio::kNoMemory).c_str());
    return drav::kExitFatal;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "drav: %s\r\n", e.what());
    return drav::kExitFatal;
  }
}
