#!/usr/bin/env bash
# Makes the package of a build folder with cpack and checks what it holds: the three
# programs, the README and the examples, a manual page per program (Linux), and the fields
# of a .deb. Usage: check_package.sh BUILD_DIR deb|zip
set -euo pipefail
build="$(cd "$1" && pwd)"
kind=$2
out="$build/package-check"
rm -rf "$out"
mkdir -p "$out"
(cd "$out" && cpack --config "$build/CPackConfig.cmake" -B "$out" >cpack.log 2>&1) ||
  { cat "$out/cpack.log"; exit 1; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
fail=0
need() {  # need LISTING PATH...
  local listing=$1
  shift
  for p in "$@"; do
    grep -qE "(^|[ /])${p//./\\.}\$" <<<"$listing" || { echo "missing: $p"; fail=1; }
  done
}
if [ "$kind" = deb ]; then
  deb=$(ls "$out"/drav_"$version"_*.deb)
  listing=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  need "$listing" usr/bin/drav usr/bin/drav-mkmodel usr/bin/drav-audit \
    usr/share/doc/drav/README.md usr/share/doc/drav/examples/plane_truss.txt \
    usr/share/doc/drav/examples/README.md usr/share/man/man1/drav.1 \
    usr/share/man/man1/drav-mkmodel.1 usr/share/man/man1/drav-audit.1
  [ "$(dpkg-deb -f "$deb" Package)" = drav ] || { echo "package name"; fail=1; }
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || { echo "version"; fail=1; }
  dpkg-deb -f "$deb" Maintainer | grep -q . || { echo "no maintainer"; fail=1; }
  dpkg-deb -f "$deb" Depends | grep -q 'libc6' || { echo "no dependency on the C library"; fail=1; }
else
  zip=$(ls "$out"/drav-"$version"-win64.zip)
  listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
  need "$listing" bin/drav.exe bin/drav-mkmodel.exe bin/drav-audit.exe share/doc/drav/README.md \
    share/doc/drav/examples/plane_truss.txt share/doc/drav/man/drav.1
fi
[ $fail -eq 0 ] && echo "package $kind of $version: complete"
exit $fail
