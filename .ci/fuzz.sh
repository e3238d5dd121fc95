#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each on a copy of its committed corpus, two at a time (one per core).
#
# Usage: .ci/fuzz.sh [TARGET...]   (all targets by default)
# FUZZ_SECONDS: time per target (default 30). A failing input is kept as
# build-fuzz/artifacts/TARGET-crash-* (or -oom-, -timeout-); replay it with
# build/fuzz/fuzz_replay_TARGET FILE, and add it to fuzz/corpus/TARGET/ once mended.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(rcom listin seqreader directreader model_input model_desc factor)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
seconds="${FUZZ_SECONDS:-30}"

.ci/need-packages clang libclang-rt-14-dev

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DDRAV_FUZZ=ON -DDRAV_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

mkdir -p build-fuzz/artifacts build-fuzz/logs
fuzz_one() {
  local t=$1 work=build-fuzz/corpus/$1 extra=()
  rm -rf "$work" && mkdir -p "$work" && cp fuzz/corpus/"$t"/* "$work"/
  # Reads large enough to bypass the read window need inputs of that size.
  [ "$t" = seqreader ] && extra=(-max_len=40000)
  ASAN_OPTIONS=allocator_may_return_null=1 nice -n 10 build-fuzz/fuzz_"$t" "$work" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=4096 -timeout=10 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/"$t"- "${extra[@]}" \
    >build-fuzz/logs/"$t".log 2>&1
}

failed=()
summary() {
  local t=$1 log=build-fuzz/logs/$1.log
  echo "fuzz $t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs," \
    "$(grep -o 'cov: [0-9]*' "$log" | tail -1)," \
    "$(grep -o 'corp: [0-9]*/[0-9a-zA-Z]*' "$log" | tail -1)"
}
i=0
while [ $i -lt ${#targets[@]} ]; do
  pair=("${targets[@]:$i:2}")
  pids=()
  for t in "${pair[@]}"; do
    fuzz_one "$t" &
    pids+=($!)
  done
  for k in "${!pair[@]}"; do
    t=${pair[$k]}
    if wait "${pids[$k]}"; then
      summary "$t"
    else
      echo "fuzz $t: FAILED, log build-fuzz/logs/$t.log:" >&2
      tail -n 60 build-fuzz/logs/"$t".log >&2
      failed+=("$t")
    fi
  done
  i=$((i + 2))
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
