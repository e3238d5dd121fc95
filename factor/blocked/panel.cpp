// The column steps of a block: panel by panel, column by column inside a panel (see
// elimination.h).
#include <algorithm>
#include <cmath>

#include "factor/blocked/elimination.h"
#include "factor/pivot_rule.h"

namespace drav::blocked {

namespace {

// Rows copied together between the storage and the panel's columns.
constexpr int kGroup = 8;

// Whether each of the g rows keeps every column of the panel [c0, c1): always on the dense
// matrix, and on a band for the rows inside it.
bool keep_all(const Range* cols, int g, int c0, int c1) {
  for (int q = 0; q < g; ++q)
    if (cols[q].begin != c0 || cols[q].end != c1) return false;
  return true;
}

}  // namespace

// Step 2 for block B, whose sums hold every term m < B.k0, with at most `most` members.
// False when the pivot test fails (fail_k_, fail_pivot_).
bool Elimination::factor_block(Block& B, int most) {
  return factor_columns(B, B.k0, B.k1, most);
}

// The columns [c0, c1) of block B, whose sums hold every term m < c0: halves of whole panels,
// the right half given the left half's terms in one product between them (wider than a
// panel's, so that each panel of A copied for it serves more tiles), down to single panels.
bool Elimination::factor_columns(Block& B, int c0, int c1, int most) {
  const int panels = (c1 - c0 + ib_ - 1) / ib_;
  if (panels <= 1) {
    // Rows that enter the window only after the panel have nothing in its columns.
    return factor_panel(B, c0, c1, std::min(B.reach, entered(c1)), most);
  }
  const int mid = c0 + (panels + 1) / 2 * ib_;
  if (!factor_columns(B, c0, mid, most)) return false;
  update(B, mid, c1, c0, mid, most);
  return factor_columns(B, mid, c1, most);
}

// The columns of the panel [c0, c1) that the g rows at positions from i each keep, and where
// each row's first kept column stands (null when it keeps none): on a band none before its
// first entry (a zero there, or the zero multiplier of a row below the window, which the
// storage leaves out); for a row of U of the panel none past its reach once the step is done.
void Elimination::panel_kept(int c0, int c1, int i, int g, bool done, Range* cols,
                             double** first) const {
  for (int q = 0; q < g; ++q, ++i) {
    Range c{c0, c1};
    if (band_) {
      const int32_t r = iord_[i] - 1;
      c = {std::max(c0, band_->entry(r)), std::min(c1, band_->hi(r) + 1)};
      if (done && i < c1) c.end = std::min(c.end, ju(i) + 1);
    }
    cols[q] = c;
    first[q] = c.begin < c.end ? at(iord_, i, c.begin) : nullptr;
  }
}

// The panel's rows at positions c0 + [own) into its copies: values (+0.0 where a row keeps
// nothing) and running sums. Rows in groups, so that each column of the copies is written a
// cache line at a time.
void Elimination::panel_in(const Block& B, int c0, int c1, Range own) {
  const int w = c1 - c0;
  const int64_t ld = xld_;
  for (int i0 = own.begin; i0 < own.end; i0 += kGroup) {
    const int g = std::min(kGroup, own.end - i0);
    double* ar[kGroup];
    const double* sr[kGroup];
    Range cols[kGroup];
    panel_kept(c0, c1, c0 + i0, g, false, cols, ar);
    for (int q = 0; q < g; ++q) sr[q] = srow(B, c0 + i0 + q) + (c0 - B.k0);
    k_.to_columns(g, w, sr, y_.data() + i0, ld);
    if (keep_all(cols, g, c0, c1)) {
      k_.to_columns(g, w, ar, x_.data() + i0, ld);
      continue;
    }
    for (int j = 0; j < w; ++j) {
      double* x = x_.data() + j * ld + i0;
      const int c = c0 + j;
      for (int q = 0; q < g; ++q)
        x[q] = c >= cols[q].begin && c < cols[q].end ? ar[q][c - cols[q].begin] : 0.0;
    }
  }
}

// The values of the copy back into the rows at positions c0 + [own), the columns each keeps
// (`done`: after the panel's steps), checked for values that are not finite on a band.
void Elimination::panel_out(int c0, int c1, Range own, bool done) {
  const int w = c1 - c0;
  const int64_t ld = xld_;
  for (int i0 = own.begin; i0 < own.end; i0 += kGroup) {
    const int g = std::min(kGroup, own.end - i0);
    double* ar[kGroup];
    Range cols[kGroup];
    panel_kept(c0, c1, c0 + i0, g, done, cols, ar);
    if (keep_all(cols, g, c0, c1)) {
      k_.from_columns(g, w, x_.data() + i0, ld, ar);
    } else {
      for (int j = 0; j < w; ++j) {
        const double* x = x_.data() + j * ld + i0;
        const int c = c0 + j;
        for (int q = 0; q < g; ++q)
          if (c >= cols[q].begin && c < cols[q].end) ar[q][c - cols[q].begin] = x[q];
      }
    }
    if (!band_) continue;
    for (int q = 0; q < g; ++q)
      if (ar[q] && !all_finite(ar[q], cols[q].end - cols[q].begin)) not_finite_.store(true);
  }
}

// Factors the panel of columns [c0, c1) on rows [c0, rows_end), whose running sums hold every
// term m < c0. Works on a copy of the panel stored column by column, so that each step runs
// down contiguous columns, the rows split between the members: each finds the candidate of
// its rows, member 0 picks the pivot, exchanges, tests and finishes the row of U, and all
// then form the multipliers and the new terms of their rows. False when the pivot test fails
// (fail_k_, fail_pivot_; the panel's values are written back first).
bool Elimination::factor_panel(Block& B, int c0, int c1, int rows_end, int most) {
  const int w = c1 - c0;
  const int rows = rows_end - c0;
  const int64_t ld = xld_;
  double* X = x_.data();
  double* Y = y_.data();
  bool failed = false;
  const int members = members_for(static_cast<int64_t>(rows) * w * w / 2, rows / panel_rows_, most);
  Barrier barrier(members);

  parallel(members, [&](int t, int members) {
    const Range own = share(0, rows, t, members, kGroup);
    panel_in(B, c0, c1, own);
    for (int s = 0; s < w; ++s) {
      const int k = c0 + s;
      double* x = X + s * ld;
      const int lo = std::max(own.begin, s), hi = own.end;
      // The candidates, and at once the numerators of the multipliers: a - S. At step 1 they
      // are the entries themselves.
      if (k > 0 && lo < hi) k_.sub(hi - lo, x + lo, Y + s * ld + lo, x + lo);
      // No search at the last step, which has one candidate.
      if (k < n_ - 1) {
        const int best = lo < hi ? k_.pivot(hi - lo, x + lo) : -1;
        slots_[static_cast<size_t>(t)] =
            best < 0 ? Slot{0.0f, -1}
                     : Slot{std::fabs(static_cast<float>(x[lo + best])), lo + best};
      }
      barrier.arrive_and_wait();
      if (t == 0) failed = !pivot_step(c0, c1, s, members);
      barrier.arrive_and_wait();
      if (failed) break;
      // The multipliers of column k and the terms of step k for the later columns of its group.
      const double ukk = x[s];
      const int below = std::max(own.begin, s + 1);
      const int g1 = group_end(s, w);
      if (below < hi) {
        k_.div(hi - below, x + below, ukk);
        for (int j = s + 1; j < g1; ++j)
          k_.axpy_col(hi - below, x + below, X[j * ld + s], Y + j * ld + below);
      }
      if (s + 1 == g1 && g1 < w) {
        // The group's terms for the columns after it: member 0 finishes the group's rows of U
        // there once every multiplier is in, then each member takes the product on its rows.
        const int g0 = g1 - grp_;
        barrier.arrive_and_wait();
        if (t == 0) group_rows(c0, g0, g1, w);
        barrier.arrive_and_wait();
        group_terms(t, g0, g1, w, std::max(own.begin, g1), hi);
      }
    }
    panel_out(c0, c1, own, !failed);
  });
  if (failed) return false;
  // This panel's exchanges in the later columns' sums and, on the dense matrix, in the block's
  // other columns (a band's rows stay where they are).
  for (int k = c0; k < c1; ++k) {
    const int p = piv_[static_cast<size_t>(k)];
    if (p == k) continue;
    if (!band_) swap_columns(k, p, {B.k0, c0}, {c1, B.k1});
    k_.swap(B.k1 - c1, srow(B, k) + (c1 - B.k0), srow(B, p) + (c1 - B.k0));
  }
  return true;
}

// Step k = c0 + s of a panel, once the members' candidates are in slots_: the pivot (the
// largest magnitude, the first row that has it), the exchange, the pivot test and row k of U
// in the panel's later columns. False when the pivot test fails.
bool Elimination::pivot_step(int c0, int c1, int s, int members) {
  const int k = c0 + s;
  const int w = c1 - c0;
  const int64_t ld = xld_;
  double* X = x_.data();
  double* Y = y_.data();
  int p = s;
  if (k < n_ - 1) {
    float most = 0.0f;
    for (int t = 0; t < members; ++t) most = std::max(most, slots_[static_cast<size_t>(t)].most);
    if (most > 0.0f)
      for (int t = 0; t < members; ++t)
        if (slots_[static_cast<size_t>(t)].most == most) {
          p = slots_[static_cast<size_t>(t)].at;
          break;
        }
  }
  piv_[static_cast<size_t>(k)] = c0 + p;
  if (band_) {
    // The fill so far: the pivot row reaches no further than its position allows.
    const int32_t reach = std::min(n_ - 1, c0 + p + b_ - 1);
    band_->ju[static_cast<size_t>(k)] = std::max(k > 0 ? ju(k - 1) : 0, reach);
  }
  if (p != s) {
    std::swap(iord_[k], iord_[c0 + p]);
    for (int j = 0; j < w; ++j) {
      std::swap(X[j * ld + s], X[j * ld + p]);
      std::swap(Y[j * ld + s], Y[j * ld + p]);
    }
  }
  const double ukk = X[s * ld + s];
  if (pivot_fails(ukk)) {
    fail_k_ = k;
    fail_pivot_ = ukk;
    return false;
  }
  // Row k of U in its group's later columns; the columns after the group at its end.
  if (k > 0) {
    const int g1 = group_end(s, w);
    for (int j = s + 1; j < g1; ++j) X[j * ld + s] = X[j * ld + s] - Y[j * ld + s];
  }
  return true;
}

// The rows of U of the steps [g0, g1) of a panel of w columns from c0, in the columns from g1
// on: each row takes the terms of the group's rows above it, in step order, then u = a - S.
void Elimination::group_rows(int c0, int g0, int g1, int w) {
  const int64_t ld = xld_;
  double* X = x_.data();
  double* Y = y_.data();
  for (int s = g0; s < g1; ++s)
    for (int j = g1; j < w; ++j) {
      double y = Y[j * ld + s];
      for (int m = g0; m < s; ++m) y = y + X[m * ld + s] * X[j * ld + m];
      Y[j * ld + s] = y;
      if (c0 + s > 0) X[j * ld + s] = X[j * ld + s] - y;
    }
}

// The terms of the steps [g0, g1) for the rows [r0, r1) of the panel's columns from g1 on, as
// member t's product: the panel's columns are the rows of its C, the rows its columns, so that
// the multipliers of each step are one row of its B.
void Elimination::group_terms(int t, int g0, int g1, int w, int r0, int r1) {
  if (r0 >= r1) return;
  const int64_t ld = xld_;
  const double* X = x_.data();
  double* Y = y_.data();
  const int k = g1 - g0;
  ZArray<double>& bp = pack_[static_cast<size_t>(t)];
  // Rows of the panel at a time, as many as the member's packing space takes.
  const int most = static_cast<int>(std::min<int64_t>(bp.size() / k / k_.nr * k_.nr, r1 - r0));
  for (int i0 = r0; i0 < r1; i0 += most) {
    const int rows = std::min(most, r1 - i0);
    k_.pack_b(k, rows, X + g0 * ld + i0, ld, bp.data());
    k_.gemm(w - g1, rows, k, X + g1 * ld + g0, ld, bp.data(), Y + g1 * ld + i0, ld);
  }
}

}  // namespace drav::blocked
