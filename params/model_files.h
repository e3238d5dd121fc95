// The files of a run in one place: their names and units, the layout of an el.unf record and
// the numbering of the equations. The program, the model builder, the audit tool and the tests
// all take these facts from here, so that a writer and its reader cannot drift apart.
#pragma once

#include <cstdint>
#include <optional>

#include "params/compar.h"
#include "params/work.h"

namespace drav {

// A file of the run and the unit it is opened on (the unit shows in the fatal report).
struct RunFile {
  int unit;
  const char* name;
};

// Read by the program.
inline constexpr RunFile kComzorFile{2, "COMZOR.DAT"};  // model sizes, supports, settings
inline constexpr RunFile kNeiFile{2, "nei.UNF"};        // NEI, NI, NF
inline constexpr RunFile kX0File{2, "x0.UNF"};          // coordinates, A0, lengths, S0
inline constexpr RunFile kElFile{2, "el.unf"};          // one direct-access record an element
inline constexpr RunFile kTempFile{11, "temp.dat"};     // the current load case
// Written by the program.
inline constexpr RunFile kMatrixFileFirst{3, "AA0.UNF"};  // the factors, iteration 1
inline constexpr RunFile kMatrixFileLater{3, "AA.UNF"};   // the factors, later iterations
inline constexpr RunFile kStatusFile{3, "drav0.dat"};     // the run status
inline constexpr RunFile kOrderFile{7, "order.dat"};      // the row order
// The report file named in COMZOR.DAT (the singular-matrix report, appended) and the
// stiffness report rig-case<n>.dat (see rig_file_name).
inline constexpr int kReportUnit = 1;
inline constexpr int kStiffnessReportUnit = 15;

// The matrix file of iteration ITER: AA0.UNF for the first, AA.UNF for every later one.
inline const RunFile& matrix_file_of(int32_t ITER) {
  return ITER == 1 ? kMatrixFileFirst : kMatrixFileLater;
}

// One el.unf record: V(1..NDOFN) as doubles, then at these byte offsets after them VMOD, YY
// and T (doubles), IND (int32) and AL0 (real). The doubles at 8, 32 and 40 are not read; the
// records we write repeat VMOD at 8 and hold 0 at 32 and 40. The record length is
// 8*NDOFN + 56 four-byte units, of which the data fill the first 8*NDOFN + 56 bytes; the rest
// is zeros.
struct ElRecord {
  static constexpr int64_t kVMOD = 0, kVMOD2 = 8, kYY = 16, kT = 24, kUnused1 = 32, kUnused2 = 40,
                           kIND = 48, kAL0 = 52, kTail = 56;

  // Record length in four-byte units, as computed from NDOFN (may be out of range).
  static int64_t units(int32_t NDOFN) { return 8 * static_cast<int64_t>(NDOFN) + 56; }
  // The record length when it can describe a record (1 .. INT32_MAX units), else none.
  static std::optional<int32_t> valid_units(int32_t NDOFN);
  // Bytes of data at the start of each record. A negative NDOFN has no direction components.
  static int64_t data_bytes(int32_t NDOFN) {
    return 8 * (NDOFN > 0 ? static_cast<int64_t>(NDOFN) : 0) + kTail;
  }

  // The fields of one element; V has NDOFN components.
  struct Fields {
    double VMOD = 0, YY = 0, T = 0;
    int32_t IND = 0;
    float AL0 = 0;
  };
  // Reads the fields of the record at `p` (data_bytes(NDOFN) bytes); the components go to V.
  static Fields decode(const unsigned char* p, int32_t NDOFN, double* V);
  // Writes the data of a record to `p` (data_bytes(NDOFN) bytes) from the fields and V.
  static void encode(const Fields& f, const double* V, int32_t NDOFN, unsigned char* p);
};

// The equation numbering: node by node, direction by direction, one equation for every free
// direction (blocked(n, d) false), calling f(n, d) in equation order, nodes and directions
// from 1. Nothing when NDOFN <= 0.
template <class Blocked, class F>
void for_each_free_dof(int32_t NNODE, int32_t NDOFN, Blocked blocked, F f) {
  for (int32_t n = 1; n <= NNODE; ++n)
    for (int32_t d = 1; d <= NDOFN; ++d)
      if (!blocked(n, d)) f(n, d);
}

// The number of free degrees of freedom of the parameters' supports (IBLK).
int64_t count_free_dofs(const COMPAR& c);

// Numbers the equations: LOC(k,1) = node, LOC(k,2) = direction of each free degree of freedom,
// in the order of for_each_free_dof. W.LOC holds the rows; never written past.
void LOCARRAY(const COMPAR& c, WorkArrays& W);

}  // namespace drav
