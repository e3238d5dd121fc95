// The upper triangle of a symmetric matrix in compact form: per row, the columns (from the
// diagonal on) whose entries are not +0.0, in ascending order, with their values. A -0.0 is an
// entry like any other; every entry left out is +0.0. Generation produces it; the stiffness
// report, the structure found in the entries and the storage of each factorization kernel are
// filled from it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "params/work.h"

namespace drav {

struct UpperRows {
  int32_t n = 0;
  // Row I (from 1) holds entries start[I-1] .. start[I]-1 of col and val.
  std::vector<int64_t> start{0};
  std::vector<int32_t> col;  // from 1, col >= the row, ascending within a row
  std::vector<double> val;

  int64_t row_begin(int32_t I) const { return start[static_cast<size_t>(I) - 1]; }
  int64_t row_end(int32_t I) const { return start[static_cast<size_t>(I)]; }
  int64_t entries() const { return static_cast<int64_t>(col.size()); }

  // Appends entry (I,J) of the row being built (rows in order, J ascending) and ends rows.
  void add(int32_t J, double v) {
    col.push_back(J);
    val.push_back(v);
  }
  void end_row() {
    start.push_back(static_cast<int64_t>(col.size()));
    ++n;
  }

  // The narrowest half band b (diagonal included) that holds every entry: max(J-I) + 1, and 1
  // when there is no entry at all (the zero matrix is diagonal).
  int32_t half_band() const {
    int32_t b = 1;
    for (int32_t I = 1; I <= n; ++I) {
      const int64_t e = row_end(I);
      if (e > row_begin(I)) {
        const int32_t last = col[static_cast<size_t>(e) - 1];
        if (last - I + 1 > b) b = last - I + 1;
      }
    }
    return b;
  }

  // Writes the symmetric matrix of the entries into the leading n x n block of A (order at least
  // n), +0.0 where there is none: scatter_rows over all rows, then mirror_rows over all rows.
  void scatter(Matrix& A) const {
    scatter_rows(A, 1, n + 1);
    mirror_rows(A, 1, n + 1);
  }
  // Rows [from, to) of A: +0.0 in every column, then their entries on and above the diagonal.
  // Every value of a row is written, so that each page of A is first written, never first
  // read: a page first read maps the shared zero page, and the first write to it then costs a
  // copy and a flush of every thread's address cache.
  void scatter_rows(Matrix& A, int32_t from, int32_t to) const {
    for (int32_t I = from; I < to; ++I) {
      double* r = A.row(I);
      std::fill(r, r + n, 0.0);
      for (int64_t e = row_begin(I); e < row_end(I); ++e)
        r[col[static_cast<size_t>(e)] - 1] = val[static_cast<size_t>(e)];
    }
  }
  // The mirrors A(J,I) of the entries of rows [from, to), into rows that scatter_rows has done.
  // Ranges of rows that do not overlap write different values of A.
  void mirror_rows(Matrix& A, int32_t from, int32_t to) const {
    for (int32_t I = from; I < to; ++I)
      for (int64_t e = row_begin(I); e < row_end(I); ++e)
        A(col[static_cast<size_t>(e)], I) = val[static_cast<size_t>(e)];
  }
};

}  // namespace drav
