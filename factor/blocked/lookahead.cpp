// The tasks that give the next block the terms of the steps before the current one, while the
// current one is factored, and then those of the current one's steps (see elimination.h).
#include <algorithm>

#include "factor/blocked/elimination.h"

namespace drav::blocked {

// The tasks that give block B the terms of the steps [m0, m1), reading the rows in `order`;
// with `zero` they start its sums (every row from m0 on) at +0.0.
void Elimination::prepare(Tasks& w, Block& B, int m0, int m1, const int32_t* order, bool zero) {
  w.block = &B;
  w.order = order;
  w.zero = zero;
  w.m0 = std::min(m0, m1);
  w.m1 = m1;
  w.zero_end = B.reach;
  runs_for(B, w.m0, w.m1, next_runs_);
  w.runs = &next_runs_;
  const int ncols = B.k1 - B.k0;
  w.slice_cols = std::min(round_up(ncols, k_.nr), slice_cols_);
  // On the dense matrix one slice per member: every slice reads all of L left of the block, so
  // narrower slices only add traffic from memory. (A band's pads are sized for slice_cols_.)
  if (!band_)
    w.slice_cols =
        std::max(w.slice_cols, round_up((ncols + team_.size() - 1) / team_.size(), k_.nr));
  w.slices = w.m0 < w.m1 ? (ncols + w.slice_cols - 1) / w.slice_cols : 0;
  w.chunk_rows = round_up(chunk_rows_, k_.mr);
  w.chunks = (w.zero_end - w.m1 + w.chunk_rows - 1) / w.chunk_rows;
  // On the dense matrix each slice is a group: its chunks need only the rows of U it packed.
  // A band's slices are narrow, and its chunks go across the whole block.
  w.group_slices = band_ ? std::max(1, w.slices) : 1;
  w.groups = std::max(1, (w.slices + w.group_slices - 1) / w.group_slices);
  w.slices_done = std::vector<std::atomic<int>>(static_cast<size_t>(w.groups));
  w.next_chunk = std::vector<std::atomic<int>>(static_cast<size_t>(w.groups));
}

Elimination::Take Elimination::next_chunk(Tasks& w, int from) {
  Take take;
  for (int q = 0; q < w.groups; ++q) {
    const int g = (from + q) % w.groups;
    if (!w.chunks_left(g)) continue;
    if (!w.ready(g)) {
      take.wait = true;
      continue;
    }
    const int chunk = w.next_chunk[static_cast<size_t>(g)].fetch_add(1);
    if (chunk < w.chunks) return {g, chunk, false};
  }
  return take;
}

void Elimination::run_chunk(Tasks& w, int g, int chunk, Gather& gather) {
  Block& B = *w.block;
  const Range c = w.columns_of(g);
  const int r0 = w.m1 + chunk * w.chunk_rows, r1 = std::min(w.zero_end, r0 + w.chunk_rows);
  if (w.zero) zero_sums(B, r0, r1, c.begin, c.end);
  // Every row stands in the window of the steps before m1 or where it entered.
  const int wider = std::min(r1, entered(w.m1));
  for (const Run& run : *w.runs) {
    const int end = std::min(c.end, run.cols);
    if (end <= c.begin) continue;
    const int kk = run.p1 - run.p0;
    product(w.order, B, r0, std::min(r1, run.rows), wider, run.p0, kk, c.begin, end - c.begin,
            packed(B, run, c.begin), gather);
  }
}

void Elimination::run_tasks(Tasks& w, int member) {
  Block& B = *w.block;
  double* pack = pack_[static_cast<size_t>(member)].data();
  Gather& g = gather_[static_cast<size_t>(member)];
  int group = 0;
  for (;;) {
    if (w.abandoned.load()) return;
    const int slice = w.next_slice.fetch_add(1);
    if (slice >= w.slices) break;
    const int c0 = B.k0 + slice * w.slice_cols, c1 = std::min(B.k1, c0 + w.slice_cols);
    if (w.zero) zero_sums(B, w.m0, w.m1, c0, c1);
    for (const Run& run : *w.runs) {
      // A band leaves the columns past a run's reach without its terms.
      const int end = std::min(c1, run.cols);
      if (end <= c0) continue;
      const int kk = run.p1 - run.p0;
      trisolve(w.order, B, run.p0, run.p1, c0, end, pack, g);
      // Packed once for every product with these rows: this slice's tiles of the run.
      double* bp = packed(B, run, c0);
      pack_rows(w.order, run.p0, kk, c0, end - c0, bp, g);
      product(w.order, B, run.p1, std::min(w.m1, run.rows), w.m1, run.p0, kk, c0, end - c0, bp, g);
    }
    group = slice / w.group_slices;
    const size_t gi = static_cast<size_t>(group);
    if (w.slices_done[gi].fetch_add(1) == w.slices_of(group) - 1) w.slices_finished.wake();
  }
  // The chunks, first those below this member's own slice (its rows of U are in its cache).
  for (;;) {
    if (w.abandoned.load()) return;
    const Take take = next_chunk(w, group);
    if (take.group >= 0) {
      run_chunk(w, take.group, take.chunk, g);
      continue;
    }
    if (!take.wait) return;
    w.slices_finished.wait([&] { return w.abandoned.load() || w.may_go_on(); });
  }
}

}  // namespace drav::blocked
