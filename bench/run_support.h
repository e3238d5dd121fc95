// What the whole-run benchmarks share: the models (descriptions for the model builder), the
// median, the processor time of a process (POSIX).
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace drav::bench {

// A plane grid truss of nx by ny nodes with one diagonal per panel, the first column pinned.
// Numbered column by column the half band is 2*ny + 4; with the node numbers shuffled the
// entries spread over the whole matrix and its factors fill in.
inline std::string grid(int nx, int ny, bool shuffle) {
  std::vector<int> id(static_cast<size_t>(nx) * ny);
  for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<int>(i) + 1;
  if (shuffle) {
    std::mt19937 rng(12345);
    std::shuffle(id.begin(), id.end(), rng);
  }
  auto node = [&](int ix, int iy) { return std::to_string(id[static_cast<size_t>(ix) * ny + iy]); };
  std::string d = "ndofn 2\ndefault E=2.1e8 A=0.001\n";
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy)
      d += "node " + node(ix, iy) + " " + std::to_string(ix) + " " + std::to_string(iy) + "\n";
  int b = 0;
  auto bar = [&](const std::string& a, const std::string& c) {
    d += "bar " + std::to_string(++b) + " " + a + " " + c + "\n";
  };
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy) {
      if (ix + 1 < nx) bar(node(ix, iy), node(ix + 1, iy));
      if (iy + 1 < ny) bar(node(ix, iy), node(ix, iy + 1));
      if (ix + 1 < nx && iy + 1 < ny) bar(node(ix, iy), node(ix + 1, iy + 1));
    }
  for (int iy = 0; iy < ny; ++iy) d += "fix " + node(0, iy) + " all\n";
  return d;
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// User + system time.
inline double cpu_seconds(const struct rusage& ru) {
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
         1e-6 * (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
}

}  // namespace drav::bench
