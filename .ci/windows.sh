#!/usr/bin/env bash
# The Windows programs: cross-built with MinGW-w64 into build-win/, their tests run under wine,
# among them the comparison with the Linux build (build/, built here when missing) that the
# two leave the same bytes. Installs the cross compiler, wine and GoogleTest's sources first.
set -euo pipefail
cd "$(dirname "$0")/.."
.ci/need-packages g++-mingw-w64-x86-64 wine64 wine googletest libeigen3-dev
# The Linux programs that the Windows ones are compared with.
cmake -S . -B build >/dev/null
cmake --build build -j2 --target drav drav-mkmodel drav-audit
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DDRAV_LINUX_BUILD="$PWD/build" >/dev/null
cmake --build build-win -j2
# No program of the DLLs beyond the system's own.
for exe in build-win/drav.exe build-win/drav-mkmodel.exe build-win/drav-audit.exe; do
  extra=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|user32|advapi32|ws2_32|shell32|ole32)\.dll$' || true)
  if [ -n "$extra" ]; then
    echo "$exe needs $extra" >&2
    exit 1
  fi
done
status=0
ctest --test-dir build-win -j2 --output-on-failure || status=$?
# The prefix's wine server would linger a few seconds after the last program.
WINEPREFIX="$PWD/build-win/wineprefix" wineserver -k 2>/dev/null || true
exit $status
