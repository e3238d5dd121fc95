// Cost of the G editing that dominates the stiffness report.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "recio/text_edit.h"

namespace {

void BM_EditG17(benchmark::State& state) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1e6, 1e6);
  std::vector<double> v(4096);
  for (auto& x : v) x = state.range(0) ? u(rng) : 0.0;
  size_t i = 0, chars = 0;
  for (auto _ : state) {
    std::string s = drav::recio::edit_G(v[i++ & 4095], 17, 7);
    chars += s.size();
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  benchmark::DoNotOptimize(chars);
}
BENCHMARK(BM_EditG17)->Arg(0)->Arg(1);

}  // namespace
