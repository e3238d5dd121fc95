#include "driver/overlap.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include "assembly/stiffness_report.h"
#include "driver/results.h"
#include "driver/work_alloc.h"
#include "params/model_files.h"
#include "recio/fatal.h"

namespace drav {

MatrixFile::MatrixFile(int32_t ITER) : ITER_(ITER) {
  reopen();
}

void MatrixFile::drop() {
  out_.reset();
  begun_ = false;
}

void MatrixFile::reopen() {
  // The dropped content's scratch file goes before the new one takes its name.
  drop();
  const RunFile& f = matrix_file_of(ITER_);
  out_ = std::make_unique<recio::SeqWriter>(
      f.unit, f.name, ITER_ == 1 ? recio::OpenStatus::Unknown : recio::OpenStatus::Old,
      recio::Replace::Whole, recio::ZeroPages::Holes);
}

void MatrixFile::write_rows(const Factorization& F, int threads) {
  begun_ = true;
  out_->replace_content();
  write_matrix_rows(F, *out_, threads);
  // Stored now, while the report may still be written, rather than when the file is closed.
  out_->settle();
}

namespace {

void write_report(const COMPAR& c, const UpperRows& A, recio::TextFileOut& out) {
  write_stiffness_report(c, A, out);
  out.close();
}

}  // namespace

FactorOutcome report_and_factor(const COMPAR& c, WorkArrays& W, const UpperRows& A,
                                const std::string& not_finite, Matrix& LU, Factorization& F,
                                int threads, MatrixFile& matrix_file) {
  FactorOutcome outcome;
  FactorOptions options;
  options.threads = threads;
  // The report's thread is one of the run's threads: the factorization leaves it out while it
  // is busy, and takes it as soon as the report is done.
  std::atomic<int> busy{0};
  options.busy = &busy;
  auto factorization = [&] {
    allocate_or_fail(W.IORD, nonneg(c.NEQ));
    outcome = factor_system(A, LU, W.IORD.data(), F, options);
  };

  std::unique_ptr<recio::TextFileOut> report;
  std::exception_ptr report_error;
  std::thread reporter;
  if (threads > 1) {
    // temp.dat and the opening of the report fail, if at all, before anything else starts.
    report = open_stiffness_report();
    busy.store(1);
    try {
      reporter = std::thread([&] {
        try {
          write_report(c, A, *report);
        } catch (...) {
          report_error = std::current_exception();
        }
        busy.store(0);
      });
    } catch (const std::system_error&) {
      busy.store(0);  // no second thread to be had: the steps run one after the other
    }
  }
  if (!reporter.joinable()) {
    if (report) {
      write_report(c, A, *report);
    } else {
      WRITESTIFFNESSMATRIX(c, A);
    }
    if (!not_finite.empty()) recio::fail(not_finite);
    factorization();
    return outcome;
  }

  // The factorization writes nothing, and the rows go where nobody sees them before the file
  // is closed, so nothing of either shows before the report is complete and the entries are
  // known to be finite.
  std::exception_ptr factor_error, rows_error;
  if (not_finite.empty()) {
    try {
      factorization();
      // The rows take the threads the report leaves free.
      if (outcome.stop == FactorOutcome::Stop::Complete && matrix_file.replaces_whole())
        matrix_file.write_rows(F, threads - busy.load());
    } catch (...) {
      (matrix_file.rows_begun() ? rows_error : factor_error) = std::current_exception();
    }
  }
  reporter.join();
  if (report_error) {
    if (!matrix_file.rows_begun()) std::rethrow_exception(report_error);
    // The rows may have taken the room on the disk that the report lacked: without them, the
    // report is written again, as first of the two; its failure then is the run's.
    matrix_file.drop();
    rows_error = nullptr;
    report = open_stiffness_report();
    write_report(c, A, *report);
    matrix_file.reopen();
  }
  if (!not_finite.empty()) recio::fail(not_finite);
  if (factor_error) std::rethrow_exception(factor_error);
  if (rows_error) std::rethrow_exception(rows_error);
  return outcome;
}

}  // namespace drav
