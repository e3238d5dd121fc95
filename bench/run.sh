#!/usr/bin/env bash
# The one-command benchmark: builds the program and the benchmark (Release, in build-bench/)
# and prints the table of a run's costs. Options go to drav_pipeline_bench (--quick, --reps R,
# --literal-max N). It takes some minutes; the machine should be otherwise idle.
set -euo pipefail
cd "$(dirname "$0")/.."
.ci/need-packages libbenchmark-dev
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDRAV_BUILD_BENCH=ON -DDRAV_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target drav drav_pipeline_bench >/dev/null
exec build-bench/bench/drav_pipeline_bench build-bench/drav "$@"
