// SeqReader on arbitrary bytes, with reads of varied sizes.
//
// Input: byte 0 gives the number of operations (1 to 8), the next bytes one operation each,
// the rest is the file. Every answer of the reader is compared with a reference walk of the
// record framing written here from the framing rules alone: the same records, the same data
// bytes, and the same condition when it refuses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz/harness.h"
#include "recio/binrec.h"

namespace {

using drav::recio::FatalError;

enum class Ref { Ok, EndOfFile, ReadError };

struct RefRecord {
  Ref status = Ref::Ok;
  std::vector<unsigned char> data;
  int64_t end = 0;
};

int32_t len_at(std::string_view f, int64_t off) {
  uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = u << 8 | static_cast<unsigned char>(f[off + i]);
  return static_cast<int32_t>(u);
}

// The record at `pos`: a chain of frames L data L; a negative leading length announces a
// continuation, whose trailing length is negative (zero carries no sign).
RefRecord reference(std::string_view f, int64_t pos) {
  RefRecord r;
  const auto size = static_cast<int64_t>(f.size());
  if (pos >= size) {
    r.status = Ref::EndOfFile;
    return r;
  }
  for (bool first = true;; first = false) {
    if (size - pos < 8) {
      r.status = Ref::ReadError;
      return r;
    }
    const int32_t lead = len_at(f, pos);
    const int64_t len = lead < 0 ? -int64_t{lead} : lead;
    if (pos + 8 + len > size) {
      r.status = Ref::ReadError;
      return r;
    }
    const int32_t trail = len_at(f, pos + 4 + len);
    const int64_t tlen = trail < 0 ? -int64_t{trail} : trail;
    if (tlen != len || (first && trail < 0) || (!first && trail > 0)) {
      r.status = Ref::ReadError;
      return r;
    }
    r.data.insert(r.data.end(), f.begin() + pos + 4, f.begin() + pos + 4 + len);
    pos += 8 + len;
    if (lead >= 0) break;
  }
  r.end = pos;
  return r;
}

// Operation byte: 0 skips a record, 1 asks its length, 2 asks at_end, 3 reads an array too
// large for any record; otherwise a read of (c-4) bytes below 68, of (c-68)^2 bytes above.
size_t read_size(uint8_t c) {
  return c < 68 ? size_t{c} - 4 : (size_t{c} - 68) * (size_t{c} - 68);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drav;
  if (size < 1) return 0;
  const size_t nops = std::min<size_t>(data[0] % 8 + 1, size - 1);
  const uint8_t* ops = data + 1;
  const std::string_view file(reinterpret_cast<const char*>(data + 1 + nops), size - 1 - nops);
  const auto& dir = fuzz::scratch_dir();
  const std::string path = dir.file("seq.UNF");
  fuzz::write_file(path, file);

  recio::SeqReader rd(2, path);
  int64_t pos = 0;
  std::vector<unsigned char> buf;
  for (size_t k = 0; k < nops; ++k) {
    const uint8_t c = ops[k];
    if (c == 2) {
      FUZZ_CHECK(rd.at_end() == (pos >= static_cast<int64_t>(file.size())));
      continue;
    }
    const RefRecord ref = reference(file, pos);
    const size_t want = c >= 4 ? read_size(c) : 0;
    try {
      if (c == 1) {
        const int64_t n = rd.record_length();
        FUZZ_CHECK(ref.status == Ref::Ok && n == static_cast<int64_t>(ref.data.size()));
      } else if (c == 3) {
        recio::read_array(rd, static_cast<double*>(nullptr), INT64_MAX / 4);
        FUZZ_CHECK(false);
      } else {
        buf.assign(want + 1, 0xA5);
        rd.read(want > 0 ? buf.data() : nullptr, want);
        FUZZ_CHECK(ref.status == Ref::Ok && ref.data.size() >= want);
        FUZZ_CHECK(want == 0 || std::memcmp(buf.data(), ref.data.data(), want) == 0);
        FUZZ_CHECK(buf[want] == 0xA5);  // nothing past the requested bytes
      }
      pos = ref.end;
      FUZZ_CHECK(rd.records_read() >= 1);
    } catch (const FatalError& e) {
      if (c == 3) {
        FUZZ_CHECK(fuzz::reports(e, recio::kTooMuchData));
      } else if (ref.status == Ref::EndOfFile) {
        FUZZ_CHECK(fuzz::reports(e, recio::kEndOfFile));
      } else if (ref.status == Ref::ReadError) {
        FUZZ_CHECK(fuzz::reports(e, recio::kReadError));
      } else {
        FUZZ_CHECK(c >= 4 && ref.data.size() < want && fuzz::reports(e, recio::kTooMuchData));
      }
      return 0;  // the run would end here
    }
  }
  return 0;
}
