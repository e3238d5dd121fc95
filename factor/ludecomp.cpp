#include "factor/ludecomp.h"

#include <cmath>
#include <string>
#include <vector>

#include "params/width.h"
#include "recio/listout.h"
#include "recio/text_edit.h"

namespace drav {

void SWAP_ROW(int32_t N, Matrix& LU, int32_t* IORD, int32_t R1, int32_t R2) {
  double* r1 = LU.row(R1);
  double* r2 = LU.row(R2);
  // Through a buffer of the whole row, so that R1 = R2 is harmless.
  std::vector<double> buffer(r1, r1 + N);
  for (int32_t j = 0; j < N; ++j) r1[j] = r2[j];
  for (int32_t j = 0; j < N; ++j) r2[j] = buffer[j];
  const int32_t t = IORD[R1 - 1];
  IORD[R1 - 1] = IORD[R2 - 1];
  IORD[R2 - 1] = t;
}

void COMPUTE_A_II(int32_t N, const Matrix& LU, int32_t KSTEP, float& A_II) {
  (void)N;
  const int32_t k = KSTEP;
  double s = 0.0;
  for (int32_t m = 1; m <= k - 1; ++m) s += LU(m, k) * LU(k, m);
  A_II = static_cast<float>(LU(k, k) - s);
}

void APVT(Matrix& LU, int32_t N, int32_t* IORD, int32_t KSTEP) {
  const int32_t k = KSTEP;
  float AMAX = 0.0f;
  int32_t IMAX = k;
  for (int32_t i = k; i <= N; ++i) {
    if (i > k) SWAP_ROW(N, LU, IORD, k, i);
    float A_II;
    if (k == 1) {
      A_II = static_cast<float>(LU(1, 1));
    } else {
      COMPUTE_A_II(N, LU, k, A_II);
    }
    if (beats(A_II, AMAX)) {
      IMAX = i;
      AMAX = A_II;
    }
    if (i > k) SWAP_ROW(N, LU, IORD, i, k);
  }
  if (IMAX > k) SWAP_ROW(N, LU, IORD, k, IMAX);
}

void APVT_DIRECT(Matrix& LU, int32_t N, int32_t* IORD, int32_t KSTEP) {
  const int32_t k = KSTEP;
  // Rows 1..k-1 never move during the search, so column k of U above the diagonal is the
  // same for every candidate; gathering it once keeps the candidate sums on contiguous rows.
  std::vector<double> ucol(k > 1 ? k - 1 : 0);
  for (int32_t m = 1; m <= k - 1; ++m) ucol[m - 1] = LU(m, k);
  float AMAX = 0.0f;
  int32_t IMAX = k;
  for (int32_t i = k; i <= N; ++i) {
    const double* r = LU.row(i);
    // Same terms, same order and same operand order as COMPUTE_A_II on the row swapped in.
    double s = 0.0;
    for (int32_t m = 1; m <= k - 1; ++m) s += ucol[m - 1] * r[m - 1];
    const float A_II = static_cast<float>(k == 1 ? r[0] : r[k - 1] - s);
    if (beats(A_II, AMAX)) {
      IMAX = i;
      AMAX = A_II;
    }
  }
  if (IMAX > k) SWAP_ROW(N, LU, IORD, k, IMAX);
}

// The two failure records differ: step 1 shows the tolerance, on the console and in the report
// file; a later step shows both indices, after an empty record, in the file only.
void report_pivot_failure(int32_t k, double u, const COMPAR& c, recio::TextSink& console) {
  const float u4 = static_cast<float>(u);
  if (k == 1) {
    recio::ListWriter w;
    w.item(" u(1,1) =").item(u4).item(" <").item(static_cast<float>(PIVTOL));
    const std::vector<std::string> lines = w.finish();
    for (const std::string& line : lines) console.put(line);
    recio::TextFileOut rep(1, c.report_path(), recio::TextFileOut::Access::Append);
    for (const std::string& line : lines) rep.put(line);
    rep.close();
    return;
  }
  const int32_t w = WIDTH(k);
  const std::string kk = recio::edit_I(k, w);
  recio::TextFileOut rep(1, c.report_path(), recio::TextFileOut::Access::Append);
  rep.put("");
  rep.put(" u(" + kk + "," + kk + ") = " + recio::edit_G(u4, 15, 7));
  rep.close();
}

namespace {

FactorOutcome factor(Matrix& LU, int32_t N, int32_t* IORD, bool trial_exchanges) {
  FactorOutcome out;
  if (N < 1) return out;  // nothing to factor: an empty system is complete at once, KSTEP 1
  auto pivot_step = [&](int32_t k) {
    if (trial_exchanges) {
      APVT(LU, N, IORD, k);
    } else {
      APVT_DIRECT(LU, N, IORD, k);
    }
  };
  auto failed = [&](int32_t k, double u) {
    out.stop = FactorOutcome::Stop::PivotFailed;
    out.KSTEP = k;
    out.pivot = u;
    return out;
  };
  for (int32_t i = 1; i <= N; ++i) IORD[i - 1] = i;

  if (N > 1) pivot_step(1);
  if (pivot_fails(LU(1, 1))) return failed(1, LU(1, 1));
  {
    const double u11 = LU(1, 1);
    for (int32_t i = 2; i <= N; ++i) LU(i, 1) = LU(i, 1) / u11;
  }

  // Running sums of row k of U (index j) and column k of U above the diagonal (index m).
  std::vector<double> sum(N);
  std::vector<double> ucol(N);
  for (int32_t k = 2; k <= N; ++k) {
    if (k < N) pivot_step(k);

    // Row k of U. Each sum over m is still formed on its own, from +0.0 and in ascending m;
    // the loops only run m outside j so that every term comes from a contiguous row.
    double* rk = LU.row(k);
    for (int32_t j = k; j <= N; ++j) sum[j - 1] = 0.0;
    for (int32_t m = 1; m <= k - 1; ++m) {
      const double lkm = rk[m - 1];
      const double* rm = LU.row(m);
      for (int32_t j = k; j <= N; ++j) sum[j - 1] += lkm * rm[j - 1];
    }
    for (int32_t j = k; j <= N; ++j) rk[j - 1] = rk[j - 1] - sum[j - 1];

    const double ukk = rk[k - 1];
    if (pivot_fails(ukk)) return failed(k, ukk);

    // Column k of L.
    for (int32_t m = 1; m <= k - 1; ++m) ucol[m - 1] = LU(m, k);
    for (int32_t i = k + 1; i <= N; ++i) {
      double* ri = LU.row(i);
      double s = 0.0;
      for (int32_t m = 1; m <= k - 1; ++m) s += ri[m - 1] * ucol[m - 1];
      ri[k - 1] = (ri[k - 1] - s) / ukk;
    }
  }
  out.KSTEP = N + 1;
  return out;
}

void factor_and_report(Matrix& LU, int32_t N, int32_t* IORD, int32_t& IERR, int32_t& KSTEP,
                       const COMPAR& c, recio::TextSink& console, bool trial_exchanges) {
  const FactorOutcome r = factor(LU, N, IORD, trial_exchanges);
  KSTEP = r.KSTEP;
  IERR = 0;
  if (r.stop == FactorOutcome::Stop::PivotFailed) {
    report_pivot_failure(r.KSTEP, r.pivot, c, console);
    IERR = -1;
  }
}

}  // namespace

void LUDECOMP(Matrix& LU, int32_t N, int32_t* IORD, int32_t& IERR, int32_t& KSTEP, const COMPAR& c,
              recio::TextSink& console) {
  factor_and_report(LU, N, IORD, IERR, KSTEP, c, console, /*trial_exchanges=*/true);
}

void LUDECOMP_DIRECT(Matrix& LU, int32_t N, int32_t* IORD, int32_t& IERR, int32_t& KSTEP,
                     const COMPAR& c, recio::TextSink& console) {
  factor_and_report(LU, N, IORD, IERR, KSTEP, c, console, /*trial_exchanges=*/false);
}

FactorOutcome LUDECOMP_OUTCOME(Matrix& LU, int32_t N, int32_t* IORD) {
  return factor(LU, N, IORD, /*trial_exchanges=*/false);
}

}  // namespace drav
