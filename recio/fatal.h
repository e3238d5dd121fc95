// The fatal error report: every input/output or allocation failure that the program does not
// check itself ends the run with one line naming the condition, the unit and the file.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace drav::recio {

// Condition texts of the run-time's fatal report.
inline constexpr std::string_view kFileNotFound = "file not found";
inline constexpr std::string_view kOpenFailure = "open failure";
inline constexpr std::string_view kEndOfFile = "end-of-file during read";
inline constexpr std::string_view kTooMuchData = "input statement requires too much data";
inline constexpr std::string_view kNoRecord = "attempt to access non-existent record";
inline constexpr std::string_view kSyntaxError = "list-directed I/O syntax error";
inline constexpr std::string_view kConversionError = "input conversion error";
inline constexpr std::string_view kReadError = "error during read";
inline constexpr std::string_view kWriteError = "error during write";
inline constexpr std::string_view kNoMemory = "insufficient virtual memory";
inline constexpr std::string_view kSizeOverflow =
    "Cannot allocate array - overflow on array size calculation.";

// Thrown to end the run; main() prints what() as one line on standard error and exits with
// a non-zero status. Never caught anywhere else.
class FatalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "condition, unit N, file F", followed by " (detail)" when a detail is given.
std::string io_message(std::string_view condition, int unit, std::string_view file,
                       std::string_view detail = {});

[[noreturn]] void io_fail(std::string_view condition, int unit, std::string_view file,
                          std::string_view detail = {});

namespace os {
struct Status;
}

// The fatal report of a failed platform call on a unit: `condition` with the system's words
// (and `where`, e.g. the record) as the detail.
[[noreturn]] void os_fail(std::string_view condition, int unit, std::string_view file,
                          const os::Status& st, std::string_view where = {});

// The fatal report of a failed open: "file not found" for a missing file that had to exist,
// "open failure" otherwise (a file to be created whose directory is missing, among others).
[[noreturn]] void open_fail(int unit, std::string_view file, const os::Status& st,
                            bool must_exist = true);

// A failure without a unit (allocation, or a check of the program's own).
[[noreturn]] void fail(std::string_view message);

// Where a check of the program's own found a file wrong, in the one order every detail text
// of ours uses: the file, its unit, then the line or record when there is one ("nei.UNF,
// unit 2", "COMZOR.DAT, unit 2, line 4"). The value that is wrong follows after ": ".
std::string file_place(std::string_view file, int unit, std::string_view where = {});

// fail() with file_place(file, unit, where) + ": " + what.
[[noreturn]] void fail_at(std::string_view file, int unit, std::string_view where,
                          std::string_view what);

}  // namespace drav::recio
