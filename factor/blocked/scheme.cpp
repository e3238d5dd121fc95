// The blocked factorization, left-looking over blocks of columns.
//
// For each block J = columns [k0, k1), with S_J the running sums of its columns (from +0.0):
//  1. for the earlier steps in runs P = [p0, p1) of ascending m: finish the rows P of U in J
//     (u = a - S after the terms of P's own earlier rows, a small triangle), then add the terms
//     of P to the running sums of every row below (the matrix product);
//  2. factor J panel by panel (each panel first takes the terms of the block's earlier panels,
//     the same way), column by column inside a panel: the pivot candidates a - S, the first of
//     the largest single-precision magnitudes, the exchange, the pivot test, the multipliers,
//     and the terms of the new step for the panel's later columns;
//  3. apply the block's row exchanges to the columns outside it.
// Each S(i,j) thus receives its terms in ascending m, each a separate product and addition,
// whatever the blocking or the thread that adds them: the literal scheme's bits.
//
// The threads: while member 0 factors block J (step 2, which goes column by column), the other
// members, and member 0 once it is done, already add to S_{J+1} the terms of every step before
// J (step 1 without J's own steps): those read only columns left of J and rows of U above it,
// which J's factorization does not touch, since J exchanges its rows in its own columns only
// until step 3. The work is cut into tasks (slices of columns for the rows of U, chunks of rows
// below) that the members take as they come free. Then step 3 (which exchanges S_{J+1}'s rows
// as well), and the terms of J's own steps, split between all members.
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
// band is kept aside before anything is written into it, and checked once it is factored: a
// value that is not finite in it (an entry, or an overflow) puts the block back and factors it
// again, with every later one, on the whole matrix, where nothing is left out. Everything
// before that block was exact. (The part of the next block already formed is put back too.)
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

int round_up(int v, int m) {
  return (v + m - 1) / m * m;
}

// A block of columns and what belongs to it.
struct Block {
  int k0 = 0, k1 = 0;       // its columns
  int first = 0;            // the first row of U that can be nonzero in its columns
  int reach = 0;            // rows [k0, reach) can enter the window while it is factored
  double* s = nullptr;      // running sums: row i at s + i * nb, column k0 first
  double* aside = nullptr;  // (band) its rows [first, reach) kept aside, row i - first
};

// The terms of the steps [m0, m1) for a block's columns, as tasks: slices of columns for the
// rows [m0, m1) of U (each a chain of triangles and products down those rows), then, once every
// slice is done, chunks of the rows [m1, zero_end) (each zeroed, and those below rows_end given
// the terms). The slices zero their own rows of the sums first.
struct Tasks {
  Block* block = nullptr;
  int m0 = 0, m1 = 0, rows_end = 0, zero_end = 0;
  int slice_cols = 0, slices = 0, chunk_rows = 0, chunks = 0;
  std::atomic<int> next_slice{0}, slices_done{0}, next_chunk{0};
  std::atomic<bool> abandoned{false};
  Waiter slices_finished;
};

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
        panel_rows_(std::max(1, shape.panel_rows)),
        chunk_rows_(std::max(1, shape.chunk_rows)) {
    b_ = (half_band < 1 || half_band > n) ? n : half_band;
    // Clipping pays only where the band leaves most of the matrix out.
    if (3 * static_cast<int64_t>(b_) + nb_ >= n_) b_ = n_;
  }

  bool allocate();
  FactorOutcome run();

 private:
  double* row(int64_t i) const { return a_ + i * lda_; }
  double* srow(const Block& B, int64_t i) const { return B.s + i * nb_; }
  bool clipped() const { return b_ < n_; }
  // Rows [0, entered(k)) have entered the window by step k-1: below, the multipliers of every
  // step before k are zeros.
  int entered(int k) const {
    return static_cast<int>(std::min<int64_t>(n_, k + static_cast<int64_t>(b_) - 1));
  }
  Block block_at(int k0, int buffer);

  template <class F>
  void parallel(int members, F&& body);
  int members_for(int64_t work, int64_t units, int most) const;

  void zero_sums(const Block& B, int r0, int r1, int c0, int c1);
  void update(Block& B, int j0, int j1, int m0, int m1, int rows_end, int most);
  void trisolve(Block& B, int p0, int p1, int c0, int c1, double* pack);
  void prepare(Tasks& w, Block& B, int m1);
  void run_tasks(Tasks& w, int member);
  // Where the rows [p0, p0 + kc) of U above the next block are packed for the products.
  double* packed(const Tasks& w, int p0) {
    return up_.data() + static_cast<int64_t>(p0 - w.m0) * round_up(nb_, k_.nr);
  }
  bool factor_block(Block& B, int most);
  bool factor_panel(Block& B, int c0, int c1, int rows_end, int most);
  bool pivot_step(int c0, int c1, int s, int members);
  void exchange_outside(const Block& J, const Block* next);
  void give_entry_zeros(int r0, int r1);
  void keep_aside(const Block& B, int r0, int r1);
  void put_back(const Block& B, int r0, int r1);
  bool finite(const Block& B) const;

  double* const a_;
  const int64_t lda_;
  const int32_t n_;
  int32_t* const iord_;
  const Kernels& k_;
  Team& team_;
  const int nb_, ib_, kc_, tri_;
  const int64_t parallel_work_;
  const int panel_rows_, chunk_rows_;
  int32_t b_;  // half band; n_ once nothing is clipped

  ZArray<double> s_[2];               // n x nb running sums of the current and the next block
  ZArray<double> bp_;                 // kc x nb, rows of U packed for the product
  ZArray<double> up_;                 // n x nb, the rows of U above the next block, packed
  std::vector<ZArray<double>> pack_;  // per member: rows of U packed for its own products
  ZArray<double> x_, y_;     // the panel, column by column: values and running sums (n x ib)
  ZArray<double> aside_[2];  // (band) the current and the next block kept aside
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

bool Elimination::allocate() {
  const int64_t n = n_;
  const int nbr = round_up(nb_, k_.nr);
  if (!s_[0].allocate(n * nb_) || !s_[1].allocate(n * nb_) ||
      !bp_.allocate(static_cast<int64_t>(kc_) * nbr) || !up_.allocate(n * nbr) ||
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
    if (!aside_[0].allocate(rows * nb_) || !aside_[1].allocate(rows * nb_)) return false;
  }
  return true;
}

Block Elimination::block_at(int k0, int buffer) {
  Block B;
  B.k0 = k0;
  B.k1 = std::min(n_, k0 + nb_);
  const int64_t b = b_;
  B.first = static_cast<int>(std::max<int64_t>(0, k0 - 2 * b + 2));
  B.reach = entered(B.k1);
  B.s = s_[buffer].data();
  B.aside = clipped() ? aside_[buffer].data() : nullptr;
  return B;
}

template <class F>
void Elimination::parallel(int members, F&& body) {
  if (members <= 1) {
    body(0, 1);
    return;
  }
  auto each = [&](int t) { body(t, members); };
  team_.run(each, members);
}

// Members (at most `most`) for a phase of `work` multiply-adds that splits into `units` pieces.
int Elimination::members_for(int64_t work, int64_t units, int most) const {
  int64_t m = std::min<int64_t>(std::min(team_.members(), most), units);
  m = std::min<int64_t>(m, std::max<int64_t>(1, work / parallel_work_));
  return static_cast<int>(std::max<int64_t>(1, m));
}

void Elimination::zero_sums(const Block& B, int r0, int r1, int c0, int c1) {
  for (int i = r0; i < r1; ++i)
    std::memset(srow(B, i) + (c0 - B.k0), 0, sizeof(double) * static_cast<size_t>(c1 - c0));
}

// Brings the running sums of columns [j0, j1) from the terms m < m0 to the terms m < m1: the
// rows m0..m1-1 of U in these columns are finished, and the rows from m1 to rows_end-1 receive
// the terms of those rows (the rows from rows_end on have only zero terms there). Each run of
// m in two phases of at most `most` members: the rows of U by slices of columns, then the
// product by rows.
void Elimination::update(Block& B, int j0, int j1, int m0, int m1, int rows_end, int most) {
  const int ncols = j1 - j0;
  const int nr = k_.nr, mr = k_.mr;
  for (int p0 = m0; p0 < m1; p0 += kc_) {
    const int p1 = std::min(m1, p0 + kc_);
    const int kk = p1 - p0;
    double* bp = bp_.data();
    // The rows of U of this run, packed for the product as they are finished.
    parallel(members_for(static_cast<int64_t>(kk) * kk / 2 * ncols, (ncols + nr - 1) / nr, most),
             [&](int t, int members) {
               const Range c = share(j0, j1, t, members, nr);
               if (c.begin >= c.end) return;
               trisolve(B, p0, p1, c.begin, c.end, pack_[static_cast<size_t>(t)].data());
               k_.pack_b(kk, c.end - c.begin, row(p0) + c.begin, lda_,
                         bp + static_cast<int64_t>(c.begin - j0) / nr * kk * nr);
             });
    if (p1 >= rows_end) continue;
    const int64_t rows = rows_end - p1;
    parallel(members_for(rows * kk * ncols, (rows + mr - 1) / mr, most), [&](int t, int members) {
      const Range r = share(p1, rows_end, t, members, mr);
      if (r.begin >= r.end) return;
      k_.gemm(r.end - r.begin, ncols, kk, row(r.begin) + p0, lda_, bp,
              srow(B, r.begin) + (j0 - B.k0), nb_);
    });
  }
}

// Finishes rows p0..p1-1 of U in columns [c0, c1), whose running sums hold the terms m < p0:
// each row takes the terms of the rows above it in the run, then u = a - S. Row 0 of U is the
// entry row as it stands, as in the literal scheme.
void Elimination::trisolve(Block& B, int p0, int p1, int c0, int c1, double* pack) {
  const int w = c1 - c0;
  if (p1 - p0 <= tri_) {
    for (int r = p0; r < p1; ++r) {
      double* s = srow(B, r) + (c0 - B.k0);
      const double* l = row(r);
      for (int m = p0; m < r; ++m) k_.axpy(w, l[m], row(m) + c0, s);
      if (r > 0) k_.sub(w, row(r) + c0, s, row(r) + c0);
    }
    return;
  }
  const int mid = p0 + (p1 - p0) / 2;
  trisolve(B, p0, mid, c0, c1, pack);
  k_.pack_b(mid - p0, w, row(p0) + c0, lda_, pack);
  k_.gemm(p1 - mid, w, mid - p0, row(mid) + p0, lda_, pack, srow(B, mid) + (c0 - B.k0), nb_);
  trisolve(B, mid, p1, c0, c1, pack);
}

// The tasks that give block B the terms of the steps [B.first, m1), and zero the rest of its
// sums.
void Elimination::prepare(Tasks& w, Block& B, int m1) {
  w.block = &B;
  w.m0 = std::min(B.first, m1);
  w.m1 = m1;
  w.rows_end = std::min(entered(m1), B.reach);
  w.zero_end = B.reach;
  const int ncols = B.k1 - B.k0;
  w.slice_cols = std::min(round_up(ncols, k_.nr), 4 * k_.nr);
  w.slices = w.m0 < w.m1 ? (ncols + w.slice_cols - 1) / w.slice_cols : 0;
  w.chunk_rows = round_up(chunk_rows_, k_.mr);
  w.chunks = (w.zero_end - w.m1 + w.chunk_rows - 1) / w.chunk_rows;
}

void Elimination::run_tasks(Tasks& w, int member) {
  Block& B = *w.block;
  double* pack = pack_[static_cast<size_t>(member)].data();
  for (;;) {
    if (w.abandoned.load()) return;
    const int slice = w.next_slice.fetch_add(1);
    if (slice >= w.slices) break;
    const int c0 = B.k0 + slice * w.slice_cols, c1 = std::min(B.k1, c0 + w.slice_cols);
    zero_sums(B, w.m0, w.m1, c0, c1);
    for (int p0 = w.m0; p0 < w.m1; p0 += kc_) {
      const int p1 = std::min(w.m1, p0 + kc_);
      trisolve(B, p0, p1, c0, c1, pack);
      // Packed once for every product with these rows: this slice's tiles of the run.
      double* bp = packed(w, p0) + static_cast<int64_t>(c0 - B.k0) / k_.nr * (p1 - p0) * k_.nr;
      k_.pack_b(p1 - p0, c1 - c0, row(p0) + c0, lda_, bp);
      if (p1 < w.m1)
        k_.gemm(w.m1 - p1, c1 - c0, p1 - p0, row(p1) + p0, lda_, bp, srow(B, p1) + (c0 - B.k0),
                nb_);
    }
    if (w.slices_done.fetch_add(1) == w.slices - 1) w.slices_finished.wake();
  }
  w.slices_finished.wait([&] { return w.slices_done.load() == w.slices || w.abandoned.load(); });
  const int ncols = B.k1 - B.k0;
  for (;;) {
    if (w.abandoned.load()) return;
    const int chunk = w.next_chunk.fetch_add(1);
    if (chunk >= w.chunks) break;
    const int r0 = w.m1 + chunk * w.chunk_rows, r1 = std::min(w.zero_end, r0 + w.chunk_rows);
    zero_sums(B, r0, r1, B.k0, B.k1);
    const int rows = std::min(r1, w.rows_end) - r0;
    if (rows <= 0) continue;
    for (int p0 = w.m0; p0 < w.m1; p0 += kc_) {
      const int p1 = std::min(w.m1, p0 + kc_);
      k_.gemm(rows, ncols, p1 - p0, row(r0) + p0, lda_, packed(w, p0), srow(B, r0), nb_);
    }
  }
}

// Step 2 for block B, whose sums hold every term m < B.k0, with at most `most` members.
// False when the pivot test fails (fail_k_, fail_pivot_).
bool Elimination::factor_block(Block& B, int most) {
  if (clipped()) give_entry_zeros(entered(B.k0), B.reach);
  for (int c0 = B.k0; c0 < B.k1; c0 += ib_) {
    const int c1 = std::min(B.k1, c0 + ib_);
    update(B, c0, c1, B.k0, c0, B.reach, most);
    if (!factor_panel(B, c0, c1, B.reach, most)) return false;
  }
  return true;
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
  const int64_t ld = n_;
  double* X = x_.data();
  double* Y = y_.data();
  bool failed = false;
  const int members = members_for(static_cast<int64_t>(rows) * w * w / 2, rows / panel_rows_, most);
  Barrier barrier(members);

  parallel(members, [&](int t, int members) {
    const Range own = share(0, rows, t, members, 8);
    for (int i = own.begin; i < own.end; ++i) {
      const double* ar = row(c0 + i) + c0;
      const double* sr = srow(B, c0 + i) + (c0 - B.k0);
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
    std::swap_ranges(rk + B.k0, rk + c0, rp + B.k0);
    std::swap_ranges(rk + c1, rk + B.k1, rp + c1);
    std::swap_ranges(srow(B, k) + (c1 - B.k0), srow(B, k) + (B.k1 - B.k0),
                     srow(B, p) + (c1 - B.k0));
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

// The block's exchanges, in step order, in the columns left and right of it and in the rows of
// the next block's sums. On the right a row in the window is +0 past column k+2b-2.
void Elimination::exchange_outside(const Block& J, const Block* next) {
  const int k0 = J.k0, k1 = J.k1;
  int64_t moves = 0;
  for (int k = k0; k < k1; ++k)
    if (piv_[static_cast<size_t>(k)] != k) moves += n_;
  parallel(members_for(moves * 8, std::max(1, n_ / 512), team_.size()), [&](int t, int members) {
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
      if (t == 0 && next != nullptr)
        std::swap_ranges(srow(*next, k), srow(*next, k) + nb_, srow(*next, p));
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

void Elimination::keep_aside(const Block& B, int r0, int r1) {
  for (int i = r0; i < r1; ++i)
    std::memcpy(B.aside + static_cast<int64_t>(i - B.first) * nb_, row(i) + B.k0,
                sizeof(double) * static_cast<size_t>(B.k1 - B.k0));
}

void Elimination::put_back(const Block& B, int r0, int r1) {
  for (int i = r0; i < r1; ++i)
    std::memcpy(row(i) + B.k0, B.aside + static_cast<int64_t>(i - B.first) * nb_,
                sizeof(double) * static_cast<size_t>(B.k1 - B.k0));
}

bool Elimination::finite(const Block& B) const {
  for (int i = B.first; i < B.reach; ++i) {
    const double* r = row(i);
    for (int j = B.k0; j < B.k1; ++j)
      if (!std::isfinite(r[j])) return false;
  }
  return true;
}

FactorOutcome Elimination::run() {
  for (int32_t i = 0; i < n_; ++i) iord_[i] = i + 1;
  int buffer = 0;
  Block cur = block_at(0, buffer);
  zero_sums(cur, cur.first, cur.reach, cur.k0, cur.k1);
  if (clipped()) keep_aside(cur, cur.first, cur.reach);
  for (;;) {
    // Here cur's sums hold every term m < cur.k0, and nothing else of cur has been written
    // since it was kept aside.
    const bool clip = clipped();
    const size_t negatives = negative_.size();
    if (clip) std::copy(iord_, iord_ + n_, iord_aside_.begin());
    const bool last = cur.k1 >= n_;
    Block next;
    Tasks tasks;
    bool failed = false, redo = false;
    if (!last) {
      // The next block's rows of U above cur are written beside cur's factorization: kept
      // aside before, its other rows once cur's exchanges have reached them.
      next = block_at(cur.k1, 1 - buffer);
      if (clip) keep_aside(next, next.first, cur.k0);
    }
    if (last || cur.k0 == 0) {
      // Nothing to do beside: the whole team factors the block.
      failed = !factor_block(cur, team_.size());
      redo = clip && !finite(cur);
      if (!last) zero_sums(next, next.first, next.reach, next.k0, next.k1);
    } else {
      prepare(tasks, next, cur.k0);
      auto body = [&](int t) {
        if (t == 0) {
          failed = !factor_block(cur, 1);
          redo = clip && !finite(cur);
          if (failed || redo) {
            tasks.abandoned.store(true);
            tasks.slices_finished.wake();
            return;
          }
        }
        run_tasks(tasks, t);
      };
      team_.run_open(body);
    }
    if (redo) {
      // Back to the state before cur was first written, then cur and every later block on the
      // whole matrix.
      put_back(cur, cur.first, cur.reach);
      if (!last) put_back(next, next.first, std::min(cur.k0, next.reach));
      std::copy(iord_aside_.begin(), iord_aside_.end(), iord_);
      negative_.resize(negatives);
      give_entry_zeros(entered(cur.k0), n_);
      b_ = n_;
      cur = block_at(cur.k0, buffer);
      zero_sums(cur, 0, n_, cur.k0, cur.k1);
      update(cur, cur.k0, cur.k1, 0, cur.k0, n_, team_.size());
      continue;
    }
    if (failed) return {FactorOutcome::Stop::PivotFailed, fail_k_ + 1, fail_pivot_};
    exchange_outside(cur, last ? nullptr : &next);
    if (last) return {FactorOutcome::Stop::Complete, n_ + 1, 0.0};
    if (clip) keep_aside(next, std::max(cur.k0, next.first), next.reach);
    // The terms of cur's own steps for the next block.
    update(next, next.k0, next.k1, cur.k0, cur.k1, std::min(entered(cur.k1), next.reach),
           team_.size());
    cur = next;
    buffer = 1 - buffer;
  }
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
