// The free-format reader on arbitrary text, with a fixed sequence of statements whose items
// are integers, reals and doubles.
//
// Checked besides crashes: an item that reports no value keeps what it held; a value that is
// stored is finite (the reader accepts no infinity or NaN, and refuses out-of-range values);
// after "/" every item of the statement keeps its value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "fuzz/harness.h"

namespace {

// Item kinds of the statements, one letter each: i integer, f real, d double.
constexpr const char* kStatements[] = {
    "iiiiiii", "i", "iffd", "ffffffffffiiiii", "ifiiif", "i", "iiiiffi", "d", "dddd", "fi"};

template <class T>
void check_item(drav::recio::ListRead& r, T sentinel) {
  T v = sentinel;
  const bool was_slashed = r.slashed();
  const bool stored = r.item(v);
  if (!stored) {
    FUZZ_CHECK(std::memcmp(&v, &sentinel, sizeof v) == 0);
  } else {
    FUZZ_CHECK(!was_slashed);
    if constexpr (!std::is_integral_v<T>) FUZZ_CHECK(std::isfinite(v));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drav;
  const auto& dir = fuzz::scratch_dir();
  const std::string path = dir.file("list.txt");
  fuzz::write_file(path, {reinterpret_cast<const char*>(data), size});
  try {
    recio::TextFileIn in(2, path);
    for (const char* stmt : kStatements) {
      recio::ListRead r(in);
      for (const char* k = stmt; *k != '\0'; ++k) {
        switch (*k) {
          case 'i':
            check_item<int32_t>(r, -7777);
            break;
          case 'f':
            check_item<float>(r, -7.5f);
            break;
          default:
            check_item<double>(r, -9.25);
            break;
        }
      }
      r.end();
    }
    // Whole-line input after the statements, as the parameter file ends.
    char field[20];
    in.read_A(field, sizeof field);
    in.close();
  } catch (const recio::FatalError&) {
  }
  return 0;
}
