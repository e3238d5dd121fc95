// The instruction-set variants of the kernels, one row each. The chooser (select.cpp), the tests
// and the benchmark all go through this table, so a new variant is a kernel file (its table
// from tile_kernels.h over a vector type of its own, compiled with its flags in CMakeLists.txt),
// an enumerator of Isa and a row here.
#pragma once

#include "factor/blocked/kernels.h"

namespace drav::blocked {

// The table of each kernel file; nullptr where this build has none (not x86-64, or a compiler
// without the flags).
const Kernels* portable_kernels();
const Kernels* avx2_kernels();
const Kernels* avx512_kernels();
const Kernels* avx512_wide_kernels();

// Whether the processor, and its operating system (which must save the wide registers), runs
// the instructions of a variant. Compiled for the baseline processor, in select.cpp.
bool always_runs();
bool runs_avx2();
bool runs_avx512();

struct IsaVariant {
  Isa isa;
  const char* name;             // as the benchmark and the tests print it
  const Kernels* (*kernels)();  // the variant's table, nullptr when not built
  bool (*processor_runs)();
};

// The fastest first: Best is the first row that is built and runs here.
inline constexpr IsaVariant kIsaVariants[] = {
    {Isa::Avx512Wide, "avx512-wide", avx512_wide_kernels, runs_avx512},
    {Isa::Avx512, "avx512", avx512_kernels, runs_avx512},
    {Isa::Avx2, "avx2", avx2_kernels, runs_avx2},
    {Isa::Portable, "portable", portable_kernels, always_runs},
};

// The row of `isa`; nullptr for Best.
const IsaVariant* variant_of(Isa isa);

// Built and run by this processor.
bool available(const IsaVariant& v);

}  // namespace drav::blocked
