// The work arrays of one run. The driver owns them and hands them by reference to the
// routines that need them; every index written in comments is 1-based as in the model files.
#pragma once

#include <cstdint>

#include "params/zarray.h"

namespace drav {

// Dense square matrix of doubles, indices from 1. Stored row by row, so that a row exchange
// and the writing of one row are contiguous; nothing outside this class depends on that.
class Matrix {
 public:
  // Allocates n x n zeros (n < 0 gives an empty matrix). False when the memory cannot be had.
  bool allocate(int32_t n) noexcept {
    int32_t m = n > 0 ? n : 0;
    uint64_t count = static_cast<uint64_t>(m) * static_cast<uint64_t>(m);
    if (!a_.allocate(static_cast<int64_t>(count))) return false;
    n_ = m;
    return true;
  }
  void release() noexcept {
    a_.release();
    n_ = 0;
  }
  bool allocated() const { return a_.allocated(); }
  int32_t order() const { return n_; }
  // See ZArray::prefer_large_pages.
  void prefer_large_pages() noexcept { a_.prefer_large_pages(); }

  double& operator()(int32_t i, int32_t j) { return a_[index(i, j)]; }
  double operator()(int32_t i, int32_t j) const { return a_[index(i, j)]; }
  // Row i, columns 1..n, contiguous.
  double* row(int32_t i) { return a_.data() + index(i, 1); }
  const double* row(int32_t i) const { return a_.data() + index(i, 1); }

 private:
  int64_t index(int32_t i, int32_t j) const {
    return (static_cast<int64_t>(i) - 1) * n_ + (static_cast<int64_t>(j) - 1);
  }
  ZArray<double> a_;
  int32_t n_ = 0;
};

struct WorkArrays {
  // Group 1: node-element incidence (NNODE*NEMAX, node by node), element end nodes,
  // and two single-precision values per element.
  ZArray<int32_t> NEI, NI, NF;
  ZArray<float> A0, S0;
  // Group 2: per-element direction components (NUMEL*NDOFN, element by element) and state.
  ZArray<double> V, VMOD, YY, T;
  ZArray<int32_t> IND;
  ZArray<float> AL0;
  // Equation table, NEQ x 2 column by column: LOC(k,1) node, LOC(k,2) direction.
  ZArray<int32_t> LOC;
  // Scratch row of NEI for one node, and the row order of the factorization.
  ZArray<int32_t> IEL, IORD;

  int32_t loc_node(int32_t k) const { return LOC[k - 1]; }
  int32_t loc_dir(int32_t k) const { return LOC[LOC.size() / 2 + k - 1]; }
};

}  // namespace drav
