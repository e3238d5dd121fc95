#include "params/model_files.h"

#include <cstring>

namespace drav {

std::optional<int32_t> ElRecord::valid_units(int32_t NDOFN) {
  const int64_t u = units(NDOFN);
  if (u < 1 || u > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(u);
}

ElRecord::Fields ElRecord::decode(const unsigned char* p, int32_t NDOFN, double* V) {
  const size_t v_bytes = static_cast<size_t>(data_bytes(NDOFN) - kTail);
  if (v_bytes > 0) std::memcpy(V, p, v_bytes);
  p += v_bytes;
  Fields f;
  std::memcpy(&f.VMOD, p + kVMOD, 8);
  std::memcpy(&f.YY, p + kYY, 8);
  std::memcpy(&f.T, p + kT, 8);
  std::memcpy(&f.IND, p + kIND, 4);
  std::memcpy(&f.AL0, p + kAL0, 4);
  return f;
}

void ElRecord::encode(const Fields& f, const double* V, int32_t NDOFN, unsigned char* p) {
  const size_t v_bytes = static_cast<size_t>(data_bytes(NDOFN) - kTail);
  if (v_bytes > 0) std::memcpy(p, V, v_bytes);
  p += v_bytes;
  const double zero = 0;
  std::memcpy(p + kVMOD, &f.VMOD, 8);
  std::memcpy(p + kVMOD2, &f.VMOD, 8);
  std::memcpy(p + kYY, &f.YY, 8);
  std::memcpy(p + kT, &f.T, 8);
  std::memcpy(p + kUnused1, &zero, 8);
  std::memcpy(p + kUnused2, &zero, 8);
  std::memcpy(p + kIND, &f.IND, 4);
  std::memcpy(p + kAL0, &f.AL0, 4);
}

int64_t count_free_dofs(const COMPAR& c) {
  int64_t k = 0;
  for_each_free_dof(
      c.NNODE, c.NDOFN, [&](int32_t n, int32_t d) { return c.iblk(n, d) != 0; },
      [&](int32_t, int32_t) { ++k; });
  return k;
}

void LOCARRAY(const COMPAR& c, WorkArrays& W) {
  const int64_t rows = W.LOC.size() / 2;
  int64_t k = 0;
  for_each_free_dof(
      c.NNODE, c.NDOFN, [&](int32_t n, int32_t d) { return c.iblk(n, d) != 0; },
      [&](int32_t n, int32_t d) {
        // The caller checks the count against NEQ first; never write past the table.
        if (k >= rows) return;
        W.LOC[k] = n;
        W.LOC[rows + k] = d;
        ++k;
      });
}

}  // namespace drav
