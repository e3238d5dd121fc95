// The blocked factorization, left-looking over blocks of columns.
//
// For each block J = columns [k0, k1), with S_J the running sums of its columns (from +0.0):
//  1. for the earlier steps in runs P = [p0, p1) of ascending m: finish the rows P of U in J
//     (u = a - S after the terms of P's own earlier rows, a small triangle), then add the terms
//     of P to the running sums of every row below (the matrix product, split by rows);
//  2. factor J panel by panel (each panel first takes the terms of the block's earlier panels,
//     the same way), column by column inside a panel: the pivot candidates a - S, the first of
//     the largest single-precision magnitudes, the exchange, the pivot test, the multipliers,
//     and the terms of the new step for the panel's later columns;
//  3. apply the block's row exchanges to the columns outside it.
// Each S(i,j) thus receives its terms in ascending m, each a separate product and addition,
// whatever the blocking or the thread that adds them: the literal scheme's bits.
//
// A band (half band b < n) is clipped: a term with a factor +/-0 and the other finite leaves
// a sum unchanged (the sum starts at +0.0 and never becomes -0.0, and s + (+/-0) = s), so the
// terms the band makes zero can be left out. With partial pivoting, at step k only the rows at
// positions k..k+b-1 (the window) can have a nonzero candidate; the rows below it are their
// entry rows, never exchanged, and U's row k is +0 past column k+2b-2. A row below the window
// gets the multiplier (+0 - (+0)) / u(k,k), a zero with the sign of the pivot: written as -0.0
// under each negative pivot when the row enters the window (the +0.0 entries are right for the
// others).
// Left out terms are only zero while every value is finite (0 * inf is NaN). So each block of a
// band is kept aside before it is factored, and checked afterwards: a value that is not finite
// in it (an entry, or an overflow) puts the block back and factors it again, with every later
// one, on the whole matrix, where nothing is left out. Everything before that block was exact.
#include "factor/blocked/scheme.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "factor/pivot_rule.h"
#include "params/zarray.h"

namespace drav::blocked {

namespace {

// v rounded down to whole tiles of nr columns, at least one tile.
int whole_tiles(int v, int nr) {
  return std::max(nr, v / nr * nr);
}

class Elimination {
 public:
  Elimination(double* a, int64_t lda, int32_t n, int32_t half_band, int32_t* iord,
              const Kernels& kernels, Team& team, const Shape& shape)
      : a_(a),
        lda_(lda),
        n_(n),
        iord_(iord),
        k_(kernels),
        team_(team),
        nb_(std::min(n, whole_tiles(shape.block, kernels.nr))),
        ib_(std::min(nb_, whole_tiles(shape.panel, kernels.nr))),
        kc_(std::max(1, shape.depth)),
        tri_(std::max(1, shape.triangle)),
        parallel_work_(std::max<int64_t>(1, shape.parallel_work)),
        panel_rows_(std::max(1, shape.panel_rows)) {
    b_ = (half_band < 1 || half_band > n) ? n : half_band;
    // Clipping pays only where the band leaves most of the matrix out.
    if (3 * static_cast<int64_t>(b_) + nb_ >= n_) b_ = n_;
  }

  bool allocate();
  FactorOutcome run();

 private:
  double* row(int64_t i) const { return a_ + i * lda_; }
  // Running sums of row i in the columns of the current block (column k0_ first).
  double* srow(int64_t i) { return s_.data() + i * nb_; }
  bool clipped() const { return b_ < n_; }

  template <class F>
  void parallel(int members, F&& body);
  int members_for(int64_t work, int64_t units) const;

  void update(int j0, int j1, int m0, int m1, int rows_end);
  void trisolve(int p0, int p1, int c0, int c1, double* pack);
  bool factor_panel(int c0, int c1, int rows_end);
  bool pivot_step(int c0, int c1, int s, int members);
  void exchange_outside(int k0, int k1);
  void give_entry_zeros(int r0, int r1);
  void keep_aside(int r0, int r1);
  void put_back(int r0, int r1);
  bool finite(int r0, int r1) const;

  double* const a_;
  const int64_t lda_;
  const int32_t n_;
  int32_t* const iord_;
  const Kernels& k_;
  Team& team_;
  const int nb_, ib_, kc_, tri_;
  const int64_t parallel_work_;
  const int panel_rows_;
  int32_t b_;  // half band; n_ once nothing is clipped

  int k0_ = 0, k1_ = 0;               // the current block
  ZArray<double> s_;                  // n x nb running sums
  ZArray<double> bp_;                 // kc x nb, rows of U packed for the product
  std::vector<ZArray<double>> pack_;  // per member: rows of U packed inside a triangle
  ZArray<double> x_, y_;  // the panel, column by column: values and running sums (n x ib)
  ZArray<double> aside_;  // a band block kept aside
  std::vector<int32_t> iord_aside_;
  std::vector<int32_t> piv_;       // piv_[k]: the row exchanged with row k at step k (k: none)
  std::vector<int32_t> lo_;        // first column where the two rows of that exchange can differ
  std::vector<int32_t> negative_;  // steps whose pivot is negative (for the entering rows)
  // The candidate of each member's rows in a panel step: its magnitude and row (-1: none).
  struct Slot {
    float most;
    int at;
  };
  std::vector<Slot> slots_;
  int32_t fail_k_ = 0;
  double fail_pivot_ = 0.0;
};

int round_up(int v, int m) {
  return (v + m - 1) / m * m;
}

bool Elimination::allocate() {
  const int64_t n = n_;
  const int nbr = round_up(nb_, k_.nr);
  if (!s_.allocate(n * nb_) || !bp_.allocate(static_cast<int64_t>(kc_) * nbr) ||
      !x_.allocate(n * ib_) || !y_.allocate(n * ib_))
    return false;
  try {
    pack_.resize(static_cast<size_t>(team_.size()));
    slots_.resize(static_cast<size_t>(team_.size()));
    piv_.resize(static_cast<size_t>(n));
    lo_.resize(static_cast<size_t>(n));
    if (clipped()) {
      iord_aside_.resize(static_cast<size_t>(n));
      negative_.reserve(static_cast<size_t>(n));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (ZArray<double>& p : pack_)
    if (!p.allocate(static_cast<int64_t>(std::min(kc_, n_)) * nbr)) return false;
  if (clipped()) {
    const int64_t rows = std::min<int64_t>(n, 3 * static_cast<int64_t>(b_) + nb_);
    if (!aside_.allocate(rows * nb_)) return false;
  }
  return true;
}

template <class F>
void Elimination::parallel(int members, F&& body) {
  if (members <= 1) {
    body(0, 1);
    return;
  }
  auto each = [&](int t) {
    if (t < members) body(t, members);
  };
  team_.run(each);
}

// Members for a phase of `work` multiply-adds that splits into `units` pieces.
int Elimination::members_for(int64_t work, int64_t units) const {
  int64_t m = std::min<int64_t>(team_.size(), units);
  m = std::min<int64_t>(m, std::max<int64_t>(1, work / parallel_work_));
  return static_cast<int>(std::max<int64_t>(1, m));
}

// Brings the running sums of columns [j0, j1) from the terms m < m0 to the terms m < m1: the
// rows m0..m1-1 of U in these columns are finished, and the rows from m1 to rows_end-1 receive
// the terms of those rows (the rows from rows_end on have only zero terms there).
void Elimination::update(int j0, int j1, int m0, int m1, int rows_end) {
  const int ncols = j1 - j0;
  const int nr = k_.nr, mr = k_.mr;
  for (int p0 = m0; p0 < m1; p0 += kc_) {
    const int p1 = std::min(m1, p0 + kc_);
    const int kk = p1 - p0;
    double* bp = bp_.data();
    // The rows of U of this run, each member a slice of whole column tiles, packed for the
    // product as they are finished.
    parallel(members_for(static_cast<int64_t>(kk) * kk / 2 * ncols, (ncols + nr - 1) / nr),
             [&](int t, int members) {
               const Range c = share(j0, j1, t, members, nr);
               if (c.begin >= c.end) return;
               trisolve(p0, p1, c.begin, c.end, pack_[static_cast<size_t>(t)].data());
               k_.pack_b(kk, c.end - c.begin, row(p0) + c.begin, lda_,
                         bp + static_cast<int64_t>(c.begin - j0) / nr * kk * nr);
             });
    if (p1 >= rows_end) continue;
    const int64_t rows = rows_end - p1;
    parallel(members_for(rows * kk * ncols, (rows + mr - 1) / mr), [&](int t, int members) {
      const Range r = share(p1, rows_end, t, members, mr);
      if (r.begin >= r.end) return;
      k_.gemm(r.end - r.begin, ncols, kk, row(r.begin) + p0, lda_, bp, srow(r.begin) + (j0 - k0_),
              nb_);
    });
  }
}

// Finishes rows p0..p1-1 of U in columns [c0, c1), whose running sums hold the terms m < p0:
// each row takes the terms of the rows above it in the run, then u = a - S. Row 0 of U is the
// entry row as it stands, as in the literal scheme.
void Elimination::trisolve(int p0, int p1, int c0, int c1, double* pack) {
  const int w = c1 - c0;
  if (p1 - p0 <= tri_) {
    for (int r = p0; r < p1; ++r) {
      double* s = srow(r) + (c0 - k0_);
      const double* l = row(r);
      for (int m = p0; m < r; ++m) k_.axpy(w, l[m], row(m) + c0, s);
      if (r > 0) k_.sub(w, row(r) + c0, s, row(r) + c0);
    }
    return;
  }
  const int mid = p0 + (p1 - p0) / 2;
  trisolve(p0, mid, c0, c1, pack);
  k_.pack_b(mid - p0, w, row(p0) + c0, lda_, pack);
  k_.gemm(p1 - mid, w, mid - p0, row(mid) + p0, lda_, pack, srow(mid) + (c0 - k0_), nb_);
  trisolve(mid, p1, c0, c1, pack);
}

// Factors the panel of columns [c0, c1) on rows [c0, rows_end), whose running sums hold every
// term m < c0. Works on a copy of the panel stored column by column, so that each step runs
// down contiguous columns, the rows split between the members: each finds the candidate of
// its rows, member 0 picks the pivot, exchanges, tests and finishes the row of U, and all
// then form the multipliers and the new terms of their rows. False when the pivot test fails
// (fail_k_, fail_pivot_; the panel's values are written back first).
bool Elimination::factor_panel(int c0, int c1, int rows_end) {
  const int w = c1 - c0;
  const int rows = rows_end - c0;
  const int64_t ld = n_;
  double* X = x_.data();
  double* Y = y_.data();
  bool failed = false;
  const int members = members_for(static_cast<int64_t>(rows) * w * w / 2, rows / panel_rows_);
  Barrier barrier(members);

  parallel(members, [&](int t, int members) {
    const Range own = share(0, rows, t, members, 8);
    for (int i = own.begin; i < own.end; ++i) {
      const double* ar = row(c0 + i) + c0;
      const double* sr = srow(c0 + i) + (c0 - k0_);
      for (int j = 0; j < w; ++j) {
        X[j * ld + i] = ar[j];
        Y[j * ld + i] = sr[j];
      }
    }
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
      // The multipliers of column k and the terms of step k for the panel's later columns.
      const double ukk = x[s];
      const int below = std::max(own.begin, s + 1);
      if (below < hi) {
        k_.div(hi - below, x + below, ukk);
        for (int j = s + 1; j < w; ++j)
          k_.axpy_col(hi - below, x + below, X[j * ld + s], Y + j * ld + below);
      }
    }
    for (int i = own.begin; i < own.end; ++i) {
      double* ar = row(c0 + i) + c0;
      for (int j = 0; j < w; ++j) ar[j] = X[j * ld + i];
    }
  });
  if (failed) return false;
  // This panel's exchanges in the block's other columns and in the later columns' sums.
  for (int k = c0; k < c1; ++k) {
    const int p = piv_[static_cast<size_t>(k)];
    if (p == k) continue;
    double* rk = row(k);
    double* rp = row(p);
    std::swap_ranges(rk + k0_, rk + c0, rp + k0_);
    std::swap_ranges(rk + c1, rk + k1_, rp + c1);
    std::swap_ranges(srow(k) + (c1 - k0_), srow(k) + (k1_ - k0_), srow(p) + (c1 - k0_));
  }
  return true;
}

// Step k = c0 + s of a panel, once the members' candidates are in slots_: the pivot (the
// largest magnitude, the first row that has it), the exchange, the pivot test and row k of U
// in the panel's later columns. False when the pivot test fails.
bool Elimination::pivot_step(int c0, int c1, int s, int members) {
  const int k = c0 + s;
  const int w = c1 - c0;
  const int64_t ld = n_;
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
  if (p != s) {
    // Both rows have entered the window; left of the earlier entry both hold the same zeros.
    const int32_t e1 = std::max(0, iord_[k] - b_), e2 = std::max(0, iord_[c0 + p] - b_);
    lo_[static_cast<size_t>(k)] = std::min(e1, e2);
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
  if (ukk < 0.0 && clipped()) negative_.push_back(k);
  if (k > 0)
    for (int j = s + 1; j < w; ++j) X[j * ld + s] = X[j * ld + s] - Y[j * ld + s];
  return true;
}

// The block's exchanges, in step order, in the columns left and right of it. On the right a
// row in the window is +0 past column k+2b-2.
void Elimination::exchange_outside(int k0, int k1) {
  int64_t moves = 0;
  for (int k = k0; k < k1; ++k)
    if (piv_[static_cast<size_t>(k)] != k) moves += n_;
  parallel(members_for(moves * 8, std::max(1, n_ / 512)), [&](int t, int members) {
    const Range left = share(0, k0, t, members, 64);
    const Range right = share(k1, n_, t, members, 64);
    for (int k = k0; k < k1; ++k) {
      const int p = piv_[static_cast<size_t>(k)];
      if (p == k) continue;
      double* rk = row(k);
      double* rp = row(p);
      const int lo = std::max(left.begin, lo_[static_cast<size_t>(k)]);
      if (lo < left.end) std::swap_ranges(rk + lo, rk + left.end, rp + lo);
      const int hi =
          static_cast<int>(std::min<int64_t>(right.end, k + 2 * static_cast<int64_t>(b_) - 1));
      if (right.begin < hi) std::swap_ranges(rk + right.begin, rk + hi, rp + right.begin);
    }
  });
}

// Rows r0..r1-1 enter the window: their multipliers of the steps so far are zeros with the
// pivot's sign.
void Elimination::give_entry_zeros(int r0, int r1) {
  if (negative_.empty()) return;
  for (int i = r0; i < r1; ++i) {
    double* r = row(i);
    for (int32_t m : negative_) r[m] = -0.0;
  }
}

void Elimination::keep_aside(int r0, int r1) {
  for (int i = r0; i < r1; ++i)
    std::memcpy(aside_.data() + static_cast<int64_t>(i - r0) * nb_, row(i) + k0_,
                sizeof(double) * static_cast<size_t>(k1_ - k0_));
  std::copy(iord_, iord_ + n_, iord_aside_.begin());
}

void Elimination::put_back(int r0, int r1) {
  for (int i = r0; i < r1; ++i)
    std::memcpy(row(i) + k0_, aside_.data() + static_cast<int64_t>(i - r0) * nb_,
                sizeof(double) * static_cast<size_t>(k1_ - k0_));
  std::copy(iord_aside_.begin(), iord_aside_.end(), iord_);
}

bool Elimination::finite(int r0, int r1) const {
  for (int i = r0; i < r1; ++i) {
    const double* r = row(i);
    for (int j = k0_; j < k1_; ++j)
      if (!std::isfinite(r[j])) return false;
  }
  return true;
}

FactorOutcome Elimination::run() {
  for (int32_t i = 0; i < n_; ++i) iord_[i] = i + 1;
  int k0 = 0;
  while (k0 < n_) {
    const int k1 = std::min(n_, k0 + nb_);
    k0_ = k0;
    k1_ = k1;
    const int64_t b = b_;
    // Rows of U that can be nonzero in this block, rows in the window before and during it.
    const int first = static_cast<int>(std::max<int64_t>(0, k0 - 2 * b + 2));
    const int entered = static_cast<int>(std::min<int64_t>(n_, k0 + b - 1));
    const int reach = static_cast<int>(std::min<int64_t>(n_, k1 + b - 1));
    const bool clip = clipped();
    const size_t negatives = negative_.size();
    if (clip) {
      give_entry_zeros(entered, reach);
      keep_aside(first, reach);
    }
    parallel(members_for(static_cast<int64_t>(reach - first) * nb_ / 4, 8), [&](int t,
                                                                                int members) {
      const Range r = share(first, reach, t, members, 16);
      if (r.begin < r.end)
        std::memset(srow(r.begin), 0, sizeof(double) * static_cast<size_t>(r.end - r.begin) * nb_);
    });

    update(k0, k1, first, k0, entered);
    bool failed = false;
    for (int c0 = k0; c0 < k1 && !failed; c0 += ib_) {
      const int c1 = std::min(k1, c0 + ib_);
      update(c0, c1, k0, c0, reach);
      failed = !factor_panel(c0, c1, reach);
    }
    if (clip && !finite(first, reach)) {
      // Redo this block, and factor every later one, on the whole matrix.
      put_back(first, reach);
      negative_.resize(negatives);
      give_entry_zeros(entered, n_);
      b_ = n_;
      continue;
    }
    if (failed) return {FactorOutcome::Stop::PivotFailed, fail_k_ + 1, fail_pivot_};
    exchange_outside(k0, k1);
    k0 = k1;
  }
  return {FactorOutcome::Stop::Complete, n_ + 1, 0.0};
}

}  // namespace

FactorOutcome factor_blocked(double* a, int64_t lda, int32_t n, int32_t half_band, int32_t* iord,
                             const Kernels& kernels, Team& team, const Shape& shape) {
  if (n < 1) return {FactorOutcome::Stop::Complete, 1, 0.0};
  Elimination e(a, lda, n, half_band, iord, kernels, team, shape);
  if (!e.allocate()) return {FactorOutcome::Stop::Declined, 1, 0.0};
  return e.run();
}

}  // namespace drav::blocked
