#!/usr/bin/env bash
# The one-command benchmark: builds the program and the benchmarks (Release, in build-bench/)
# and prints the table of a run's costs; where the factorization benchmark is built (OpenBLAS
# found), its table (the literal scheme, our kernels and OpenBLAS dgetrf and dgbtrf at 1 and 2
# threads on the same matrices) follows. Options go to both (--quick, --reps R,
# --literal-max N). It takes some minutes (the full set half an hour and more); the machine
# should be otherwise idle.
set -euo pipefail
cd "$(dirname "$0")/.."
.ci/need-packages libbenchmark-dev libopenblas-dev
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDRAV_BUILD_BENCH=ON -DDRAV_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target drav drav_pipeline_bench >/dev/null
build-bench/bench/drav_pipeline_bench build-bench/drav "$@"
# Not `... | grep -q`: under pipefail the listing dies of a broken pipe when grep stops early.
targets=$(cmake --build build-bench --target help)
if grep -q drav_lu_bench <<<"$targets"; then
  cmake --build build-bench -j2 --target drav_lu_bench >/dev/null
  echo
  build-bench/bench/lu/drav_lu_bench "$@"
fi
