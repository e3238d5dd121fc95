#!/usr/bin/env bash
# Runs the Linux and the Windows programs (the latter under wine) on the same working
# directories and fails unless they leave byte-identical files, console bytes (stdout and
# stderr apart) and exit statuses: every example model, singular matrices in both languages,
# a later iteration over an existing matrix file, the program's two stops and fatal errors.
# The model builders of both builds must write identical model files, and the audit tools
# identical reports on the examples, as well. Each pair of directories is also compared with
# the Linux build's drav-audit compare, which must say "identical" where the bytes agree and
# tells, where they do not, which entries, positions, fields or lines differ.
# Usage: .ci/compare-platforms.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
lin="$(cd "$1" && pwd)"
win="$(cd "$2" && pwd)"
wine_run="$win/wine-run"
work="$win/platforms"
rm -rf "$work"
mkdir -p "$work"

failures=0
cases=0

# run_drav SIDE DIR: runs that side's drav in DIR, console into DIR/../NAME.SIDE.{out,err,rc}.
run_drav() {
  local side=$1 dir=$2 base
  base="$(dirname "$dir")/$(basename "$dir")"
  if [ "$side" = linux ]; then
    (cd "$dir" && "$lin/drav" >"$base.out" 2>"$base.err" </dev/null; echo $? >"$base.rc") || true
  else
    (cd "$dir" && "$wine_run" "$win/drav.exe" >"$base.out" 2>"$base.err" </dev/null
     echo $? >"$base.rc") || true
  fi
}

# compare NAME: the two sides of one case, file by file, and what drav-audit compare makes of
# them.
compare() {
  local name=$1 l="$work/$1.linux" w="$work/$1.windows" bad=0 rc=0
  cases=$((cases + 1))
  if ! diff -r "$l" "$w" >"$work/$name.diff" 2>&1; then bad=1; fi
  for part in out err rc; do
    cmp -s "$l.$part" "$w.$part" || { echo "  $name: console $part differs" >>"$work/$name.diff"; bad=1; }
  done
  "$lin/drav-audit" compare "$l" "$w" --max 5 >"$work/$name.compare" 2>&1 || rc=$?
  if [ $bad -ne 0 ]; then
    failures=$((failures + 1))
    echo "DIFFERENT: $name"
    sed 's/^/  /' "$work/$name.diff" | head -20 || true
    echo "  drav-audit compare (exit status $rc):"
    sed 's/^/    /' "$work/$name.compare" | head -40 || true
  elif [ $rc -ne 0 ]; then
    failures=$((failures + 1))
    echo "DIFFERENT: drav-audit compare on $name, whose files are the same (exit status $rc):"
    sed 's/^/  /' "$work/$name.compare" | head -20 || true
  else
    printf 'same: %-28s exit %s, %s files, %s console bytes; compare: %s\n' "$name" \
      "$(cat "$l.rc")" "$(find "$l" -type f | wc -l)" "$(cat "$l.out" "$l.err" | wc -c)" \
      "$(head -1 "$work/$name.compare")"
  fi
}

# one_case NAME PREPARE: PREPARE fills the directory given as its argument; both sides start
# from copies of it.
one_case() {
  local name=$1 prepare=$2
  mkdir -p "$work/$name.model"
  "$prepare" "$work/$name.model"
  cp -a "$work/$name.model" "$work/$name.linux"
  cp -a "$work/$name.model" "$work/$name.windows"
  rm -rf "$work/$name.model"
  run_drav linux "$work/$name.linux"
  run_drav windows "$work/$name.windows"
  compare "$name"
}

# build_from DESCRIPTION DIR: the model files, written by both builders; they must agree.
build_from() {
  local desc=$1 dir=$2
  "$lin/drav-mkmodel" "$desc" "$dir" >/dev/null
  "$wine_run" "$win/drav-mkmodel.exe" "$desc" "$dir.mk-win" >/dev/null
  if ! diff -r "$dir" "$dir.mk-win" >/dev/null; then
    echo "DIFFERENT: the model builders on $(basename "$desc")"
    failures=$((failures + 1))
  fi
  rm -rf "$dir.mk-win"
}

crlf() { printf '%s\r\n' "$@"; }

# A COMZOR.DAT with the given sizes line and NEQ and no supports (cf. the driver tests).
comzor() {
  crlf "$1" "0 0 0 0 0" "0 0 0 0 0" "0 0 0 0 0" "0 0 0 0 0" "0 0 0 0 0" "0 0 0 0 0" "0 0 0 0 0" \
    "0 0 0 0 0" "0 0 0 0 0 0" "$2" "0 0 0 0 0 0 1" "model" "report.txt" "" "" "" "" "E"
}

# compare_audit NAME: the audit tool's check and mechanism reports on both sides' results.
compare_audit() {
  local name=$1
  (cd "$work/$name.linux" && { "$lin/drav-audit" check . && "$lin/drav-audit" mechanism .; } \
    >"$work/$name.audit.linux" 2>&1 || true)
  (cd "$work/$name.windows" && { "$wine_run" "$win/drav-audit.exe" check . &&
    "$wine_run" "$win/drav-audit.exe" mechanism .; } >"$work/$name.audit.windows" 2>&1 || true)
  cases=$((cases + 1))
  if cmp -s "$work/$name.audit.linux" "$work/$name.audit.windows"; then
    printf 'same: %-28s %s bytes of audit reports\n' "$name" "$(wc -c <"$work/$name.audit.linux")"
  else
    failures=$((failures + 1))
    echo "DIFFERENT: the audit reports of $name"
    diff "$work/$name.audit.linux" "$work/$name.audit.windows" | head -10 | sed 's/^/  /' || true
  fi
}

for ex in "$src"/examples/*.txt; do
  name="example-$(basename "$ex" .txt)"
  prep() { build_from "$ex" "$1"; }
  one_case "$name" prep
  compare_audit "$name"
done

prep_romanian() {
  { cat "$src/examples/mechanism.txt"; echo "language romanian"; echo "report raport.txt"; } \
    >"$work/romanian.txt"
  build_from "$work/romanian.txt" "$1"
}
one_case singular-romanian prep_romanian

prep_singular_twice() {
  build_from "$src/examples/mechanism.txt" "$1"
  crlf "an earlier line of the report" >"$1/report.txt"
}
one_case singular-appends prep_singular_twice

prep_iteration2() {
  sed 's/^iter .*/iter 2/; s/^case .*/case 7/' "$src/examples/plane_truss.txt" >"$work/iter2.txt"
  build_from "$work/iter2.txt" "$1"
  printf 'the earlier matrix file\n' >"$1/AA.UNF"
  crlf "           9" >"$1/order.dat"
}
one_case iteration2-replaces prep_iteration2

prep_stop1() { comzor "70000 0 0 1 0 70000 1" 0 >"$1/COMZOR.DAT"; }
one_case stop-first-group prep_stop1
prep_stop2() { comzor "1 0 0 300000000 2 1 1" 2 >"$1/COMZOR.DAT"; }
one_case stop-second-group prep_stop2

prep_no_comzor() { :; }
one_case fatal-no-comzor prep_no_comzor
prep_no_el() {
  build_from "$src/examples/plane_truss.txt" "$1"
  rm "$1/el.unf"
}
one_case fatal-missing-el prep_no_el
prep_short_x0() {
  build_from "$src/examples/plane_truss.txt" "$1"
  head -c 40 "$1/x0.UNF" >"$1/x0.short" && mv "$1/x0.short" "$1/x0.UNF"
}
one_case fatal-short-x0 prep_short_x0
prep_syntax() {
  build_from "$src/examples/plane_truss.txt" "$1"
  sed -i '1s/^ *[0-9]*/ 8x/' "$1/COMZOR.DAT"
}
one_case fatal-comzor-syntax prep_syntax
prep_no_temp() {
  build_from "$src/examples/space_truss.txt" "$1"
  rm "$1/temp.dat"
}
one_case fatal-missing-temp prep_no_temp
prep_ctrl_z() {
  # A 0x1A byte and a bare LF in the text input are ordinary characters, on every platform.
  build_from "$src/examples/plane_truss.txt" "$1"
  printf '1\x1a\n' >"$1/temp.dat"
}
one_case text-input-ctrl-z prep_ctrl_z

echo "$cases cases, $failures different"
[ "$failures" -eq 0 ]
