// Cost of the literal factorization and of the text editing that dominates the report.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "factor/ludecomp.h"
#include "recio/text_edit.h"

namespace {

// A symmetric banded matrix with a dominant diagonal, like a supported truss.
void fill_band(drav::Matrix& A, int32_t n, int32_t band, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = i; j <= n && j < i + band; ++j) {
      double v = (i == j) ? 4.0 * band : u(rng);
      A(i, j) = v;
      A(j, i) = v;
    }
  }
}

void BM_LiteralLudecomp(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const int32_t band = static_cast<int32_t>(state.range(1));
  drav::COMPAR c;
  drav::recio::StringSink console;
  std::vector<int32_t> iord(static_cast<size_t>(n));
  for (auto _ : state) {
    state.PauseTiming();
    drav::Matrix A;
    A.allocate(n);
    fill_band(A, n, band, 1);
    state.ResumeTiming();
    int32_t ierr = 0, kstep = 0;
    drav::LUDECOMP(A, n, iord.data(), ierr, kstep, c, console);
    benchmark::DoNotOptimize(A.row(1));
  }
  state.counters["equations"] = n;
}
BENCHMARK(BM_LiteralLudecomp)->Args({100, 10})->Args({200, 20})->Args({400, 20})
    ->Unit(benchmark::kMillisecond);

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
