#!/usr/bin/env bash
# Whole runs, byte for byte: builds a working directory for every example and for the models of
# the end-to-end tests, runs the model builder, the program and the audit tool's listings on it,
# and writes one line per file of the run directory and per stream (size and SHA-256), with the
# exit statuses. `record` keeps the listing, `compare` runs again and shows every difference
# from a kept one; a reorganisation of the code must leave it unchanged.
#
#   .ci/same-bytes.sh record  BUILD_DIR LISTING
#   .ci/same-bytes.sh compare BUILD_DIR LISTING
set -euo pipefail
mode=${1:?record or compare}
build=$(cd "${2:?build directory}" && pwd)
listing=${3:?listing file}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

one_bar=$'ndofn 2\nnode 1 0 0\nnode 2 2 0\nfix 1 all\nbar 1 1 2 E=100 A=1\n'
declare -A models=(
  [regular]="${one_bar}spring 2 y -30"$'\n'
  [row-exchange]=$'ndofn 2\nnode 1 0 0\nnode 2 1 1\nfix 1 all\nbar 1 1 2 E=1 A=1 S0=1\nspring 2 x 0.25\n'
  [singular-english]="${one_bar}report rep.txt"$'\niter 3\n'
  [singular-romanian]="${one_bar}language romanian"$'\n'
  [first-step]=$'ndofn 2\nnode 1 0 0\nnode 2 0 5\nfix 1 x y\nbar 1 1 2 E=10 A=2\nlanguage Romana\ncase 12\n'
  [no-equations]="${one_bar}fix 2 x y"$'\n'
  [later-iteration]="${one_bar}spring 2 y -30"$'\niter 2\n'
  [missing-x0]="${one_bar}"
  [wrong-neq]="${one_bar}spring 2 y -30"$'\n'
  [zero-length]=$'ndofn 2\nnode 1 0 0\nnode 2 1 0\nnode 3 2 0\nfix 1 all\nfix 3 all\nbar 1 1 2 E=1 A=1\nbar 2 2 3 E=1 A=1\n'
  [bad-description]=$'ndofn 2\nnode 1 0 0\nnode 1 1 0\nbar 1 1 3 E=1 A=1\n'
)
for ex in "$src"/examples/*.txt; do models[example-$(basename "$ex" .txt)]=$(cat "$ex"); done

# Changes a case makes to its directory between the builder and the program.
prepare() {
  case $1 in
    singular-english) printf 'earlier lines\r\n' >rep.txt; printf 'old matrix' >AA.UNF ;;
    no-equations) printf stale >AA0.UNF ;;
    missing-x0) rm -f x0.UNF ;;
    wrong-neq) sed -i 's/^2\r$/3\r/' COMZOR.DAT ;;
    zero-length) # S0 of bar 1 (x0.UNF record 4, its first real) set to 0
      local off=$(( $(stat -c %s x0.UNF) - 12 ))
      printf '\0\0\0\0' | dd of=x0.UNF bs=1 seek=$off conv=notrunc status=none ;;
  esac
}

# Runs a command in the current directory; records its streams and exit status as `tag`.
run() {
  local tag=$1; shift
  local rc=0
  "$@" >"$work/out" 2>"$work/err" </dev/null || rc=$?
  echo "$tag exit $rc"
  for s in out err; do
    echo "$tag std$s $(stat -c %s "$work/$s") $(sha256sum <"$work/$s" | cut -d' ' -f1)"
  done
}

listing_of_runs() {
  local name
  for name in $(printf '%s\n' "${!models[@]}" | sort); do
    local dir=$work/$name
    printf '%s' "${models[$name]}" >"$work/$name.txt"
    (cd "$work" && run "$name mkmodel" "$build/drav-mkmodel" "$name.txt" "$name")
    [ -d "$dir" ] || continue
    (
      cd "$dir"
      prepare "$name"
      run "$name drav" "$build/drav"
      for f in nei.UNF x0.UNF el.unf AA0.UNF AA.UNF; do
        [ -f "$f" ] && run "$name audit-dump-$f" "$build/drav-audit" dump "$f"
      done
      run "$name audit-check" "$build/drav-audit" check
      run "$name audit-mechanism" "$build/drav-audit" mechanism
      run "$name audit-mechanism-json" "$build/drav-audit" mechanism --json
      run "$name audit-draw" "$build/drav-audit" draw -o ../draw.svg
      run "$name audit-spy" "$build/drav-audit" spy -o ../spy.svg
      run "$name audit-export" "$build/drav-audit" export -o ../K
      for f in "$work"/draw.svg "$work"/spy.svg "$work"/K*; do
        [ -f "$f" ] && echo "$name tool-file $(basename "$f") $(stat -c %s "$f") $(sha256sum <"$f" | cut -d' ' -f1)"
        rm -f "$f"
      done
      for f in $(ls -A | sort); do
        echo "$name file $f $(stat -c %s "$f") $(sha256sum <"$f" | cut -d' ' -f1)"
      done
    )
  done
}

case $mode in
  record) listing_of_runs >"$listing"; echo "recorded $(wc -l <"$listing") lines in $listing" ;;
  compare)
    listing_of_runs >"$work/now"
    if diff -u "$listing" "$work/now"; then
      echo "same bytes: $(wc -l <"$listing") lines agree"
    else
      echo "whole runs differ from $listing" >&2
      exit 1
    fi ;;
  *) echo "usage: $0 record|compare BUILD_DIR LISTING" >&2; exit 2 ;;
esac
