#!/usr/bin/env bash
# The one-command benchmark: builds the program and the benchmarks (Release, in build-bench/)
# and prints the table of a run's costs; where the factorization benchmark is part of the
# tree, its table (the literal scheme, the blocked kernel and OpenBLAS dgetrf at 1 and 2
# threads on the same matrices) follows. Options go to drav_pipeline_bench (--quick, --reps R,
# --literal-max N). It takes some minutes; the machine should be otherwise idle.
set -euo pipefail
cd "$(dirname "$0")/.."
.ci/need-packages libbenchmark-dev libopenblas-dev
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDRAV_BUILD_BENCH=ON -DDRAV_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target drav drav_pipeline_bench >/dev/null
build-bench/bench/drav_pipeline_bench build-bench/drav "$@"
if cmake --build build-bench --target help | grep -q drav_lu_bench; then
  cmake --build build-bench -j2 --target drav_lu_bench >/dev/null
  echo
  build-bench/bench/lu/drav_lu_bench
fi
