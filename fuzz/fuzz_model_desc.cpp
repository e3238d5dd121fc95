// The model builder's description parser on arbitrary text, and the model files computed
// from every description it accepts.
//
// Checked besides crashes: an accepted description is consistent (node, support and bar
// arrays of the declared sizes, every bar between two different existing nodes), and the
// COMZOR.DAT the builder writes for it reads back through the program's own reader with the
// same model sizes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/harness.h"
#include "params/compar.h"
#include "params/model_files.h"
#include "params/rcom.h"
#include "tools/mkmodel/model_desc.h"
#include "tools/mkmodel/model_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drav;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  tools::ModelDesc d;
  try {
    d = tools::parse_description(text, "fuzz.txt");
  } catch (const tools::DescriptionError&) {
    return 0;
  }
  const int64_t entries = int64_t{d.nnode} * d.ndofn;
  FUZZ_CHECK(d.ndofn >= 1 && d.nnode >= 1);
  FUZZ_CHECK(static_cast<int64_t>(d.coord.size()) == entries);
  FUZZ_CHECK(static_cast<int64_t>(d.fixed.size()) == entries);
  FUZZ_CHECK(static_cast<int64_t>(d.spring.size()) == entries);
  for (const auto& b : d.bars) {
    FUZZ_CHECK(b.ni >= 1 && b.ni <= d.nnode && b.nf >= 1 && b.nf <= d.nnode && b.ni != b.nf);
  }

  tools::ModelFiles m;
  try {
    m = tools::build_model(d);
  } catch (const tools::DescriptionError&) {
    return 0;
  }
  FUZZ_CHECK(m.NNODE == d.nnode && m.NDOFN == d.ndofn);
  FUZZ_CHECK(m.NUMEL == static_cast<int32_t>(d.bars.size()));
  FUZZ_CHECK(static_cast<int64_t>(m.NEI.size()) == int64_t{m.NNODE} * m.NEMAX);
  for (int32_t e = 1; e <= m.NUMEL; ++e) {
    FUZZ_CHECK(static_cast<int64_t>(tools::el_record(m, e).size()) <=
               int64_t{4} * ElRecord::units(m.NDOFN));
  }

  const auto& dir = fuzz::scratch_dir();
  const std::string path = dir.file("COMZOR.DAT");
  fuzz::write_file(path, tools::comzor_text(m));
  COMPAR c;
  try {
    RCOM(c, 2, path);
  } catch (const recio::FatalError& e) {
    std::fprintf(stderr, "the builder's COMZOR.DAT does not read back: %s\n", e.what());
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(c.NNODE == m.NNODE && c.NBLK == m.NBLK && c.NSPR == m.NSPR && c.NUMEL == m.NUMEL &&
             c.NDOFN == m.NDOFN && c.NEMAX == m.NEMAX && c.NBAND == m.NBAND && c.NEQ == m.NEQ &&
             c.ITER == m.ITER);
  return 0;
}
