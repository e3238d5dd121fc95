#include "factor/blocked_lu.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "factor/blocked/kernels.h"
#include "factor/blocked/scheme.h"
#include "factor/blocked/team.h"

namespace drav {

namespace {

// More threads than this are taken for a typing error rather than a machine.
constexpr int kMaxThreads = 256;

// DRAV_THREADS when it is a positive integer (blanks around it allowed), else 0.
int threads_from_environment() {
  const char* v = std::getenv("DRAV_THREADS");
  if (v == nullptr) return 0;
  char* end = nullptr;
  const long t = std::strtol(v, &end, 10);
  if (end == v) return 0;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0' || t < 1) return 0;
  return static_cast<int>(std::min<long>(t, kMaxThreads));
}

// One thread for a system of this many equations or fewer: starting threads costs more.
constexpr int32_t kSmallSystem = 160;

}  // namespace

int threads_in_use(int threads) {
  if (threads > 0) return std::min(threads, kMaxThreads);
  const int env = threads_from_environment();
  if (env > 0) return env;
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 ? static_cast<int>(std::min<unsigned>(hw, kMaxThreads)) : 1;
}

FactorOutcome LUDECOMP_BLOCKED(Matrix& LU, int32_t N, int32_t half_band, int32_t* IORD,
                               const BlockedOptions& opt) {
  if (N < 1) return {FactorOutcome::Stop::Complete, 1, 0.0};
  const int threads = N <= kSmallSystem ? 1 : threads_in_use(opt.threads);
  blocked::Team team(threads, opt.busy);
  return blocked::factor_blocked(LU.row(1), LU.order(), N, half_band, IORD,
                                 blocked::kernels_for(opt.isa), team);
}

}  // namespace drav
