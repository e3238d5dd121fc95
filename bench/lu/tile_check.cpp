// drav_tile_check: what this core gives the product's register tile right now, round after
// round (bench/core_check.h). Read the factorization's ratios against dgetrf beside this one.
//
// Usage: drav_tile_check [--rounds R] [--gap SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench/core_check.h"

int main(int argc, char** argv) {
  int rounds = 10;
  double gap = 0.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--gap") && i + 1 < argc) {
      gap = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--rounds R] [--gap SECONDS]\n", argv[0]);
      return 2;
    }
  }
  // The first round's reading also tells whether there is anything to read.
  drav::bench::CoreReading c = drav::bench::read_core();
  if (!c.measured()) {
    std::printf("drav_tile_check needs x86-64 with AVX2 and FMA\n");
    return 0;
  }
  std::printf("# G multiply-adds per second of the 6 x 8 tile in L1, best of 5 stretches\n");
  std::printf("%-5s %12s %8s %8s\n", "round", "mul + add", "fused", "ratio");
  for (int r = 0; r < rounds; ++r) {
    if (r > 0) {
      if (gap > 0) std::this_thread::sleep_for(std::chrono::duration<double>(gap));
      c = drav::bench::read_core();
    }
    std::printf("%-5d %12.2f %8.2f %8.2f\n", r + 1, c.separate, c.fused, c.ratio());
    std::fflush(stdout);
  }
  return 0;
}
