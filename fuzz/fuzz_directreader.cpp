// DirectReader on arbitrary bytes.
//
// Input: bytes 0-1 the record length in 4-byte units (signed, little-endian), byte 2 the
// number of reads (1 to 8), then 3 bytes per read: the record number (signed; 127 and -128
// stand for the largest and smallest 64-bit numbers) and the byte count; the rest is the file.
// Each read is compared with the bytes of the file at (n-1) x record length, and each refusal
// with the condition the rules give.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "fuzz/harness.h"
#include "recio/binrec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drav;
  if (size < 3) return 0;
  const auto units = static_cast<int16_t>(data[0] | data[1] << 8);
  const size_t nreads = std::min<size_t>(data[2] % 8 + 1, (size - 3) / 3);
  const uint8_t* ops = data + 3;
  const std::string_view file(reinterpret_cast<const char*>(ops + 3 * nreads),
                              size - 3 - 3 * nreads);
  const auto& dir = fuzz::scratch_dir();
  const std::string path = dir.file("el.unf");
  fuzz::write_file(path, file);
  const auto fsize = static_cast<int64_t>(file.size());

  try {
    recio::DirectReader rd(2, path, units);
    FUZZ_CHECK(units >= 1);
    const int64_t reclen = int64_t{4} * units;
    FUZZ_CHECK(rd.record_bytes() == reclen && rd.record_count() == fsize / reclen);
    std::vector<unsigned char> buf;
    for (size_t k = 0; k < nreads; ++k) {
      const auto r8 = static_cast<int8_t>(ops[3 * k]);
      const int64_t recno = r8 == 127    ? std::numeric_limits<int64_t>::max()
                            : r8 == -128 ? std::numeric_limits<int64_t>::min()
                                         : r8;
      const size_t n = ops[3 * k + 1] | size_t{ops[3 * k + 2]} << 8;
      const bool exists =
          recno >= 1 && recno - 1 < fsize / reclen + 1 && (recno - 1) * reclen < fsize;
      buf.assign(n + 1, 0x5A);
      try {
        rd.read(recno, n > 0 ? buf.data() : nullptr, n);
      } catch (const recio::FatalError& e) {
        if (!exists) {
          FUZZ_CHECK(fuzz::reports(e, recio::kNoRecord));
        } else if (static_cast<int64_t>(n) > reclen) {
          FUZZ_CHECK(fuzz::reports(e, recio::kTooMuchData));
        } else {
          FUZZ_CHECK(fsize - (recno - 1) * reclen < static_cast<int64_t>(n));
          FUZZ_CHECK(fuzz::reports(e, recio::kEndOfFile));
        }
        return 0;
      }
      FUZZ_CHECK(exists && static_cast<int64_t>(n) <= reclen);
      const int64_t start = (recno - 1) * reclen;
      FUZZ_CHECK(fsize - start >= static_cast<int64_t>(n));
      FUZZ_CHECK(std::memcmp(buf.data(), file.data() + start, n) == 0);
      FUZZ_CHECK(buf[n] == 0x5A);
    }
  } catch (const recio::FatalError& e) {
    FUZZ_CHECK(units < 1 && fuzz::reports(e, recio::kOpenFailure));
  }
  return 0;
}
