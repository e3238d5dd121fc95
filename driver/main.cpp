#include <exception>
#include <new>
#include <string>

#include "driver/drav.h"
#include "recio/fatal.h"
#include "recio/os_file.h"

namespace {

// The fatal report: one line on standard error. Console records have already reached the
// system (they are written as they are put), so the order of the two streams is kept.
int report_fatal(const std::string& condition) {
  (void)drav::recio::os::write_stream(drav::recio::os::Stream::Err, "drav: " + condition + "\r\n");
  return drav::kExitFatal;
}

}  // namespace

int main() {
  drav::recio::ConsoleSink console;
  try {
    return drav::DRAV_LU(console);
  } catch (const drav::recio::FatalError& e) {
    return report_fatal(e.what());
  } catch (const std::bad_alloc&) {
    // Scratch memory of a routine (a row buffer, a line) that could not be had.
    return report_fatal(std::string(drav::recio::kNoMemory));
  } catch (const std::exception& e) {
    return report_fatal(e.what());
  }
}
