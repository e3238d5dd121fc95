// Helpers shared by the factorization tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "params/compar.h"
#include "params/work.h"
#include "support/lu_differential.h"
#include "support/scratch.h"

namespace drav::testing_factor {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A matrix as rows from 0.
using Dense = std::vector<std::vector<double>>;

using testing::read_file;
using testing::TempDir;
using testing::write_file;

// A parameter block whose report file path is `path` (blank-padded as read from its line).
inline COMPAR with_report(const std::string& path) {
  COMPAR c;
  c.REPFIL.fill(' ');
  std::memcpy(c.REPFIL.data(), path.data(), std::min(path.size(), c.REPFIL.size()));
  return c;
}

// Builds a matrix from rows given as lists.
inline Matrix make_matrix(std::initializer_list<std::initializer_list<double>> rows) {
  Matrix a;
  a.allocate(static_cast<int32_t>(rows.size()));
  int32_t i = 1;
  for (const auto& r : rows) {
    int32_t j = 1;
    for (double v : r) a(i, j++) = v;
    ++i;
  }
  return a;
}

// The NaN that arithmetic produces on this processor (see testing::processor_nan).
using testing::processor_nan;
inline double default_nan() {
  return processor_nan();
}

inline uint64_t bits(double v) {
  return testing::lu_bits(v);
}

// True when a and b hold the same N x N values bit for bit.
inline bool same_bits(const Matrix& a, const Matrix& b, int32_t n) {
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = 1; j <= n; ++j)
      if (bits(a(i, j)) != bits(b(i, j))) return false;
  return true;
}

inline void copy_matrix(const Matrix& from, Matrix& to, int32_t n) {
  to.allocate(n);
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = 1; j <= n; ++j) to(i, j) = from(i, j);
}

// Two report files side by side, for the literal factorization and for a kernel under test,
// with a parameter block naming each.
class TwoReports {
 public:
  TwoReports()
      : lit_path_(dir_.file("lit.txt")),
        new_path_(dir_.file("new.txt")),
        lit_(with_report(lit_path_)),
        new_(with_report(new_path_)) {}
  // Removes both files, before a case.
  void clear() const {
    std::filesystem::remove(lit_path_);
    std::filesystem::remove(new_path_);
  }
  const COMPAR& literal() const { return lit_; }
  const COMPAR& tested() const { return new_; }
  std::string literal_text() const { return read_file(lit_path_); }
  const std::string& tested_path() const { return new_path_; }
  std::string tested_text() const { return read_file(new_path_); }

 private:
  TempDir dir_;
  std::string lit_path_, new_path_;
  COMPAR lit_, new_;
};

}  // namespace drav::testing_factor
