// The kernels for AVX-512 on 512-bit vectors (this file is compiled with -mavx512f
// -mavx512vl): eight lanes, and the 32 registers hold an 8 x 24 tile in 24 accumulators. Where
// the processor's multiply and add units are 512 bits wide this does twice the work of the
// 256-bit kernels in each instruction; where it splits them, as many.
#include "factor/blocked/isa.h"

#if defined(__x86_64__) && defined(__AVX512F__) && defined(__AVX512VL__)

#include "factor/blocked/tile_kernels.h"
#include "factor/blocked/vec512.h"

namespace drav::blocked {

namespace {
// Set before the program starts, by no code of this file: nothing here may run on a processor
// without its instruction set.
constinit const Kernels kTable = TileKernels<Vec512, 8, 3>::table(Isa::Avx512Wide);
}  // namespace

const Kernels* avx512_wide_kernels() {
  return &kTable;
}

}  // namespace drav::blocked

#else

namespace drav::blocked {
const Kernels* avx512_wide_kernels() {
  return nullptr;
}
}  // namespace drav::blocked

#endif
