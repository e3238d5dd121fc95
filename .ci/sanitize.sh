#!/usr/bin/env bash
# The whole test suite, the program and its tools included, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan, and every test run. Any report fails the run.
# clang: it builds the instrumented tests many times faster than GCC (one test file with
# <regex> takes GCC minutes), and the fuzz round needs it anyway.
set -euo pipefail
cd "$(dirname "$0")/.."
# The tools need Eigen; the tests use the tools of .ci/audit-deps.sh where present.
.ci/audit-deps.sh
.ci/need-packages clang libclang-rt-14-dev
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build build-asan -j2
# The children the tests start inherit these: a report ends them with a failure.
export ASAN_OPTIONS=abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j2
