// What the core gives the product's register tile right now: the 6 x 8 tile of the AVX2
// kernel (a multiply and an addition for each term, as the factorization needs them) and the
// same tile with fused multiply-adds (what dgetrf uses), both with everything in L1, one after
// the other. On an idle core the two rates are about equal (the multiplies and the additions
// go to different pipes); where the core's pipes and instruction issue are shared with other
// work, the separate operations, half again as many instructions, lose more. A benchmark that
// sets the factorization against dgetrf prints the ratio beside its own, so that each figure
// says how much of it the machine's other load explains.
#pragma once

namespace drav::bench {

struct CoreReading {
  double separate = 0.0;  // G multiply-adds per second, a multiply and an addition a term
  double fused = 0.0;     // the same tile with fused multiply-adds
  bool measured() const { return separate > 0.0 && fused > 0.0; }
  double ratio() const { return fused / separate; }  // fused / separate
};

// The best of five stretches of about 20 ms of each tile (about 0.2 s in all). Nothing
// measured (both rates 0) where the program was built without AVX2 or the processor lacks
// AVX2 or FMA.
CoreReading read_core();

}  // namespace drav::bench
