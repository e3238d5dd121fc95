#!/usr/bin/env python3
"""Checks that ARCHITECTURE.md still describes the code.

1. Every upper-case name of the code is explained there. Reads the C++ sources of the
   repository (comments and string literals left out), collects the identifiers written in
   upper case (the routines, fields and units of the design, and our own macros), and lists
   those that ARCHITECTURE.md does not mention as `NAME`. Names of the platform, the standard
   library and the test framework are not ours to explain and are passed over.
2. Every folder of the program includes only the layers it may use (the table of layers).

Exit status 1 when either fails, with what is wrong on standard error.

    .ci/glossary-check.py [--list]      --list prints every name found, one a line
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Names of the platform, the C and C++ libraries, the test framework and the instruction sets.
FOREIGN = re.compile(
    r"^(O_[A-Z]+|E[A-Z]+|S_IS[A-Z]+|F_[A-Z]+|SEEK_[A-Z]+|STD(IN|OUT|ERR)_FILENO|SIG[A-Z]+|"
    r"W[A-Z]+|RLIMIT_[A-Z]+|PTRACE_[A-Z_]+|SYS_[a-z_]+|INT\d+_(MAX|MIN)|UINT\d+_MAX|SIZE_MAX|"
    r"CHAR_BIT|DBL_[A-Z_]+|FLT_[A-Z_]+|NULL|EOF|BUFSIZ|PATH_MAX|MAP_[A-Z]+|PROT_[A-Z]+|"
    r"TEST|TEST_F|TEST_P|TYPED_TEST\w*|INSTANTIATE_\w+|EXPECT_\w+|ASSERT_\w+|GTEST_\w+|"
    r"SCOPED_TRACE|FAIL|SUCCEED|ADD_FAILURE\w*|BENCHMARK\w*|"
    r"AVX\w*|SSE\w*|FMA|CPU|_[A-Z_]+|__\w+|M_PI|HUGE_VAL|INFINITY|NAN|RUSAGE_\w+|CLOCK_\w+|"
    r"PTHREAD_\w+|FE_\w+|DIR|FILE|MADV_\w+|ENOSPC|SIG_IGN|GCC)$"
)

CODE = re.compile(
    r"//[^\n]*|/\*.*?\*/|R\"(?P<d>[^(]*)\((?:.|\n)*?\)(?P=d)\"|\"(?:\\.|[^\"\\\n])*\"|'(?:\\.|[^'\\\n])*'",
    re.S,
)
NAME = re.compile(r"(?<![\w.])[A-Z][A-Z0-9_]*[A-Z0-9](?![\w])")


# The seams to the operating systems speak its language, not ours.
PLATFORM_FILES = re.compile(r"^(recio/os_file[^/]*|recio/win32/.*|tests/support/program_run\.h|tests/recio/windows_[^/]*)$")


def names_in_code():
    files = subprocess.run(
        ["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, capture_output=True, text=True, check=True
    ).stdout.split()
    found = {}
    for f in files:
        if PLATFORM_FILES.match(f):
            continue
        text = (ROOT / f).read_text(encoding="utf-8", errors="replace")
        code = CODE.sub(" ", text)
        # A number's exponent or suffix (1E5, 0x1FULL) is not a name.
        code = re.sub(r"\b\d[\w.]*", " ", code)
        for n in NAME.findall(code):
            if not FOREIGN.match(n):
                found.setdefault(n, f)
    return found


# The program's layers and the folders each may include from (besides its own).
LAYERS = {
    "recio": set(),
    "params": {"recio"},
    "factor": {"params", "recio"},
    "assembly": {"params", "recio"},
    "driver": {"assembly", "factor", "params", "recio"},
    # drav/version.h is made by the build (cmake/version.h.in).
    "tools/mkmodel": {"params", "recio", "drav"},
    "tools/audit": {"driver", "assembly", "factor", "params", "recio", "drav"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_faults():
    faults = []
    files = subprocess.run(
        ["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, capture_output=True, text=True, check=True
    ).stdout.split()
    for f in files:
        layer = next((l for l in sorted(LAYERS, key=len, reverse=True) if f.startswith(l + "/")), None)
        if layer is None:
            continue
        for inc in INCLUDE.findall((ROOT / f).read_text(encoding="utf-8", errors="replace")):
            if "/" not in inc or inc.startswith(layer + "/"):
                continue
            target = next((l for l in sorted(LAYERS, key=len, reverse=True) if inc.startswith(l + "/")), inc.split("/")[0])
            if target not in LAYERS[layer]:
                faults.append(f"{f} includes {inc}: {layer} may not use {target}")
    return faults


def main():
    found = names_in_code()
    if "--list" in sys.argv:
        for n in sorted(found):
            print(n, found[n])
        return 0
    doc = (ROOT / "ARCHITECTURE.md").read_text(encoding="utf-8")
    explained = set(re.findall(r"`([^`]+)`", doc))
    words = set()
    for e in explained:
        words.update(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", e))
    missing = sorted(n for n in found if n not in words)
    for n in missing:
        print(f"ARCHITECTURE.md does not explain `{n}` (first seen in {found[n]})", file=sys.stderr)
    print(f"{len(found)} upper-case names in the code, {len(missing)} not explained")
    faults = layer_faults()
    for fault in faults:
        print(fault, file=sys.stderr)
    print(f"{len(faults)} includes across the layers that the layers do not allow")
    return 1 if missing or faults else 0


if __name__ == "__main__":
    sys.exit(main())
