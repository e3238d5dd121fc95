// The kernels for AVX-512 (this file is compiled with -mavx512f -mavx512vl): 256-bit vectors,
// which run at the full rate of the multiply and add units on every processor that has
// AVX-512, but with the 32 vector registers, which hold an 8 x 12 tile: 24 accumulators.
#include "factor/blocked/isa.h"

#if defined(__x86_64__) && defined(__AVX512F__) && defined(__AVX512VL__)

#include "factor/blocked/tile_kernels.h"
#include "factor/blocked/vec256.h"

namespace drav::blocked {

namespace {
// Set before the program starts, by no code of this file: nothing here may run on a processor
// without its instruction set.
constinit const Kernels kTable = TileKernels<Vec256, 8, 3>::table(Isa::Avx512);
}  // namespace

const Kernels* avx512_kernels() {
  return &kTable;
}

}  // namespace drav::blocked

#else

namespace drav::blocked {
const Kernels* avx512_kernels() {
  return nullptr;
}
}  // namespace drav::blocked

#endif
