// The run-time choice of the kernel table, from the rows of isa.h and the processor's features.
#include "factor/blocked/isa.h"

namespace drav::blocked {

bool always_runs() {
  return true;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// These also check that the operating system saves the wide registers.
bool runs_avx2() {
  return __builtin_cpu_supports("avx2");
}
bool runs_avx512() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
}
#else
bool runs_avx2() {
  return false;
}
bool runs_avx512() {
  return false;
}
#endif

const IsaVariant* variant_of(Isa isa) {
  for (const IsaVariant& v : kIsaVariants)
    if (v.isa == isa) return &v;
  return nullptr;
}

bool available(const IsaVariant& v) {
  return v.kernels() != nullptr && v.processor_runs();
}

const Kernels& kernels_for(Isa isa) {
  return *variant_of(isa_in_use(isa))->kernels();
}

}  // namespace drav::blocked

namespace drav {

bool isa_available(Isa isa) {
  if (isa == Isa::Best) return true;
  const blocked::IsaVariant* v = blocked::variant_of(isa);
  return v != nullptr && blocked::available(*v);
}

Isa isa_in_use(Isa isa) {
  if (isa != Isa::Best && isa_available(isa)) return isa;
  for (const blocked::IsaVariant& v : blocked::kIsaVariants)
    if (blocked::available(v)) return v.isa;
  return Isa::Portable;
}

}  // namespace drav
