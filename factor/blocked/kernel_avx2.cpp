// The kernels for AVX2 (this file is compiled with -mavx2 and without FMA): a 6 x 8 tile, twelve
// accumulators of four lanes in the sixteen vector registers.
#include "factor/blocked/isa.h"

#if defined(__x86_64__) && defined(__AVX2__)

#include "factor/blocked/tile_kernels.h"
#include "factor/blocked/vec256.h"

namespace drav::blocked {

namespace {
// Set before the program starts, by no code of this file: nothing here may run on a processor
// without its instruction set.
constinit const Kernels kTable = TileKernels<Vec256, 6, 2>::table(Isa::Avx2);
}  // namespace

const Kernels* avx2_kernels() {
  return &kTable;
}

}  // namespace drav::blocked

#else

namespace drav::blocked {
const Kernels* avx2_kernels() {
  return nullptr;
}
}  // namespace drav::blocked

#endif
