// A whole run on a plane strip truss of growing length, against the cost of writing its two
// large output files alone (the stiffness report's upper triangle and the dense factors).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/drav.h"
#include "tools/mkmodel/model_desc.h"
#include "tools/mkmodel/model_files.h"

namespace {

// A strip of `panels` square panels with one diagonal each, pinned at one end: 4*panels
// equations, half band 8.
std::string strip(int panels) {
  std::string d = "ndofn 2\ndefault E=2.1e8 A=0.001\nfix 1 x y\nfix 2 x y\n";
  for (int i = 0; i <= panels; ++i) {
    d += "node " + std::to_string(2 * i + 1) + " " + std::to_string(i) + " 0\n";
    d += "node " + std::to_string(2 * i + 2) + " " + std::to_string(i) + " 1\n";
  }
  int b = 0;
  auto bar = [&](int a, int c) {
    d += "bar " + std::to_string(++b) + " " + std::to_string(a) + " " + std::to_string(c) + "\n";
  };
  for (int i = 0; i <= panels; ++i) {
    bar(2 * i + 1, 2 * i + 2);
    if (i < panels) {
      bar(2 * i + 1, 2 * i + 3);
      bar(2 * i + 2, 2 * i + 4);
      bar(2 * i + 1, 2 * i + 4);
    }
  }
  return d;
}

struct Workdir {
  std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("drav-bench-" + std::to_string(::getpid()));
  explicit Workdir(int panels) {
    const auto model =
        drav::tools::build_model(drav::tools::parse_description(strip(panels), "strip"));
    drav::tools::write_model_dir(model, dir.string());
    std::filesystem::current_path(dir);
  }
  ~Workdir() {
    std::filesystem::current_path(old);
    std::filesystem::remove_all(dir);
  }
};

void BM_WholeRun(benchmark::State& state) {
  Workdir w(static_cast<int>(state.range(0)));
  drav::recio::StringSink console;
  for (auto _ : state) {
    if (drav::DRAV_LU(console) != 0) state.SkipWithError("run failed");
  }
  state.counters["equations"] = static_cast<double>(4 * state.range(0));
  state.counters["output_MB"] = static_cast<double>(std::filesystem::file_size("AA0.UNF") +
                                                    std::filesystem::file_size("rig-case1.dat")) /
                                1e6;
}
BENCHMARK(BM_WholeRun)->Arg(125)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

// Only the bytes: the same sizes written with plain stdio.
void BM_WriteOutputOnly(benchmark::State& state) {
  const int64_t n = 4 * state.range(0);
  const std::string path =
      (std::filesystem::temp_directory_path() / ("drav-bench-out-" + std::to_string(::getpid())))
          .string();
  std::vector<char> row(static_cast<size_t>(n) * 8 + 8, 0);
  std::vector<char> line(6 * 17 + 2, ' ');
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    for (int64_t i = 0; i < n; ++i) std::fwrite(row.data(), 1, row.size(), f);
    for (int64_t i = 0; i < n * (n + 1) / 2 / 6; ++i) std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_WriteOutputOnly)->Arg(125)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
