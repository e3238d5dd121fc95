// The factorization kernels against the literal scheme, every bit: a kernel runs on a copy of
// the entries, the literal scheme (LUDECOMP_OUTCOME) on another, and what the kernel promises
// for its outcome is compared: after a complete factorization every bit of the factored matrix
// and the row order; after a failed pivot the step and the bits of the pivot (and the matrix
// and the row order where the kernel promises them too); a kernel that declines must be one
// allowed to for this input, and must have left the row order alone. No kernel may write
// outside the system's N x N block. Used by the kernels' unit tests and the fuzz target; it
// knows no test framework: a difference is a text.
#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "factor/band_lu.h"
#include "factor/blocked/isa.h"
#include "factor/blocked/kernels.h"
#include "factor/blocked/scheme.h"
#include "factor/blocked/team.h"
#include "factor/blocked_lu.h"
#include "factor/factor_system.h"
#include "factor/outcome.h"
#include "factor/reference/ludecomp.h"
#include "params/upper_rows.h"
#include "params/work.h"

namespace drav::testing {

inline uint64_t lu_bits(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// The NaN that arithmetic makes on this processor (0 * inf). Where every NaN of a computation
// is this one, it cannot matter which of two NaN operands an operation passes on, which is the
// compiler's choice for a commutative operation; with other NaNs among the entries it can.
inline double processor_nan() {
  volatile double zero = 0.0;
  return zero * std::numeric_limits<double>::infinity();
}

// How NaNs compare: bit for bit, or (with a NaN among the entries that is not the processor's
// own) only where they stand, since either scheme may pass on either NaN of a sum.
enum class NanRule { Bits, Places };

// The entries of a system: the leading n x n block of `a`, whose other entries (a matrix of
// larger order) no kernel may read into its result or change.
struct System {
  const Matrix& a;
  int32_t n;
};

inline NanRule nan_rule(const System& s) {
  const uint64_t own = lu_bits(processor_nan());
  for (int32_t i = 1; i <= s.n; ++i)
    for (int32_t j = 1; j <= s.n; ++j)
      if (std::isnan(s.a(i, j)) && lu_bits(s.a(i, j)) != own) return NanRule::Places;
  return NanRule::Bits;
}

// What a factorization left, as its caller reads it.
struct LuResult {
  FactorOutcome outcome;
  std::vector<int32_t> iord;  // IORD(k) at [k-1]
  std::vector<double> rows;   // the factored matrix as LUDECOMP leaves LU, row p at (p-1)*n
  std::string outside;        // "" or where the kernel wrote outside what it may
};

// A value IORD never holds, to see that a kernel that declined left it alone.
inline constexpr int32_t kUnsetOrder = -7;

// The rows of the leading n x n block of `lu` into r, and a note when an entry outside that
// block no longer has the bits of `outside` (where `outside` is given).
inline void take_rows(const Matrix& lu, int32_t n, LuResult& r, const double* outside) {
  r.rows.resize(static_cast<size_t>(n) * n);
  for (int32_t p = 1; p <= n; ++p)
    std::memcpy(&r.rows[static_cast<size_t>(p - 1) * n], lu.row(p), sizeof(double) * n);
  for (int32_t i = 1; outside && r.outside.empty() && i <= lu.order(); ++i)
    for (int32_t j = 1; j <= lu.order(); ++j)
      if ((i > n || j > n) && lu_bits(lu(i, j)) != lu_bits(*outside)) {
        r.outside =
            "changed (" + std::to_string(i) + "," + std::to_string(j) + ") outside the system";
        break;
      }
}

inline Matrix copy_of(const Matrix& a) {
  Matrix c;
  c.allocate(a.order());
  if (a.order() > 0)
    std::memcpy(c.row(1), a.row(1), sizeof(double) * a.order() * static_cast<size_t>(a.order()));
  return c;
}

// A kernel under test: how it runs on a system, and what it may do besides the literal result.
struct LuKernel {
  std::string name;
  bool may_decline_not_finite = false;  // may decline where an entry or a factor is not finite
  bool promises_failed_state = false;   // rows and row order as LUDECOMP's after PivotFailed
  std::function<LuResult(const System&)> run;
};

// LUDECOMP's own result (without the trial exchanges, which change no bit; see ludecomp.h).
inline LuResult literal_result(const System& s) {
  Matrix lu = copy_of(s.a);
  LuResult r;
  r.iord.assign(static_cast<size_t>(s.n), kUnsetOrder);
  r.outcome = LUDECOMP_OUTCOME(lu, s.n, r.iord.data());
  take_rows(lu, s.n, r, nullptr);
  return r;
}

// ---- The kernels -------------------------------------------------------------------------

// The instruction-set variants this processor runs (the variant table's rows), and their names:
// every kernel is tried with each.
inline std::vector<Isa> isa_variants() {
  std::vector<Isa> v;
  for (const blocked::IsaVariant& row : blocked::kIsaVariants)
    if (blocked::available(row)) v.push_back(row.isa);
  return v;
}
inline const char* isa_name(Isa isa) {
  return blocked::variant_of(isa)->name;
}

// Runs f(busy), the count of the threads busy elsewhere that a blocked kernel leaves out: with
// `lent` another thread changes it (0, 1, 2, 0, ...) every few microseconds meanwhile, as a
// run's report thread takes a thread and gives it back.
template <class F>
LuResult with_threads_lent(bool lent, F&& f) {
  std::atomic<int> busy{0};
  std::atomic<bool> done{false};
  std::thread lender;
  if (lent) {
    lender = std::thread([&] {
      for (int k = 0; !done.load(); ++k) {
        busy.store(k % 3);
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      }
    });
  }
  LuResult r = f(&busy);
  done.store(true);
  if (lender.joinable()) lender.join();
  return r;
}

// LUDECOMP_BLOCKED as the program calls it (`lent`: see with_threads_lent).
inline LuKernel blocked_kernel(Isa isa, int threads, int32_t half_band, bool lent = false) {
  return {"blocked " + std::string(isa_name(isa)) + " threads " + std::to_string(threads) +
              (lent ? " lent" : "") + " half band " + std::to_string(half_band),
          false, false, [=](const System& s) {
            return with_threads_lent(lent, [&](const std::atomic<int>* busy) {
              Matrix lu = copy_of(s.a);
              LuResult r;
              r.iord.assign(static_cast<size_t>(s.n), kUnsetOrder);
              r.outcome = LUDECOMP_BLOCKED(lu, s.n, half_band, r.iord.data(), {threads, isa, busy});
              const double outside = s.a.order() > s.n ? s.a(s.n + 1, s.n + 1) : 0.0;
              take_rows(lu, s.n, r, &outside);
              return r;
            });
          }};
}

// The blocked scheme itself with block sizes of its own and a team of `threads` whatever the
// size of the system, so that block, panel and tile edges fall inside small matrices.
inline LuKernel scheme_kernel(Isa isa, int threads, int32_t half_band, const blocked::Shape& shape,
                              const std::string& shape_name, bool lent = false) {
  LuKernel k = blocked_kernel(isa, threads, half_band, lent);
  k.name += " " + shape_name;
  k.run = [=](const System& s) {
    return with_threads_lent(lent, [&](const std::atomic<int>* busy) {
      Matrix lu = copy_of(s.a);
      LuResult r;
      r.iord.assign(static_cast<size_t>(s.n), kUnsetOrder);
      blocked::Team team(threads, busy);
      r.outcome = blocked::factor_blocked(lu.row(1), lu.order(), s.n, half_band, r.iord.data(),
                                          blocked::kernels_for(isa), team, shape);
      const double outside = s.a.order() > s.n ? s.a(s.n + 1, s.n + 1) : 0.0;
      take_rows(lu, s.n, r, &outside);
      return r;
    });
  };
  return k;
}

// LUDECOMP_BAND on band storage of half band b (every entry outside it must be +0.0).
inline LuKernel band_kernel(int32_t b) {
  return {"band half band " + std::to_string(b), true, true, [=](const System& s) {
            BandMatrix band;
            LuResult r;
            r.iord.assign(static_cast<size_t>(s.n), kUnsetOrder);
            if (!band.allocate(s.n, b)) {
              r.outside = "no memory for the band";
              return r;
            }
            for (int32_t i = 1; i <= s.n; ++i)
              for (int32_t j = std::max(1, i - b + 1); j <= std::min(s.n, i + b - 1); ++j)
                band.at(i, j) = s.a(i, j);
            BandFactors F;
            r.outcome = LUDECOMP_BAND(band, r.iord.data(), F);
            if (r.outcome.stop == FactorOutcome::Stop::Declined) return r;
            r.rows.resize(static_cast<size_t>(s.n) * s.n);
            for (int32_t p = 1; p <= s.n; ++p) F.row(p, &r.rows[static_cast<size_t>(p - 1) * s.n]);
            return r;
          }};
}

// factor_system on the upper triangle of a symmetric system (the entries below the diagonal
// must mirror those above), as generation hands it over, into a dense matrix of the order of
// the entries (all +0.0; the band path must leave it so).
inline LuKernel system_kernel(FactorOptions::Path path, int threads, bool lent = false) {
  const char* p = path == FactorOptions::Path::Auto       ? "auto"
                  : path == FactorOptions::Path::Band     ? "band"
                  : path == FactorOptions::Path::WideBand ? "wide band"
                                                          : "dense";
  return {std::string("factor_system ") + p + " threads " + std::to_string(threads) +
              (lent ? " lent" : ""),
          false, false, [=](const System& s) {
            return with_threads_lent(lent, [&](const std::atomic<int>* busy) {
              UpperRows U;
              for (int32_t i = 1; i <= s.n; ++i) {
                for (int32_t j = i; j <= s.n; ++j)
                  if (lu_bits(s.a(i, j)) != 0) U.add(j, s.a(i, j));
                U.end_row();
              }
              Matrix lu;
              lu.allocate(s.a.order());
              LuResult r;
              r.iord.assign(static_cast<size_t>(s.n), kUnsetOrder);
              Factorization F;
              FactorOptions opt;
              opt.threads = threads;
              opt.path = path;
              opt.busy = busy;
              r.outcome = factor_system(U, lu, r.iord.data(), F, opt);
              const double zero = 0.0;
              if (F.kernel == Kernel::Band || F.kernel == Kernel::WideBand) {
                take_rows(lu, 0, r, &zero);  // not a byte of the dense matrix
                if (!r.outside.empty()) r.outside += " (band path)";
              } else {
                take_rows(lu, s.n, r, &zero);
              }
              // The rows are the matrix file's, read after a complete factorization only.
              if (r.outcome.stop != FactorOutcome::Stop::Complete) return r;
              std::vector<double> buf(static_cast<size_t>(s.n));
              r.rows.resize(static_cast<size_t>(s.n) * s.n);
              for (int32_t q = 1; q <= s.n; ++q)
                std::memcpy(&r.rows[static_cast<size_t>(q - 1) * s.n], F.row(q, buf.data()),
                            sizeof(double) * s.n);
              return r;
            });
          }};
}

// The kernels for one system: each blocked path with every variant at 1 and at `threads`
// threads (with the default block sizes, and up to kSmallBlocksUpTo equations with `shape`,
// which on a larger system only takes time; there the threads are lent all the time), the
// band kernel, and where the system is symmetric each path of factor_system.
inline constexpr int32_t kSmallBlocksUpTo = 160;
struct KernelChoice {
  int32_t n;
  int32_t half_band;  // announced to the blocked kernels (its true band or wider)
  int32_t band;       // of the band storage, at least the true band
  int threads;        // besides 1
  blocked::Shape shape;
  bool symmetric;
};
inline std::vector<LuKernel> every_kernel(const KernelChoice& c) {
  std::vector<LuKernel> k;
  for (Isa isa : isa_variants())
    for (int t : {1, c.threads}) {
      k.push_back(blocked_kernel(isa, t, c.half_band));
      if (c.n <= kSmallBlocksUpTo)
        k.push_back(scheme_kernel(isa, t, c.half_band, c.shape, "small blocks", t > 1));
      if (t > 1) k.push_back(scheme_kernel(isa, t, c.half_band, {}, "default blocks"));
    }
  k.push_back(band_kernel(c.band));
  if (c.symmetric) {
    using Path = FactorOptions::Path;
    k.push_back(system_kernel(Path::Auto, c.threads));
    k.push_back(system_kernel(Path::Band, 1));
    k.push_back(system_kernel(Path::WideBand, 1));
    k.push_back(system_kernel(Path::WideBand, c.threads, true));
    k.push_back(system_kernel(Path::Dense, 1));
    k.push_back(system_kernel(Path::Dense, c.threads));
  }
  return k;
}

// ---- The comparison ----------------------------------------------------------------------

inline const char* stop_name(FactorOutcome::Stop s) {
  return s == FactorOutcome::Stop::Complete      ? "complete"
         : s == FactorOutcome::Stop::PivotFailed ? "pivot failed"
                                                 : "declined";
}

inline bool same_value(double a, double b, NanRule rule) {
  return lu_bits(a) == lu_bits(b) || (rule == NanRule::Places && std::isnan(a) && std::isnan(b));
}

inline std::string value_text(double v) {
  char buf[64];
  const uint64_t u = lu_bits(v);
  std::snprintf(buf, sizeof buf, "%.17g (0x%08x%08x)", v, static_cast<unsigned>(u >> 32),
                static_cast<unsigned>(u & 0xffffffffu));
  return buf;
}

// "" when `got` is what kernel k may leave for the system whose literal result is `lit`; else
// the first difference.
inline std::string lu_difference(const LuKernel& k, const System& s, const LuResult& got,
                                 const LuResult& lit) {
  const int32_t n = s.n;
  if (!got.outside.empty()) return got.outside;
  if (got.outcome.stop == FactorOutcome::Stop::Declined) {
    bool not_finite = false;
    for (int32_t i = 1; i <= n; ++i)
      for (int32_t j = 1; j <= n; ++j) not_finite = not_finite || !std::isfinite(s.a(i, j));
    for (double v : lit.rows) not_finite = not_finite || !std::isfinite(v);
    if (!k.may_decline_not_finite || !not_finite) return "declined a system it must factor";
    for (int32_t v : got.iord)
      if (v != kUnsetOrder) return "declined, but changed the row order";
    return "";
  }
  if (got.outcome.stop != lit.outcome.stop)
    return std::string(stop_name(got.outcome.stop)) + ", literal " + stop_name(lit.outcome.stop) +
           " at step " + std::to_string(lit.outcome.KSTEP);
  if (got.outcome.KSTEP != lit.outcome.KSTEP)
    return "KSTEP " + std::to_string(got.outcome.KSTEP) + ", literal " +
           std::to_string(lit.outcome.KSTEP);
  const NanRule rule = nan_rule(s);
  const bool failed = lit.outcome.stop == FactorOutcome::Stop::PivotFailed;
  if (failed) {
    const double lit_pivot = lit.rows[static_cast<size_t>(lit.outcome.KSTEP - 1) * (n + 1)];
    if (!same_value(got.outcome.pivot, lit_pivot, rule))
      return "pivot " + value_text(got.outcome.pivot) + ", literal " + value_text(lit_pivot);
    if (!k.promises_failed_state) return "";
  }
  for (int32_t q = 0; q < n; ++q)
    if (got.iord[static_cast<size_t>(q)] != lit.iord[static_cast<size_t>(q)])
      return "IORD(" + std::to_string(q + 1) + ") " + std::to_string(got.iord[q]) + ", literal " +
             std::to_string(lit.iord[q]);
  for (size_t e = 0; e < lit.rows.size(); ++e)
    if (!same_value(got.rows[e], lit.rows[e], rule))
      return "(" + std::to_string(e / n + 1) + "," + std::to_string(e % n + 1) + ") " +
             value_text(got.rows[e]) + ", literal " + value_text(lit.rows[e]) +
             (failed ? " after the failure" : "");
  return "";
}

// Runs every kernel of `kernels` on the system and returns the first difference as
// "kernel: what differs", or "".
inline std::string first_kernel_difference(const std::vector<LuKernel>& kernels, const System& s) {
  const LuResult lit = literal_result(s);
  for (const LuKernel& k : kernels) {
    const std::string d = lu_difference(k, s, k.run(s), lit);
    if (!d.empty()) return k.name + ", n " + std::to_string(s.n) + ": " + d;
  }
  return "";
}

}  // namespace drav::testing
