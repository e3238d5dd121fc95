// Runs a fuzz target without the fuzzing engine: every file named on the command line, and
// every file in every directory named, is passed once to LLVMFuzzerTestOneInput. The seed
// corpus and the inputs that once failed are replayed this way as ordinary tests.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool run_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", p.c_str());
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that the sanitizers see any read past its end.
  std::vector<uint8_t> buf(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(buf.empty() ? nullptr : buf.data(), buf.size());
  return true;
}

int main(int argc, char** argv) {
  // All names are resolved first: a target may change the working directory.
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = fs::absolute(argv[i]);
    if (fs::is_directory(arg)) {
      std::vector<fs::path> in_dir;
      for (const auto& e : fs::directory_iterator(arg))
        if (e.is_regular_file()) in_dir.push_back(e.path());
      std::sort(in_dir.begin(), in_dir.end());
      inputs.insert(inputs.end(), in_dir.begin(), in_dir.end());
    } else {
      inputs.push_back(arg);
    }
  }
  bool ok = true;
  for (const auto& p : inputs) ok = run_file(p) && ok;
  std::printf("replayed %zu inputs\n", inputs.size());
  return ok && !inputs.empty() ? 0 : 1;
}
