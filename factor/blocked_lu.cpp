#include "factor/blocked_lu.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "factor/blocked/kernels.h"
#include "factor/blocked/scheme.h"
#include "factor/blocked/team.h"

namespace drav {

namespace {

// More threads than this are taken for a typing error rather than a machine.
constexpr int kMaxThreads = 256;

// One thread for a system of this many equations or fewer: starting threads costs more.
constexpr int32_t kSmallSystem = 160;

int team_size(int32_t N, int threads) {
  return N <= kSmallSystem ? 1 : threads_in_use(threads);
}

}  // namespace

int threads_in_use(int threads) {
  if (threads > 0) return std::min(threads, kMaxThreads);
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 ? static_cast<int>(std::min<unsigned>(hw, kMaxThreads)) : 1;
}

FactorOutcome LUDECOMP_BLOCKED(Matrix& LU, int32_t N, int32_t half_band, int32_t* IORD,
                               const BlockedOptions& opt) {
  if (N < 1) return {FactorOutcome::Stop::Complete, 1, 0.0};
  blocked::Team team(team_size(N, opt.threads), opt.busy);
  return blocked::factor_blocked(LU.row(1), LU.order(), N, half_band, IORD,
                                 blocked::kernels_for(opt.isa), team);
}

namespace {

// Writes the matrix of U into LU with the team: the rows in pieces of kRows, each taken by the
// first member free, then the mirrors of the entries the same way. A piece of 32 rows of 8,000
// values is one large page.
void fill(const UpperRows& U, Matrix& LU, blocked::Team& team) {
  constexpr int32_t kRows = 32;
  const int32_t pieces = (U.n + kRows - 1) / kRows;
  std::atomic<int32_t> next{0};
  auto in_pieces = [&](auto write) {
    return [&, write](int) {
      for (int32_t p = next.fetch_add(1); p < pieces; p = next.fetch_add(1))
        write(p * kRows + 1, std::min(U.n, (p + 1) * kRows) + 1);
    };
  };
  LU.prefer_large_pages();
  auto rows = in_pieces([&](int32_t from, int32_t to) { U.scatter_rows(LU, from, to); });
  team.run_open(rows);
  next.store(0);
  auto mirrors = in_pieces([&](int32_t from, int32_t to) { U.mirror_rows(LU, from, to); });
  team.run_open(mirrors);
}

}  // namespace

FactorOutcome LUDECOMP_BLOCKED(const UpperRows& U, Matrix& LU, int32_t* IORD,
                               const BlockedOptions& opt) {
  const int32_t N = U.n;
  if (N < 1) return {FactorOutcome::Stop::Complete, 1, 0.0};
  blocked::Team team(team_size(N, opt.threads), opt.busy);
  fill(U, LU, team);
  return blocked::factor_blocked(LU.row(1), LU.order(), N, N, IORD, blocked::kernels_for(opt.isa),
                                 team);
}

WideBand::Pads wide_band_pads(const BlockedOptions& opt) {
  return blocked::band_pads({}, blocked::kernels_for(opt.isa));
}

FactorOutcome LUDECOMP_WIDE_BAND(WideBand& A, int32_t* IORD, const BlockedOptions& opt) {
  const int32_t N = A.order();
  if (N < 1) return {FactorOutcome::Stop::Complete, 1, 0.0};
  blocked::Team team(team_size(N, opt.threads), opt.busy);
  return blocked::factor_wide_band(A, IORD, blocked::kernels_for(opt.isa), team);
}

bool wide_band_pays(int32_t N, int32_t half_band) {
  return blocked::band_storage_pays(N, half_band);
}

}  // namespace drav
