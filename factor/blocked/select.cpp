// The run-time choice of the kernel table: the processor's features, read once.
#include "factor/blocked/kernels.h"

namespace drav::blocked {

namespace {

bool cpu_runs(Isa isa) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  // These also check that the operating system saves the wide registers.
  switch (isa) {
    case Isa::Avx2:
      return __builtin_cpu_supports("avx2");
    case Isa::Avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    default:
      return true;
  }
#else
  return isa == Isa::Portable || isa == Isa::Best;
#endif
}

const Kernels* table_of(Isa isa) {
  switch (isa) {
    case Isa::Avx2:
      return avx2_kernels();
    case Isa::Avx512:
      return avx512_kernels();
    default:
      return portable_kernels();
  }
}

}  // namespace

const Kernels& kernels_for(Isa isa) {
  return *table_of(isa_in_use(isa));
}

}  // namespace drav::blocked

namespace drav {

bool isa_available(Isa isa) {
  if (isa == Isa::Best) return true;
  return blocked::table_of(isa) != nullptr && blocked::cpu_runs(isa);
}

Isa isa_in_use(Isa isa) {
  if (isa != Isa::Best && isa_available(isa)) return isa;
  for (Isa best : {Isa::Avx512, Isa::Avx2})
    if (isa_available(best)) return best;
  return Isa::Portable;
}

}  // namespace drav
