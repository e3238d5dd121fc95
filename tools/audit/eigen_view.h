// Eigen views of the program's matrices, for the tools' own sources only (the headers that
// tests and the program see stay free of Eigen).
#pragma once

#include <Eigen/Dense>

#include "params/work.h"

namespace drav::audit {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using ConstMatrixView = Eigen::Map<const RowMatrix>;
using MatrixView = Eigen::Map<RowMatrix>;

// Matrix stores its rows contiguously, one after the other: exactly a row-major Eigen matrix.
inline ConstMatrixView view(const Matrix& A) {
  return ConstMatrixView(A.order() > 0 ? A.row(1) : nullptr, A.order(), A.order());
}
inline MatrixView view(Matrix& A) {
  return MatrixView(A.order() > 0 ? A.row(1) : nullptr, A.order(), A.order());
}

}  // namespace drav::audit
