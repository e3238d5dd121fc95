// What a band leaves out (see elimination.h): the rows and columns of each run of steps that
// the window and the fill so far let hold a term, rows away from their places gathered for the
// products, and room for the rows pushed down.
#include <algorithm>

#include "factor/blocked/elimination.h"

namespace drav::blocked {

WideBand::Pads band_pads(const Shape& shape, const Kernels& k) {
  // Left: a run of steps reaches rows that entered the window during it, in whole register
  // tiles. Right: a run's
  // columns are those its last row of U reaches, in whole tiles or slices, and the rows of a
  // block may be pushed down within it.
  const int depth = std::max(1, shape.band_depth);
  return {depth + k.mr,
          std::max(k.nr, shape.block / k.nr * k.nr) + depth + slice_cols(shape, k) + k.nr};
}

bool band_storage_pays(int32_t n, int32_t half_band, const Shape& shape) {
  return half_band >= 1 && 3 * static_cast<int64_t>(half_band) + shape.block < n;
}

int Elimination::first_reaching(int c, int known) const {
  if (!band_) return 0;
  // ju is nondecreasing.
  const std::vector<int32_t>& reach = band_->ju;
  return static_cast<int>(std::lower_bound(reach.begin(), reach.begin() + known, c) -
                          reach.begin());
}

void Elimination::runs_for(const Block& B, int m0, int m1, std::vector<Run>& runs) const {
  runs.clear();
  int64_t packed = 0;
  for (int p0 = m0; p0 < m1; p0 += kc_) {
    const int p1 = std::min(m1, p0 + kc_);
    Run r{p0, p1, B.k1, std::min(B.reach, entered(p1)), packed};
    if (band_) r.cols = std::min(B.k1, B.k0 + round_up(std::max(0, ju(p1 - 1) + 1 - B.k0), k_.nr));
    packed += static_cast<int64_t>(p1 - p0) * round_up(r.cols - B.k0, k_.nr);
    runs.push_back(r);
  }
}

// Columns [c0, c0+n) of entry row r, zeros where the row keeps nothing (it holds only zeros
// there).
void Elimination::gather(int32_t r, int c0, int n, double* out) const {
  const int lo = std::max(c0, band_->lo(r)), hi = std::min(c0 + n, band_->hi(r) + 1);
  std::fill(out, out + n, 0.0);
  if (lo < hi) std::copy(band_->at(r, lo), band_->at(r, lo) + (hi - lo), out + (lo - c0));
}

// The product of `product` for the rows [r0, r1) away from their places: their multipliers and
// sums gathered, the sums put back.
void Elimination::gathered_product(const int32_t* order, const Block& B, int r0, int r1, int p0,
                                   int k, int c0, int ncols, const double* bp, Gather& g) {
  for (int q = r0; q < r1; ++q) {
    gather(order[q] - 1, p0, k, g.a.data() + static_cast<int64_t>(q - r0) * k);
    std::copy(srow(B, q) + (c0 - B.k0), srow(B, q) + (c0 - B.k0) + ncols,
              g.c.data() + static_cast<int64_t>(q - r0) * ncols);
  }
  k_.gemm(r1 - r0, ncols, k, g.a.data(), k, bp, g.c.data(), ncols);
  for (int q = r0; q < r1; ++q) {
    const double* c = g.c.data() + static_cast<int64_t>(q - r0) * ncols;
    std::copy(c, c + ncols, srow(B, q) + (c0 - B.k0));
  }
}

// (Band) The rows of B's window that were pushed down from their places get room for what the
// block can give them: multipliers up to its last column, and a row of U of one of its steps.
bool Elimination::make_room(const Block& B) {
  const int last =
      static_cast<int>(std::min<int64_t>(n_ - 1, B.k1 + 2 * static_cast<int64_t>(b_) - 3 + nb_));
  for (int i = B.k0; i < B.reach; ++i) {
    const int32_t r = iord_[i] - 1;
    if (r < i && band_->hi(r) < last && !band_->relocate(r, last)) return false;
  }
  return true;
}

// (Band) A row of U of the runs of `w` gets room for the columns of w's block up to its run's
// reach: its own part up to ju is written there, the rest read as +0.0 for the products. A row
// that needs more than its slot holds is moved, with room to its own reach and as far again as
// a slot reaches past its band, so that the blocks after this one seldom move it again. Runs
// are made before the tasks start, so nothing reads the rows while they move.
bool Elimination::reach_runs(const Tasks& w) {
  if (!band_) return true;
  const int right = band_->pads().right;
  for (const Run& run : *w.runs) {
    const int last = std::min(n_, run.cols) - 1;
    for (int i = run.p0; i < run.p1; ++i) {
      const int32_t r = w.order[i] - 1;
      if (band_->hi(r) >= last) continue;
      const int want = static_cast<int>(std::min<int64_t>(n_ - 1, int64_t{ju(i)} + right));
      if (!band_->relocate(r, std::max(last, want))) return false;
    }
  }
  return true;
}

}  // namespace drav::blocked
