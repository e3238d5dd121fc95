#include "driver/drav.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#include "assembly/genlu.h"
#include "driver/model_input.h"
#include "driver/overlap.h"
#include "driver/results.h"
#include "driver/work_alloc.h"
#include "factor/factor_system.h"
#include "factor/pivot_report.h"
#include "params/model_files.h"
#include "params/rcom.h"
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

int run_threads() {
  if (const char* v = std::getenv("DRAV_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (end != v) {
      while (*end == ' ' || *end == '\t') ++end;
      if (*end == '\0' && n >= 1 && n <= 1024) return static_cast<int>(n);
    }
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores >= 1 ? static_cast<int>(cores) : 1;
}

int DRAV_LU(recio::TextSink& console) {
  // Until the run has completed, the status file tells the next program that it failed,
  // whatever ends it (a stop, a fatal error, a signal, a kill); the final status comes last.
  write_status(-1);
  for (const RunFile& f : {kMatrixFileFirst, kMatrixFileLater, kOrderFile})
    recio::remove_scratch(f.name);

  RunHeader header;
  std::memcpy(header.PROGNM.data(), "DRAV      ", 10);

  COMPAR c;
  RCOM(c, kComzorFile.unit, kComzorFile.name);

  WorkArrays W;
  if (!allocate_group1(c, W)) return stop_run(console, " * Allocation Error: NEI,NF,A0,S0");
  if (!allocate_group2(c, W)) return stop_run(console, " * Eroare alocare:V,VMOD,YY,T,IND,AL0");

  read_model(c, W);

  MatrixFile matrix_file(c.ITER);

  Matrix LU;
  if (!LU.allocate(c.NEQ)) {
    recio::ListWriter().item(" Can Not Allocate work array LU!").write_to(console);
    matrix_file.close();
    // No matrix was produced: the status file must not tell the next program that all is well.
    write_status(-1);
    return kExitNoMatrix;
  }
  // LU comes zeroed from the allocator; a banded matrix is factored in storage of its own and
  // leaves LU untouched (its pages are never even mapped in).
  allocate_or_fail(W.IEL, nonneg(c.NEMAX));
  const UpperRows A = generate_upper(c, W, LU);
  Factorization F;
  const int threads = run_threads();
  const FactorOutcome outcome =
      report_and_factor(c, W, A, first_non_finite(W, A), LU, F, threads, matrix_file);

  int32_t ISTAT = 0;
  if (outcome.stop == FactorOutcome::Stop::Complete) {
    if (!matrix_file.rows_begun()) matrix_file.write_rows(F, threads);
    write_order(W.IORD, c.NEQ);
  } else {
    report_pivot_failure(outcome.KSTEP, outcome.pivot, c, console);
    report_singular(c, header, W, outcome.KSTEP, console);
    ISTAT = -1;
  }
  matrix_file.close();
  write_status(ISTAT);
  return kExitOk;
}

}  // namespace drav
