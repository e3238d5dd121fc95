#include "driver/drav.h"

#include <cstring>
#include <string>

#include "assembly/genlu.h"
#include "driver/model_input.h"
#include "driver/results.h"
#include "factor/band_lu.h"
#include "factor/ludecomp.h"
#include "params/rcom.h"
#include "recio/binrec.h"
#include "recio/fatal.h"
#include "recio/listout.h"

namespace drav {

namespace {

// Arrays whose byte size needs more than 32 bits cannot be had, like memory that is refused.
constexpr uint64_t kMaxArrayBytes = 0xFFFFFFFFu;

int64_t nonneg(int64_t v) {
  return v > 0 ? v : 0;
}

template <class T>
bool allocate_checked(ZArray<T>& a, int64_t count) {
  if (ZArray<T>::byte_size(count, kMaxArrayBytes) < 0) return false;
  return a.allocate(count);
}

// An allocation without a status of its own: failure ends the run with the fatal report.
template <class T>
void allocate_or_fail(ZArray<T>& a, int64_t count) {
  if (ZArray<T>::byte_size(count, kMaxArrayBytes) < 0) recio::fail(recio::kSizeOverflow);
  if (!a.allocate(count)) recio::fail(recio::kNoMemory);
}

bool allocate_group1(const COMPAR& c, WorkArrays& W) {
  const int64_t numel = nonneg(c.NUMEL);
  return allocate_checked(W.NEI, nonneg(c.NNODE) * nonneg(c.NEMAX)) &&
         allocate_checked(W.NI, numel) && allocate_checked(W.NF, numel) &&
         allocate_checked(W.A0, numel) && allocate_checked(W.S0, numel);
}

bool allocate_group2(const COMPAR& c, WorkArrays& W) {
  const int64_t numel = nonneg(c.NUMEL);
  return allocate_checked(W.V, numel * nonneg(c.NDOFN)) && allocate_checked(W.VMOD, numel) &&
         allocate_checked(W.YY, numel) && allocate_checked(W.T, numel) &&
         allocate_checked(W.IND, numel) && allocate_checked(W.AL0, numel);
}

int stop_run(recio::TextSink& console, const char* message) {
  recio::ListWriter().item(message).write_to(console);
  console.put(" STOP: DRAV");
  return kExitStop;
}

}  // namespace

int DRAV_LU(recio::TextSink& console) {
  RunHeader header;
  std::memcpy(header.PROGNM.data(), "DRAV      ", 10);

  COMPAR c;
  RCOM(c, 2);

  WorkArrays W;
  if (!allocate_group1(c, W)) return stop_run(console, " * Allocation Error: NEI,NF,A0,S0");
  if (!allocate_group2(c, W)) return stop_run(console, " * Eroare alocare:V,VMOD,YY,T,IND,AL0");

  read_nei(c, W);
  read_x0(c, W);

  // The equation table has NEQ rows; a model whose free degrees of freedom do not number NEQ
  // would leave rows unset or run past the table.
  allocate_or_fail(W.LOC, nonneg(c.NEQ) * 2);
  const int64_t nfree = count_free_dofs(c);
  if (nfree != c.NEQ) {
    recio::fail("COMZOR.DAT gives NEQ = " + std::to_string(c.NEQ) + ", but the supports leave " +
                std::to_string(nfree) + " free degrees of freedom");
  }
  LOCARRAY(c, W);

  read_el(c, W);

  const bool first_iteration = c.ITER == 1;
  recio::SeqWriter matrix_file(
      3, first_iteration ? "AA0.UNF" : "AA.UNF",
      first_iteration ? recio::OpenStatus::Unknown : recio::OpenStatus::Old);

  Matrix LU;
  if (!LU.allocate(c.NEQ)) {
    recio::ListWriter().item(" Can Not Allocate work array LU!").write_to(console);
    matrix_file.close();
    // No matrix was produced: the status file must not tell the next program that all is well.
    write_status(-1);
    return kExitNoMatrix;
  }
  // LU comes zeroed from the allocator.
  allocate_or_fail(W.IEL, nonneg(c.NEMAX));
  GENLU(c, W, LU);
  check_finite(c, W, LU);

  allocate_or_fail(W.IORD, nonneg(c.NEQ));
  int32_t IERR = 0;
  int32_t KSTEP = 0;
  int32_t ISTAT = 0;
  // The band factorization gives the literal scheme's bits at a fraction of its cost; where its
  // reasoning does not hold (a value that is not finite) it declines and the literal one runs.
  if (!LUDECOMP_BAND(LU, c.NEQ, c.NBAND, W.IORD.data(), IERR, KSTEP, c, console)) {
    LUDECOMP(LU, c.NEQ, W.IORD.data(), IERR, KSTEP, c, console);
  }
  if (IERR >= 0) {
    // A factored matrix of no rows still replaces the file of an earlier run.
    matrix_file.replace_content();
    write_matrix_rows(LU, matrix_file);
    write_order(W.IORD, c.NEQ);
  } else {
    report_singular(c, header, W, KSTEP, console);
    ISTAT = -1;
  }
  matrix_file.close();
  write_status(ISTAT);
  return kExitOk;
}

}  // namespace drav
