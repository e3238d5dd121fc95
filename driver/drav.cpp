#include "driver/drav.h"

#include <cstring>
#include <string>

#include "assembly/genlu.h"
#include "driver/model_input.h"
#include "driver/results.h"
#include "driver/work_alloc.h"
#include "factor/band_lu.h"
#include "factor/ludecomp.h"
#include "params/rcom.h"
#include "recio/binrec.h"
#include "recio/fatal.h"
#include "recio/listout.h"
#include "recio/out_file.h"

namespace drav {

namespace {

int stop_run(recio::TextSink& console, const char* message) {
  recio::ListWriter().item(message).write_to(console);
  console.put(" STOP: DRAV");
  return kExitStop;
}

}  // namespace

int DRAV_LU(recio::TextSink& console) {
  // Until the run has completed, the status file tells the next program that it failed,
  // whatever ends it (a stop, a fatal error, a signal, a kill); the final status comes last.
  write_status(-1);
  for (const char* f : {"AA0.UNF", "AA.UNF", "order.dat"}) recio::remove_scratch(f);

  RunHeader header;
  std::memcpy(header.PROGNM.data(), "DRAV      ", 10);

  COMPAR c;
  RCOM(c, 2);

  WorkArrays W;
  if (!allocate_group1(c, W)) return stop_run(console, " * Allocation Error: NEI,NF,A0,S0");
  if (!allocate_group2(c, W)) return stop_run(console, " * Eroare alocare:V,VMOD,YY,T,IND,AL0");

  read_model(c, W);

  const bool first_iteration = c.ITER == 1;
  // Replaced whole at close, so that it is never seen half written.
  recio::SeqWriter matrix_file(
      3, first_iteration ? "AA0.UNF" : "AA.UNF",
      first_iteration ? recio::OpenStatus::Unknown : recio::OpenStatus::Old, recio::Replace::Whole);

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
