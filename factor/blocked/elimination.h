// The blocked elimination, left-looking over blocks of columns; its parts live in scheme.cpp
// (the blocks, the products, the exchanges), panel.cpp (the column steps of a panel),
// lookahead.cpp (the tasks that form the next block's sums beside a block's factorization) and
// band_clip.cpp (what a band leaves out).
//
// For each block J = columns [k0, k1), with S_J the running sums of its columns (from +0.0):
//  1. for the earlier steps in runs P = [p0, p1) of ascending m: finish the rows P of U in J
//     (u = a - S after the terms of P's own earlier rows, a small triangle), then add the terms
//     of P to the running sums of every row below (the matrix product);
//  2. factor J in halves of whole panels down to single panels (the right half first takes the
//     terms of the left half's steps, the same way), column by column inside a panel: the pivot
//     candidates a - S, the first of the largest single-precision magnitudes, the exchange, the
//     pivot test, the multipliers, and the terms of the new step for the later columns of its group
//     of steps; at a group's end its rows of U in the columns after it (a small triangle), and the
//     group's terms for the rows below them (a matrix product);
//  3. apply the block's row exchanges outside it (and to the next block's sums), and give the
//     next block the terms of this one's steps.
// Each S(i,j) thus receives its terms in ascending m, each a separate product and addition,
// whatever the blocking or the thread that adds them: the literal scheme's bits.
//
// The threads: while member 0 factors block J (step 2, which goes column by column), the other
// members, and member 0 once it is done, already add to S_{J+1} the terms of every step before
// J (step 1 without J's own steps): those read only columns left of J and rows of U above it,
// which J's factorization does not touch, and they take the rows in the order before J's
// exchanges, which step 3 then applies to S_{J+1} as well. The work is cut into tasks (slices
// of columns for the rows of U, chunks of rows below) that the members take as they come free.
// Then step 3, and the terms of J's own steps in tasks of the same kind for all members.
//
// Two storages. The dense matrix: rows by position, exchanged whole. A band (WideBand): rows by
// entry row, never moved, so that an exchange only swaps the row order (and the sums, which
// are kept by position); the work follows the fill as far as the exchanges have made it. A
// term whose factor is an exact +0.0 or -0.0 leaves a sum unchanged while the other factor is
// finite (the sum starts at +0.0, never becomes -0.0, and s + (+/-0) = s), so it can be left
// out:
//  - at step k the rows at positions k..k+b-1 (the window) can have a nonzero candidate; a row
//    below it is its entry row, +0.0 from column k on, with the multiplier (+0 - (+0))/u(k,k),
//    a zero with the pivot's sign, which the storage leaves to be composed (WideBand::row);
//  - the row of U of step k is +0.0 past ju(k) = max(ju(k-1), p+b-1) when the pivot of step k
//    came from position p: the row at position p reaches no further than that before step k.
// So a run of steps adds its terms only to the rows that have entered the window by its last
// step, and only to the columns its rows of U reach. With a value that is not finite that no
// longer holds (0 * inf is NaN): every value written is checked, and the band declines at the
// end of the block where one is not finite.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "factor/blocked/scheme.h"
#include "params/zarray.h"

namespace drav::blocked {

// A block of columns and what belongs to it.
struct Block {
  int k0 = 0, k1 = 0;   // its columns
  int first = 0;        // the first row of U that can be nonzero in its columns
  int reach = 0;        // rows [k0, reach) can enter the window while it is factored
  double* s = nullptr;  // running sums: row i at s + (i - first) * nb
};

// A run [p0, p1) of steps for a block's sums: the block's columns up to `cols` (a whole number
// of tiles from the block's first) reach its rows of U, and the rows from `rows` on that stand
// where they entered have no term of it. `packed`: where its rows of U are packed for the
// products (lookahead).
struct Run {
  int p0, p1, cols, rows;
  int64_t packed;
};

// The terms of the steps [m0, m1) for a block's columns, as tasks: slices of columns for the
// rows [m0, m1) of U (each a chain of triangles and products down those rows), then chunks of
// the rows [m1, zero_end) (each given the terms). The slices fall into groups of columns; a
// group's chunks are taken once all its slices are done, so that a member that has finished
// its slice goes on below it rather than waiting for the others. With `zero` each task starts
// its rows of the sums at +0.0 first. The rows are taken in `order`.
struct Tasks {
  Block* block = nullptr;
  const int32_t* order = nullptr;
  bool zero = true;
  int m0 = 0, m1 = 0, zero_end = 0;
  int slice_cols = 0, slices = 0, chunk_rows = 0, chunks = 0;
  int group_slices = 1, groups = 1;  // slices per group (the last group takes the rest)
  std::vector<Run>* runs = nullptr;
  std::atomic<int> next_slice{0};
  // Per group: slices done, and the next chunk to take.
  std::vector<std::atomic<int>> slices_done, next_chunk;
  std::atomic<bool> abandoned{false};
  Waiter slices_finished;

  // The slices of group g, and its columns (the last group reaches the block's end).
  int slices_of(int g) const {
    return std::max(0, std::min(slices, (g + 1) * group_slices) - g * group_slices);
  }
  // Group g has chunks not yet taken; all its slices are done.
  bool chunks_left(int g) const { return next_chunk[static_cast<size_t>(g)].load() < chunks; }
  bool ready(int g) const { return slices_done[static_cast<size_t>(g)].load() >= slices_of(g); }
  // A member without a chunk may look again: some group with chunks left is ready, or no chunk
  // is left.
  bool may_go_on() const {
    bool left = false;
    for (int g = 0; g < groups; ++g) {
      if (!chunks_left(g)) continue;
      if (ready(g)) return true;
      left = true;
    }
    return !left;
  }
  Range columns_of(int g) const {
    const int c0 = block->k0 + g * group_slices * slice_cols;
    return {c0, g == groups - 1 ? block->k1 : std::min(block->k1, c0 + group_slices * slice_cols)};
  }
};

// Room of one member to gather rows that are not part of a strided matrix (a band's rows away
// from their positions, or moved out of their slots).
// The columns of a slice of tasks: whole register tiles.
int slice_cols(const Shape& shape, const Kernels& k);

struct Gather {
  static constexpr int kRows = 64;
  ZArray<double> a, c, b;
};

class Elimination {
 public:
  // The dense matrix at a (row i at a + i*lda).
  Elimination(double* a, int64_t lda, int32_t n, int32_t* iord, const Kernels& kernels, Team& team,
              const Shape& shape);
  // A band on its own storage.
  Elimination(WideBand& band, int32_t* iord, const Kernels& kernels, Team& team,
              const Shape& shape);

  bool allocate();
  FactorOutcome run();

 private:
  Elimination(double* a, int64_t lda, WideBand* band, int32_t n, int32_t b, int depth,
              int32_t* iord, const Kernels& kernels, Team& team, const Shape& shape);

  // ---- scheme.cpp ----
  // Column j of the row at position i in `order`.
  double* at(const int32_t* order, int i, int j) const {
    return band_ ? band_->at(order[i] - 1, j) : a_ + i * lda_ + j;
  }
  // The row at position i is part of the strided matrix (row i at at(i, 0) + i * stride()).
  bool strided(const int32_t* order, int i) const {
    return band_ == nullptr || (order[i] == i + 1 && band_->in_slot(i));
  }
  int64_t stride() const { return band_ ? band_->stride() : lda_; }
  // The first column of the row at position i that can be other than +0.0.
  int entry(const int32_t* order, int i) const { return band_ ? band_->entry(order[i] - 1) : 0; }
  // The last column that the row of U of step m can reach.
  int ju(int m) const { return band_ ? band_->ju[static_cast<size_t>(m)] : n_ - 1; }
  double* srow(const Block& B, int64_t i) const { return B.s + (i - B.first) * nb_; }
  // Rows [0, entered(k)) have entered the window by step k-1.
  int entered(int k) const {
    return static_cast<int>(std::min<int64_t>(n_, k + static_cast<int64_t>(b_) - 1));
  }
  Block block_at(int k0, int buffer, int known);
  // (band_clip.cpp) The first of the steps before `known` whose row of U reaches column c;
  // `known` if none.
  int first_reaching(int c, int known) const;
  // (band_clip.cpp) The runs of the steps [m0, m1) for the columns of B.
  void runs_for(const Block& B, int m0, int m1, std::vector<Run>& runs) const;
  int round_up(int v, int m) const { return (v + m - 1) / m * m; }
  // Where a run's rows of U are packed for the products in a block's columns from c on (c a
  // whole number of tiles from the block's first): written by the slices, read by the chunks.
  double* packed(const Block& B, const Run& run, int c) {
    return up_.data() + run.packed +
           static_cast<int64_t>(c - B.k0) / k_.nr * (run.p1 - run.p0) * k_.nr;
  }

  template <class F>
  void parallel(int members, F&& body);
  int members_for(int64_t work, int64_t units, int most) const;

  void zero_sums(const Block& B, int r0, int r1, int c0, int c1);
  void update(Block& B, int j0, int j1, int m0, int m1, int most);
  void trisolve(const int32_t* order, Block& B, int p0, int p1, int c0, int c1, double* pack,
                Gather& g);
  // S(rows [r0, r1), columns [c0, c0+ncols)) += L(those rows, [p0, p0+k)) * the packed rows,
  // and the same for the rows of [r1, wider) that are not where they entered (a band's rows
  // pushed down past the window of the run's steps, whose multipliers there they carry).
  void product(const int32_t* order, const Block& B, int r0, int r1, int wider, int p0, int k,
               int c0, int ncols, const double* bp, Gather& g);
  // Packs the rows [p0, p0+k) of U, columns [c0, c0+ncols), for `product`.
  void pack_rows(const int32_t* order, int p0, int k, int c0, int ncols, double* bp, Gather& g);
  void swap_columns(int k, int p, Range x, Range y);
  void exchange_outside(const Block& J, const Block* next);

  // ---- band_clip.cpp ----
  void gather(int32_t r, int c0, int n, double* out) const;
  void gathered_product(const int32_t* order, const Block& B, int r0, int r1, int p0, int k, int c0,
                        int ncols, const double* bp, Gather& g);
  bool make_room(const Block& B);
  // Room in the rows of U of the runs in `w` for the columns their tasks read and write.
  bool reach_runs(const Tasks& w);

  // ---- lookahead.cpp ----
  void prepare(Tasks& w, Block& B, int m0, int m1, const int32_t* order, bool zero);
  void run_tasks(Tasks& w, int member);
  // A chunk taken: its group and index; group -1 when there is none to take now, `wait` when
  // some are left whose slices are not done.
  struct Take {
    int group = -1, chunk = 0;
    bool wait = false;
  };
  Take next_chunk(Tasks& w, int from);
  void run_chunk(Tasks& w, int g, int chunk, Gather& gather);

  // ---- panel.cpp ----
  bool factor_block(Block& B, int most);
  bool factor_columns(Block& B, int c0, int c1, int most);
  void panel_kept(int c0, int c1, int i, int g, bool done, Range* cols, double** first) const;
  void panel_in(const Block& B, int c0, int c1, Range own);
  void panel_out(int c0, int c1, Range own, bool done);
  bool factor_panel(Block& B, int c0, int c1, int rows_end, int most);
  bool pivot_step(int c0, int c1, int s, int members);
  // The steps of a panel go in groups of grp_: each step gives its terms to the columns of its
  // own group, and the columns after the group take the terms of all its steps at once, in one
  // product at its end, so that they are read and written once a group, not once a step.
  int group_end(int s, int w) const { return std::min(w, s - s % grp_ + grp_); }
  void group_rows(int c0, int g0, int g1, int w);
  void group_terms(int t, int g0, int g1, int w, int r0, int r1);

  double* const a_;
  const int64_t lda_;
  WideBand* const band_;
  const int32_t n_;
  int32_t* const iord_;
  const Kernels& k_;
  Team& team_;
  const int nb_, ib_, kc_, tri_, grp_;
  const int64_t parallel_work_;
  const int panel_rows_, chunk_rows_, slice_cols_;
  const int32_t b_;  // half band (n: dense)
  int64_t xld_ = 0;  // rows of the panel copies

  ZArray<double> s_[2];               // running sums of the current and the next block
  ZArray<double> bp_;                 // kc x nb, rows of U packed for the product
  ZArray<double> up_;                 // the rows of U above the next block, packed
  std::vector<ZArray<double>> pack_;  // per member: rows of U packed for its own products
  std::vector<Gather> gather_;        // per member (band)
  ZArray<double> x_, y_;              // the panel, column by column: values and running sums
  std::vector<int32_t> before_;       // (band) the row order before the current block
  std::vector<int32_t> piv_;          // piv_[k]: the row exchanged with row k at step k
  std::vector<Run> runs_, next_runs_;
  // The candidate of each member's rows in a panel step: its magnitude and row (-1: none).
  struct Slot {
    float most;
    int at;
  };
  std::vector<Slot> slots_;
  int32_t fail_k_ = 0;
  double fail_pivot_ = 0.0;
  // (Band) A value that is not finite was written: the terms left out may not be zeros.
  std::atomic<bool> not_finite_{false};
};

template <class F>
void Elimination::parallel(int members, F&& body) {
  if (members <= 1) {
    body(0, 1);
    return;
  }
  auto each = [&](int t) { body(t, members); };
  team_.run(each, members);
}

}  // namespace drav::blocked
