// drav-mkmodel DESCRIPTION OUTDIR: turns a readable description of a bar structure into a
// working directory for the program (COMZOR.DAT, nei.UNF, x0.UNF, el.unf, temp.dat). The
// description format is documented in tools/mkmodel/model_desc.cpp and examples/README.md.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "drav/version.h"
#include "recio/fatal.h"
#include "tools/mkmodel/model_desc.h"
#include "tools/mkmodel/model_files.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("drav-mkmodel %s\n", drav::kVersion);
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: drav-mkmodel DESCRIPTION.txt OUTDIR\n");
    return 2;
  }
  try {
    // Everything is read and checked before the first file is written.
    const auto desc = drav::tools::read_description(argv[1]);
    const auto files = drav::tools::build_model(desc);
    for (const auto& w : desc.warnings) std::fprintf(stderr, "%s\n", w.c_str());
    for (const auto& w : files.warnings) std::fprintf(stderr, "%s\n", w.c_str());
    drav::tools::write_model_dir(files, argv[2]);
    std::printf("%s: %d nodes, %d bars, %d equations, half band %d\n", argv[2], files.NNODE,
                files.NUMEL, files.NEQ, files.NBAND);
  } catch (const drav::tools::DescriptionError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  } catch (const drav::recio::FatalError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "drav-mkmodel: out of memory\n");
    return 2;
  }
  return 0;
}
