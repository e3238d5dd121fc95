// RCOM on arbitrary COMZOR.DAT bytes.
//
// The support arrays hold NNODE x NDOFN entries. A repeat count ("1 400000000*1") can fill
// millions of them from a few bytes, which is correct reading but no use to the fuzzer: the
// target leaves out inputs whose support arrays would exceed kMaxSupportEntries.
#include <cstddef>
#include <cstdint>

#include "fuzz/harness.h"
#include "params/compar.h"
#include "params/rcom.h"

namespace {
constexpr int64_t kMaxSupportEntries = int64_t{1} << 22;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drav;
  const auto& dir = fuzz::scratch_dir();
  const std::string path = dir.file("COMZOR.DAT");
  fuzz::write_file(path, {reinterpret_cast<const char*>(data), size});
  if (auto s = fuzz::peek_sizes(path)) {
    if (fuzz::nonneg(s->NNODE) * fuzz::nonneg(s->NDOFN) > kMaxSupportEntries) return 0;
  }
  COMPAR c;
  try {
    RCOM(c, 2, path);
  } catch (const recio::FatalError&) {
    return 0;
  }
  // A block that was read has support arrays of the declared size.
  const int64_t entries = fuzz::nonneg(c.NNODE) * fuzz::nonneg(c.NDOFN);
  FUZZ_CHECK(c.IBLK.allocated() && c.IBLK.size() == entries);
  FUZZ_CHECK(c.ELSUP.allocated() && c.ELSUP.size() == entries);
  (void)c.report_path();
  return 0;
}
