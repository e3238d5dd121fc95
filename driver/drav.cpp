#include "driver/drav.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "assembly/genlu.h"
#include "assembly/stiffness_report.h"
#include "driver/model_input.h"
#include "driver/results.h"
#include "driver/work_alloc.h"
#include "factor/factor_system.h"
#include "factor/pivot_report.h"
#include "params/model_files.h"
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

  const bool first_iteration = c.ITER == 1;
  // Replaced whole at close, so that it is never seen half written. The rows of a banded
  // matrix are mostly +0.0: pages of them are left as holes.
  recio::SeqWriter matrix_file(
      matrix_file_of(c.ITER).unit, matrix_file_of(c.ITER).name,
      first_iteration ? recio::OpenStatus::Unknown : recio::OpenStatus::Old, recio::Replace::Whole,
      recio::ZeroPages::Holes);

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
  const std::string not_finite = first_non_finite(W, A);

  Factorization F;
  FactorOutcome outcome;
  FactorOptions options;
  options.threads = run_threads();
  auto factorization = [&] {
    allocate_or_fail(W.IORD, nonneg(c.NEQ));
    outcome = factor_system(A, LU, W.IORD.data(), F, options);
  };
  // The report is written while the matrix is factored. The factorization writes nothing, so
  // nothing of it shows before the report is complete and the entries are known to be finite;
  // a failure of either is reported as if the steps had run one after the other: the report's
  // first, then the entries', then the factorization's.
  std::exception_ptr report_error, factor_error;
  std::thread reporter;
  std::unique_ptr<recio::TextFileOut> report;
  if (options.threads > 1) {
    // temp.dat and the opening of the report fail, if at all, before anything else starts.
    report = open_stiffness_report();
    try {
      reporter = std::thread([&] {
        try {
          write_stiffness_report(c, A, *report);
          report->close();
        } catch (...) {
          report_error = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No second thread to be had: the steps run one after the other.
    }
  }
  if (!reporter.joinable()) {
    if (report) {
      write_stiffness_report(c, A, *report);
      report->close();
    } else {
      WRITESTIFFNESSMATRIX(c, A);
    }
    if (!not_finite.empty()) recio::fail(not_finite);
    factorization();
  } else {
    if (not_finite.empty()) {
      try {
        factorization();
      } catch (...) {
        factor_error = std::current_exception();
      }
    }
    reporter.join();
    if (report_error) std::rethrow_exception(report_error);
    if (!not_finite.empty()) recio::fail(not_finite);
    if (factor_error) std::rethrow_exception(factor_error);
  }

  int32_t ISTAT = 0;
  if (outcome.stop == FactorOutcome::Stop::Complete) {
    // A factored matrix of no rows still replaces the file of an earlier run.
    matrix_file.replace_content();
    write_matrix_rows(F, matrix_file);
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
