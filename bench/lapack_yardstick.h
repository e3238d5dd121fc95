// OpenBLAS as a yardstick of the benchmarks: dgetrf on the dense matrix and dgbtrf on band
// storage built from the same entries, each timed on a fresh copy at a given thread count.
// Linked into the benchmark programs only, never into drav.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/run_support.h"
#include "recio/os_memory.h"

extern "C" {
void openblas_set_num_threads(int num_threads);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgbtrf_(const int* m, const int* n, const int* kl, const int* ku, double* ab, const int* ldab,
             int* ipiv, int* info);
}

namespace drav::bench {

// A matrix in LAPACK's column storage: the dense one (lda = n), or the band of kl
// subdiagonals and ku superdiagonals, entry (i,j) at ab[(kl + ku + i - j) + (j - 1) * ldab]
// (from 1) with kl more rows on top for the fill of the row exchanges (ldab = 2*kl + ku + 1).
struct Columns {
  int n = 0, kl = -1, ku = -1, ldab = 0;  // kl < 0: dense
  std::vector<double> a;

  // Entry (i,j), from 1; in a band only where -kl <= i - j <= ku.
  double& at(int i, int j) {
    const int64_t col = static_cast<int64_t>(j - 1) * (kl < 0 ? n : ldab);
    return a[static_cast<size_t>(col + (kl < 0 ? i - 1 : kl + ku + i - j))];
  }
};

// Dense n x n zeros, or a band of half band b (diagonal included: kl = ku = b - 1).
inline Columns dense_columns(int n) {
  Columns c;
  c.n = n;
  c.a.assign(static_cast<size_t>(n) * n, 0.0);
  return c;
}
inline Columns band_columns(int n, int b) {
  Columns c;
  c.n = n;
  c.kl = c.ku = std::max(b - 1, 0);
  c.ldab = 2 * c.kl + c.ku + 1;
  c.a.assign(static_cast<size_t>(c.ldab) * n, 0.0);
  return c;
}

// Waits, untimed, until the library's threads have stopped: after a call they spin for a while
// in case more work comes (0.1 s or so), and on two cores a run or kernel timed next would
// share a core with them (a whole run of the wide band took 0.355 s instead of 0.302 s).
// Quiet is a pause of 20 ms in which the process used less than 2 ms of processor time.
inline void await_library_idle() {
  const auto cpu = [] {
    struct rusage r {};
    getrusage(RUSAGE_SELF, &r);
    return cpu_seconds(r);
  };
  for (int i = 0; i < 100; ++i) {
    const double c0 = cpu();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (cpu() - c0 < 0.002) return;
  }
}

// Seconds of one factorization of a copy of `m` (dgbtrf for a band, else dgetrf) with
// `threads` threads of OpenBLAS.
inline double lapack_seconds(const Columns& m, int threads) {
  openblas_set_num_threads(threads);
  // The copy on memory taken as the program takes it for its matrix (large pages where the
  // system has them), so that the comparison is of the factorizations alone.
  Columns w;
  w.n = m.n, w.kl = m.kl, w.ku = m.ku, w.ldab = m.ldab;
  w.a.reserve(m.a.size());
  recio::os::prefer_large_pages(w.a.data(), sizeof(double) * m.a.size());
  w.a.assign(m.a.begin(), m.a.end());
  std::vector<int> ipiv(static_cast<size_t>(m.n));
  int info = 0;
  const auto t0 = std::chrono::steady_clock::now();
  if (m.kl < 0) {
    dgetrf_(&w.n, &w.n, w.a.data(), &w.n, ipiv.data(), &info);
  } else {
    dgbtrf_(&w.n, &w.n, &w.kl, &w.ku, w.a.data(), &w.ldab, ipiv.data(), &info);
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (info < 0) {  // an argument refused: the storage above is wrong, the time is meaningless
    std::fprintf(stderr, "LAPACK refused argument %d\n", -info);
    std::exit(1);
  }
  await_library_idle();
  return s;
}

}  // namespace drav::bench
