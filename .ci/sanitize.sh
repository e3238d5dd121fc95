#!/usr/bin/env bash
# The whole test suite, the program and its tools included, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan, and every test run. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
# GCC's may-be-uninitialized analysis misfires on the instrumented code (inside <regex>).
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
flags+=" -Wno-maybe-uninitialized"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build build-asan -j2
# The children the tests start inherit these: a report ends them with a failure.
export ASAN_OPTIONS=abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j2
