// Linked into every Windows program of the build (programs and tests): the C runtime opens
// files and keeps its standard streams in binary mode, so that nothing written or read through
// it turns LF into CR LF, drops a CR or stops at a 0x1A byte. The program's own files and
// console bytes go through the file seam, which never translates; this covers the rest (the
// companion tools' streams, the tests' own files and captured output).
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

// Before any other initializer of the program, so that no stream is used in text mode first.
__attribute__((constructor(101))) void binary_mode() {
  _fmode = _O_BINARY;
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace

#endif  // _WIN32
