// Shared pieces of the fuzz targets: a scratch directory of the process (tests/support, as the
// tests have it), files written into it, and the splitting of one input into the several files a
// target needs.
//
// Every target defines LLVMFuzzerTestOneInput. A fatal report (recio::FatalError, or the
// builder's DescriptionError) is the expected answer to bad input and is caught there;
// anything else that escapes, a crash or a sanitizer report is a fault. Checks of the
// targets' own end in abort() through FUZZ_CHECK, so that both the fuzzer and the corpus
// replayer stop on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recio/fatal.h"
#include "recio/listin.h"
#include "recio/textio.h"
#include "tests/support/scratch.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

namespace drav::fuzz {

// A directory of its own for this process, removed with its files at a normal exit.
inline const testing::TempDir& scratch_dir() {
  static const testing::TempDir d("drav-fuzz");
  return d;
}

using testing::InDir;
using testing::write_file;

inline constexpr std::string_view kSeparator = "\n@@@@\n";
inline std::vector<std::string_view> split_parts(std::string_view in, size_t max_parts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    const size_t at = in.find(kSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(in.substr(0, at));
    in.remove_prefix(at + kSeparator.size());
  }
  parts.push_back(in);
  return parts;
}

// The model sizes of the first statement of a COMZOR.DAT (NNODE NBLK NSPR NUMEL NDOFN NEMAX
// NBAND), read with the program's own reader; nothing when that statement does not read.
struct Sizes {
  int32_t NNODE = 0, NBLK = 0, NSPR = 0, NUMEL = 0, NDOFN = 0, NEMAX = 0, NBAND = 0;
};
inline std::optional<Sizes> peek_sizes(const std::string& path) {
  Sizes s;
  try {
    recio::TextFileIn in(2, path);
    recio::ListRead r(in);
    for (int32_t* f : {&s.NNODE, &s.NBLK, &s.NSPR, &s.NUMEL, &s.NDOFN, &s.NEMAX, &s.NBAND}) {
      r.item(*f);
    }
  } catch (const recio::FatalError&) {
    return std::nullopt;
  }
  return s;
}

inline int64_t nonneg(int32_t v) {
  return v > 0 ? v : 0;
}

// True when a message starts with the condition text of a fatal report.
inline bool reports(const recio::FatalError& e, std::string_view condition) {
  return std::string_view(e.what()).substr(0, condition.size()) == condition;
}

}  // namespace drav::fuzz
