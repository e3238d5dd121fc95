// The blocks of the elimination and their products (see elimination.h).
#include "factor/blocked/scheme.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "factor/blocked/elimination.h"

namespace drav::blocked {

namespace {

// v rounded down to whole tiles of nr columns, at least one tile.
int whole_tiles(int v, int nr) {
  return std::max(nr, v / nr * nr);
}

}  // namespace

int slice_cols(const Shape& shape, const Kernels& k) {
  return std::max(1, shape.slice_tiles) * k.nr;
}

Elimination::Elimination(double* a, int64_t lda, WideBand* band, int32_t n, int32_t b, int depth,
                         int32_t* iord, const Kernels& kernels, Team& team, const Shape& shape)
    : a_(a),
      lda_(lda),
      band_(band),
      n_(n),
      iord_(iord),
      k_(kernels),
      team_(team),
      // On a band, blocks of about a quarter of the half band: the look-ahead beside a block
      // (the steps from the start of its window up to it) then outweighs the block's own
      // factorization, which goes column by column on one member.
      nb_(std::min(n, whole_tiles(band ? std::min(shape.block, std::max(shape.panel, b / 4))
                                  : team.size() > 1 ? shape.team_block
                                                    : shape.block,
                                  kernels.nr))),
      ib_(std::min(nb_, whole_tiles(shape.panel, kernels.nr))),
      kc_(std::max(1, depth)),
      tri_(std::max(1, shape.triangle)),
      grp_(std::max(1, shape.group)),
      parallel_work_(std::max<int64_t>(1, shape.parallel_work)),
      panel_rows_(std::max(1, shape.panel_rows)),
      chunk_rows_(std::max(1, shape.chunk_rows)),
      slice_cols_(slice_cols(shape, kernels)),
      b_(b) {}

Elimination::Elimination(double* a, int64_t lda, int32_t n, int32_t* iord, const Kernels& kernels,
                         Team& team, const Shape& shape)
    : Elimination(a, lda, nullptr, n, n, shape.depth, iord, kernels, team, shape) {}

Elimination::Elimination(WideBand& band, int32_t* iord, const Kernels& kernels, Team& team,
                         const Shape& shape)
    : Elimination(nullptr, 0, &band, band.order(), band.half_band(), shape.band_depth, iord,
                  kernels, team, shape) {}

bool Elimination::allocate() {
  const int64_t n = n_;
  const int nbr = round_up(nb_, k_.nr);
  // Rows of a block's sums, of the rows of U above it, and of a panel: the whole matrix, or
  // what a band reaches (the rows of U above a block start at most 2b-2 before it).
  int64_t sums = n, above = n;
  xld_ = n;
  if (band_) {
    const int64_t b = b_;
    above = std::min<int64_t>(n, std::max<int64_t>(nb_, 2 * b) + kc_);
    sums = std::min<int64_t>(n, above + nb_ + b);
    xld_ = std::min<int64_t>(n, nb_ + b);
    const WideBand::Pads need = {kc_ + k_.mr - 2, nbr + kc_ + slice_cols_ + k_.nr};
    if (band_->pads().left < need.left || band_->pads().right < need.right) return false;
  }
  if (!s_[0].allocate(sums * nb_) || !s_[1].allocate(sums * nb_) ||
      !bp_.allocate(static_cast<int64_t>(kc_) * nbr) || !up_.allocate((above + kc_) * nbr) ||
      !x_.allocate(xld_ * ib_) || !y_.allocate(xld_ * ib_))
    return false;
  // Every product of the factorization stores into the running sums, and most read the rows
  // of U packed above the next block: on small pages each of their pages would cost a fault.
  for (ZArray<double>& s : s_) s.prefer_large_pages();
  up_.prefer_large_pages();
  try {
    pack_.resize(static_cast<size_t>(team_.size()));
    slots_.resize(static_cast<size_t>(team_.size()));
    piv_.resize(static_cast<size_t>(n));
    runs_.reserve(static_cast<size_t>(n / kc_ + 2));
    next_runs_.reserve(static_cast<size_t>(n / kc_ + 2));
    // Only a band gathers rows; the dense matrix keeps every row in place.
    gather_.resize(static_cast<size_t>(team_.size()));
    if (band_) before_.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Also the multipliers of a group of panel steps, a tile of rows at least.
  const int64_t pack =
      std::max<int64_t>(static_cast<int64_t>(std::min(kc_, n_)) * nbr, int64_t{grp_} * k_.nr);
  for (ZArray<double>& p : pack_)
    if (!p.allocate(pack)) return false;
  for (Gather& g : gather_)
    if (band_ && (!g.a.allocate(int64_t{Gather::kRows} * kc_) ||
                  !g.c.allocate(int64_t{Gather::kRows} * nbr) ||
                  !g.b.allocate(static_cast<int64_t>(kc_) * nbr)))
      return false;
  return true;
}

// Block B of columns from k0, made when the steps before `known` are done.
Block Elimination::block_at(int k0, int buffer, int known) {
  Block B;
  B.k0 = k0;
  B.k1 = std::min(n_, k0 + nb_);
  B.first = first_reaching(k0, known);
  B.reach = band_ ? entered(B.k1) : n_;
  B.s = s_[buffer].data();
  return B;
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

void Elimination::product(const int32_t* order, const Block& B, int r0, int r1, int wider, int p0,
                          int k, int c0, int ncols, const double* bp, Gather& g) {
  if (k <= 0 || ncols <= 0) return;
  r1 = std::max(r0, r1);
  if (band_) {
    wider = std::max(wider, r1);
    // Whole register tiles where the rows are there: the rows past r1 take zeros (they have
    // not entered the window by the run's steps), which the left margin provides.
    r1 = std::min(wider, r0 + round_up(r1 - r0, k_.mr));
  } else {
    wider = r1;
  }
  const int64_t ld = stride();
  for (int i = r0; i < wider;) {
    int j = i;
    while (j < r1 && strided(order, j)) ++j;
    if (i >= r1 && strided(order, i)) {
      ++i;
      continue;
    }
    if (j > i) {
      k_.gemm(j - i, ncols, k, at(order, i, p0), ld, bp, srow(B, i) + (c0 - B.k0), nb_);
      i = j;
      continue;
    }
    while (j < wider && j - i < Gather::kRows && !strided(order, j)) ++j;
    gathered_product(order, B, i, j, p0, k, c0, ncols, bp, g);
    i = j;
  }
}

void Elimination::pack_rows(const int32_t* order, int p0, int k, int c0, int ncols, double* bp,
                            Gather& g) {
  bool direct = true;
  for (int i = p0; i < p0 + k && direct; ++i) direct = strided(order, i);
  if (direct) {
    k_.pack_b(k, ncols, at(order, p0, c0), stride(), bp);
    return;
  }
  for (int i = p0; i < p0 + k; ++i)
    gather(order[i] - 1, c0, ncols, g.b.data() + static_cast<int64_t>(i - p0) * ncols);
  k_.pack_b(k, ncols, g.b.data(), ncols, bp);
}

// Brings the running sums of columns [j0, j1) from the terms m < m0 to the terms m < m1: the
// rows m0..m1-1 of U in these columns are finished, and the rows below receive their terms.
// Each run of m in two phases of at most `most` members: the rows of U by slices of columns,
// then the product by rows.
void Elimination::update(Block& B, int j0, int j1, int m0, int m1, int most) {
  const int nr = k_.nr, mr = k_.mr;
  runs_for(B, m0, m1, runs_);
  for (const Run& run : runs_) {
    const int p0 = run.p0, p1 = run.p1, kk = p1 - p0;
    const int end = std::min(j1, j0 + round_up(std::max(0, run.cols - j0), nr));
    if (end <= j0) continue;  // the band leaves these columns without a term of the run
    const int ncols = end - j0;
    double* bp = bp_.data();
    // The rows of U of this run, packed for the product as they are finished.
    parallel(members_for(static_cast<int64_t>(kk) * kk / 2 * ncols, (ncols + nr - 1) / nr, most),
             [&](int t, int members) {
               const Range c = share(j0, end, t, members, nr);
               if (c.begin >= c.end) return;
               Gather& g = gather_[static_cast<size_t>(t)];
               trisolve(iord_, B, p0, p1, c.begin, c.end, pack_[static_cast<size_t>(t)].data(), g);
               pack_rows(iord_, p0, kk, c.begin, c.end - c.begin,
                         bp + static_cast<int64_t>(c.begin - j0) / nr * kk * nr, g);
             });
    // Every row stands in the window of the steps before m1 or where it entered.
    const int rows_end = std::min(B.reach, entered(m1));
    if (p1 >= rows_end) continue;
    const int64_t rows = run.rows - p1;
    parallel(members_for(rows * kk * ncols, (rows + mr - 1) / mr, most), [&](int t, int members) {
      const Range r = share(p1, rows_end, t, members, mr);
      if (r.begin >= r.end) return;
      Gather& g = gather_[static_cast<size_t>(t)];
      product(iord_, B, r.begin, std::min(r.end, run.rows), r.end, p0, kk, j0, ncols, bp, g);
    });
  }
}

// Finishes rows p0..p1-1 of U in columns [c0, c1), whose running sums hold the terms m < p0:
// each row takes the terms of the rows above it in the run, then u = a - S. Row 0 of U is the
// entry row as it stands, as in the literal scheme. On a band a row of U stops at its reach.
void Elimination::trisolve(const int32_t* order, Block& B, int p0, int p1, int c0, int c1,
                           double* pack, Gather& g) {
  const int w = c1 - c0;
  if (p1 - p0 <= tri_) {
    auto width = [&](int m) { return std::min(c1, ju(m) + 1) - c0; };
    for (int r = p0; r < p1; ++r) {
      const int wr = width(r);
      if (wr <= 0) continue;
      double* s = srow(B, r) + (c0 - B.k0);
      for (int m = std::max(p0, entry(order, r)); m < r; ++m) {
        const int wm = std::min(wr, width(m));
        if (wm > 0) k_.axpy(wm, *at(order, r, m), at(order, m, c0), s);
      }
      if (r > 0) k_.sub(wr, at(order, r, c0), s, at(order, r, c0));
      if (band_ && !all_finite(at(order, r, c0), wr)) not_finite_.store(true);
    }
    return;
  }
  const int mid = p0 + (p1 - p0) / 2;
  trisolve(order, B, p0, mid, c0, c1, pack, g);
  pack_rows(order, p0, mid - p0, c0, w, pack, g);
  product(order, B, mid, p1, p1, p0, mid - p0, c0, w, pack, g);
  trisolve(order, B, mid, p1, c0, c1, pack, g);
}

// (Dense) Rows k and p exchanged in the columns of x and y.
void Elimination::swap_columns(int k, int p, Range x, Range y) {
  double* rk = a_ + k * lda_;
  double* rp = a_ + p * lda_;
  k_.swap(x.end - x.begin, rk + x.begin, rp + x.begin);
  k_.swap(y.end - y.begin, rk + y.begin, rp + y.begin);
}

// The block's exchanges, in step order, in the rows of the next block's sums and, on the dense
// matrix, in the columns left and right of it.
void Elimination::exchange_outside(const Block& J, const Block* next) {
  const int k0 = J.k0, k1 = J.k1;
  int64_t moves = 0;
  for (int k = k0; k < k1; ++k)
    if (piv_[static_cast<size_t>(k)] != k) moves += band_ ? nb_ : n_;
  parallel(members_for(moves * 8, std::max(1, n_ / 512), team_.size()), [&](int t, int members) {
    const Range left = share(0, k0, t, members, 64);
    const Range right = share(k1, n_, t, members, 64);
    for (int k = k0; k < k1; ++k) {
      const int p = piv_[static_cast<size_t>(k)];
      if (p == k) continue;
      if (!band_) swap_columns(k, p, left, right);
      if (t == 0 && next != nullptr) k_.swap(nb_, srow(*next, k), srow(*next, p));
    }
  });
}

FactorOutcome Elimination::run() {
  const FactorOutcome declined{FactorOutcome::Stop::Declined, 1, 0.0};
  for (int32_t i = 0; i < n_; ++i) iord_[i] = i + 1;
  int buffer = 0;
  Block cur = block_at(0, buffer, 0);
  zero_sums(cur, cur.first, cur.reach, cur.k0, cur.k1);
  for (;;) {
    // Here cur's sums hold every term m < cur.k0.
    const int32_t* order = iord_;
    if (band_) {
      if (!make_room(cur)) return declined;
      std::copy(iord_, iord_ + n_, before_.begin());
      order = before_.data();
    }
    const bool last = cur.k1 >= n_;
    Block next;
    Tasks tasks;
    bool failed = false;
    if (!last) next = block_at(cur.k1, 1 - buffer, cur.k0);
    if (last || cur.k0 == 0) {
      // Nothing to do beside: the whole team factors the block.
      failed = !factor_block(cur, team_.size());
      if (!last) zero_sums(next, next.first, next.reach, next.k0, next.k1);
    } else {
      prepare(tasks, next, next.first, cur.k0, order, true);
      if (!reach_runs(tasks)) return declined;
      auto body = [&](int t) {
        if (t == 0) {
          failed = !factor_block(cur, 1);
          if (failed) {
            tasks.abandoned.store(true);
            tasks.slices_finished.wake();
            return;
          }
        }
        run_tasks(tasks, t);
      };
      team_.run_open(body);
    }
    // Every value written so far is finite: only then were the terms left out zeros.
    if (not_finite_.load()) return declined;
    if (failed) {
      if (band_) band_->finish(iord_, fail_k_);
      return {FactorOutcome::Stop::PivotFailed, fail_k_ + 1, fail_pivot_};
    }
    exchange_outside(cur, last ? nullptr : &next);
    if (last) {
      if (band_) band_->finish(iord_, n_);
      return {FactorOutcome::Stop::Complete, n_ + 1, 0.0};
    }
    // The terms of cur's own steps for the next block.
    Tasks own;
    prepare(own, next, cur.k0, cur.k1, iord_, false);
    if (!reach_runs(own)) return declined;
    auto body = [&](int t) { run_tasks(own, t); };
    team_.run_open(body);
    cur = next;
    buffer = 1 - buffer;
  }
}

FactorOutcome factor_wide_band(WideBand& A, int32_t* iord, const Kernels& kernels, Team& team,
                               const Shape& shape) {
  const int32_t n = A.order();
  if (n < 1) return {FactorOutcome::Stop::Complete, 1, 0.0};
  if (!A.entries_finite()) return {FactorOutcome::Stop::Declined, 1, 0.0};
  Elimination e(A, iord, kernels, team, shape);
  if (!e.allocate()) return {FactorOutcome::Stop::Declined, 1, 0.0};
  return e.run();
}

FactorOutcome factor_blocked(double* a, int64_t lda, int32_t n, int32_t half_band, int32_t* iord,
                             const Kernels& kernels, Team& team, const Shape& shape) {
  if (n < 1) return {FactorOutcome::Stop::Complete, 1, 0.0};
  if (half_band >= 1 && half_band < n && band_storage_pays(n, half_band, shape)) {
    // The band on storage of its own; the matrix is written only with the factors.
    WideBand band;
    if (band.allocate(n, half_band, band_pads(shape, kernels))) {
      for (int32_t i = 0; i < n; ++i)
        for (int32_t j = std::max(0, i - half_band + 1); j < std::min(n, i + half_band); ++j)
          band.set(i + 1, j + 1, a[i * lda + j]);
      ZArray<int32_t> order;
      const FactorOutcome out = order.allocate(n)
                                    ? factor_wide_band(band, order.data(), kernels, team, shape)
                                    : FactorOutcome{FactorOutcome::Stop::Declined, 1, 0.0};
      if (out.stop == FactorOutcome::Stop::Complete) {
        for (int32_t p = 1; p <= n; ++p) band.row(p, a + (p - 1) * lda);
      }
      if (out.stop != FactorOutcome::Stop::Declined) {
        std::copy(order.begin(), order.end(), iord);
        return out;
      }
    }
  }
  Elimination e(a, lda, n, iord, kernels, team, shape);
  if (!e.allocate()) return {FactorOutcome::Stop::Declined, 1, 0.0};
  return e.run();
}

}  // namespace drav::blocked
