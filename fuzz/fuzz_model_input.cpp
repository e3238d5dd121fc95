// The whole run on a working directory made from one input.
//
// The input is split at "\n@@@@\n" into COMZOR.DAT, temp.dat, nei.UNF, x0.UNF and el.unf, in
// this order; a part the input does not reach leaves its file missing. The program then runs
// in the scratch directory exactly as it does from main(), console output collected.
//
// Limits of the target (not of the program): a model the fuzzer could complete needs no
// large file when it has no elements, yet may still ask for a huge equation table, a matrix
// of NEQ x NEQ doubles, its factorization and a report of its upper triangle, all correct
// work that would only make the fuzzer slow. Inputs beyond the limits below are left out,
// judged by the model sizes that the program's own reader takes from COMZOR.DAT first. The
// limits still let a short model file meet arrays of hundreds of megabytes, calloc'ed and
// untouched until filled, so that the memory limit of the fuzzer catches any reader that
// touches them before the file reports itself. The report file must be a plain name, so that
// the run writes only inside the scratch directory.
//
// Checked besides: drav0.dat holds -1 after every run that did not complete, and no run leaves
// a scratch file of a result file behind.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/drav.h"
#include "fuzz/harness.h"
#include "params/compar.h"
#include "params/rcom.h"

namespace {

constexpr int64_t kMaxSupportEntries = int64_t{1} << 20;  // NNODE x NDOFN
constexpr int64_t kMaxArrayEntries = int64_t{1} << 25;    // NNODE x NEMAX, NUMEL, NUMEL x NDOFN
constexpr int64_t kMaxNdofn = int64_t{1} << 20;           // el.unf record length
constexpr int32_t kMaxNeq = 40;

constexpr const char* kNames[] = {"COMZOR.DAT", "temp.dat", "nei.UNF", "x0.UNF", "el.unf"};

constexpr const char* kFailedStatus = "          -1\r\n";

std::string read_bytes(const char* name) {
  std::string bytes;
  if (std::FILE* f = std::fopen(name, "rb")) {
    char buf[64];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

bool any_scratch_file(const drav::testing::TempDir& dir) {
  for (const std::string& n : dir.names()) {
    if (n.size() > 9 && n.compare(n.size() - 9, 9, ".drav-new") == 0) return true;
  }
  return false;
}

bool within_limits(const drav::fuzz::Sizes& s) {
  using drav::fuzz::nonneg;
  const int64_t nn = nonneg(s.NNODE), ne = nonneg(s.NUMEL), nd = nonneg(s.NDOFN),
                nm = nonneg(s.NEMAX);
  return nn * nd <= kMaxSupportEntries && nn * nm <= kMaxArrayEntries && ne <= kMaxArrayEntries &&
         ne * nd <= kMaxArrayEntries && nd <= kMaxNdofn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drav;
  const auto& dir = fuzz::scratch_dir();
  // The run works in the current directory; the fuzzer's own paths are relative to the one
  // it started in, so that is restored afterwards.
  const fuzz::InDir in_dir(dir.path());
  dir.clear();
  const auto parts = fuzz::split_parts({reinterpret_cast<const char*>(data), size}, 5);
  for (size_t i = 0; i < parts.size(); ++i) fuzz::write_file(kNames[i], parts[i]);

  if (auto s = fuzz::peek_sizes("COMZOR.DAT"); s && !within_limits(*s)) return 0;
  {
    COMPAR c;
    try {
      RCOM(c, 2);
    } catch (const recio::FatalError&) {
      return 0;  // the run ends the same way, at its first step
    }
    if (c.NEQ > kMaxNeq) return 0;
    // A report file must be a plain name, and not one that the checks below look at.
    const std::string rep = c.report_path();
    if (rep.find('/') != std::string::npos || rep == "drav0.dat" ||
        rep.find(".drav-new") != std::string::npos) {
      return 0;
    }
  }

  recio::StringSink console;
  int status = kExitFatal;
  try {
    status = DRAV_LU(console);
    FUZZ_CHECK(status == kExitOk || status == kExitStop || status == kExitNoMatrix);
  } catch (const recio::FatalError&) {
  }
  // Only a completed run may leave a status other than -1, and no run leaves a scratch file.
  const std::string drav0 = read_bytes("drav0.dat");
  FUZZ_CHECK(drav0 == kFailedStatus || (status == kExitOk && drav0 == "           0\r\n"));
  FUZZ_CHECK(!any_scratch_file(dir));
  return 0;
}
