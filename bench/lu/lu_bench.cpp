// The factorization on stiffness matrices of plane trusses: the literal scheme, the blocked
// kernel and the program's choice of kernel with 1 and 2 threads, and OpenBLAS dgetrf (and on
// a band dgbtrf) with 1 and 2 threads on the same matrix. One line per case of key=value
// fields (medians of the repetitions, seconds); see README.md.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench/core_check.h"
#include "bench/lapack_yardstick.h"
#include "factor/band_lu.h"
#include "factor/blocked/isa.h"
#include "factor/blocked_lu.h"
#include "factor/factor_system.h"
#include "factor/reference/ludecomp.h"
#include "params/compar.h"
#include "params/work.h"
#include "recio/textio.h"
#include "tools/audit/audit_model.h"
#include "tools/mkmodel/model_desc.h"
#include "tools/mkmodel/model_files.h"

namespace {

using Clock = std::chrono::steady_clock;

// A plane truss of nx by ny nodes, ny across: bars along and across, one diagonal per panel,
// the first column of nodes pinned, `extra_fixes` more directions fixed to give odd sizes.
// Numbered across the short side the matrix is a band of about 4 * ny + 3; numbered at random
// its factors fill the whole matrix.
std::string truss(int nx, int ny, bool random_numbers, int extra_fixes) {
  const int nodes = nx * ny;
  std::vector<int> number(static_cast<size_t>(nodes));
  std::iota(number.begin(), number.end(), 1);
  std::mt19937 rng(12345);
  if (random_numbers) std::shuffle(number.begin(), number.end(), rng);
  auto id = [&](int ix, int iy) { return number[static_cast<size_t>(ix * ny + iy)]; };
  std::string d = "ndofn 2\ndefault E=2.1e8 A=0.001\n";
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy)
      d += "node " + std::to_string(id(ix, iy)) + " " + std::to_string(2 * ix) + " " +
           std::to_string(1.5 * iy) + "\n";
  int b = 0;
  auto bar = [&](int p, int q) {
    d += "bar " + std::to_string(++b) + " " + std::to_string(p) + " " + std::to_string(q) + "\n";
  };
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy) {
      if (ix + 1 < nx) bar(id(ix, iy), id(ix + 1, iy));
      if (iy + 1 < ny) bar(id(ix, iy), id(ix, iy + 1));
      if (ix + 1 < nx && iy + 1 < ny) bar(id(ix, iy), id(ix + 1, iy + 1));
    }
  for (int iy = 0; iy < ny; ++iy) d += "fix " + std::to_string(id(0, iy)) + " x y\n";
  for (int e = 0; e < extra_fixes; ++e) d += "fix " + std::to_string(id(nx - 1, e)) + " y\n";
  return d;
}

// The system matrix the program generates for a description, built in a scratch directory.
drav::Matrix stiffness(const std::string& description) {
  const auto model = drav::tools::build_model(drav::tools::parse_description(description, "bench"));
  const std::filesystem::path old = std::filesystem::current_path();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("drav-lu-bench-" + std::to_string(::getpid()));
  drav::tools::write_model_dir(model, dir.string());
  std::filesystem::current_path(dir);
  drav::audit::Model m;
  drav::audit::load_model(m);
  drav::Matrix a;
  drav::audit::build_matrix(m, a);
  std::filesystem::current_path(old);
  std::filesystem::remove_all(dir);
  return a;
}

int32_t true_band(const drav::Matrix& a) {
  const int32_t n = a.order();
  int32_t b = 1;
  for (int32_t i = 1; i <= n; ++i) {
    const double* r = a.row(i);
    for (int32_t j = 1; j <= n; ++j) {
      uint64_t u;
      std::memcpy(&u, &r[j - 1], sizeof u);
      if (u != 0) b = std::max(b, std::abs(i - j) + 1);
    }
  }
  return b;
}

// A copy of `from` on memory taken as the program takes it for the dense matrix (large pages
// where the system has them).
void copy(const drav::Matrix& from, drav::Matrix& to) {
  to.allocate(from.order());
  to.prefer_large_pages();
  for (int32_t i = 1; i <= from.order(); ++i)
    std::memcpy(to.row(i), from.row(i), sizeof(double) * static_cast<size_t>(from.order()));
}

bool same(const drav::Matrix& a, const drav::Matrix& b) {
  for (int32_t i = 1; i <= a.order(); ++i)
    if (std::memcmp(a.row(i), b.row(i), sizeof(double) * static_cast<size_t>(a.order())) != 0)
      return false;
  return true;
}

// The rows of a factorization the chooser made, against a factored dense matrix.
bool same(const drav::Factorization& f, const drav::Matrix& b) {
  std::vector<double> buf(static_cast<size_t>(b.order()));
  for (int32_t i = 1; i <= b.order(); ++i)
    if (std::memcmp(f.row(i, buf.data()), b.row(i), sizeof(double) * buf.size()) != 0) return false;
  return true;
}

// The upper triangle's entries that are not +0.0, as generation hands them to the chooser.
drav::UpperRows upper(const drav::Matrix& a) {
  drav::UpperRows u;
  for (int32_t i = 1; i <= a.order(); ++i) {
    for (int32_t j = i; j <= a.order(); ++j) {
      uint64_t bits;
      std::memcpy(&bits, &a.row(i)[j - 1], sizeof bits);
      if (bits != 0) u.add(j, a(i, j));
    }
    u.end_row();
  }
  return u;
}

const char* kernel_name(drav::Kernel k) {
  return k == drav::Kernel::Band       ? "band"
         : k == drav::Kernel::WideBand ? "wide-band"
         : k == drav::Kernel::Blocked  ? "blocked"
                                       : "literal";
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

template <class F>
double seconds(F&& f) {
  const auto t0 = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Case {
  std::string name;
  int nx, ny;
  bool random_numbers;
  int extra_fixes;
};

struct Options {
  bool quick = false;  // the cases up to 2,000 equations
  int reps = 3;
  int literal_max = 2000;  // larger systems: the literal time extrapolated by N^3
  std::string only;        // cases whose name contains this
  int handover = 0;        // > 0: the narrow and the wide band kernels at about this order
  drav::Isa isa = drav::Isa::Best;
};

struct Result {
  double literal = 0;
  bool literal_measured = false;
  double blocked[2] = {0, 0}, chosen[2] = {0, 0}, dgetrf[2] = {0, 0}, dgbtrf[2] = {0, 0};
  drav::Kernel kernel = drav::Kernel::Literal;
  std::string exact = "unchecked";
};

void run_case(const Case& cs, const Options& opt, double& literal_per_n3) {
  const drav::Matrix entry = stiffness(truss(cs.nx, cs.ny, cs.random_numbers, cs.extra_fixes));
  const int32_t n = entry.order();
  const int32_t band = true_band(entry);
  Result r;

  drav::Matrix lit;
  std::vector<int32_t> iord_lit(static_cast<size_t>(n));
  if (n <= opt.literal_max) {
    copy(entry, lit);
    drav::COMPAR c;
    drav::recio::StringSink console;
    int32_t ierr = 0, kstep = 0;
    r.literal = seconds([&] { drav::LUDECOMP(lit, n, iord_lit.data(), ierr, kstep, c, console); });
    r.literal_measured = true;
    literal_per_n3 = r.literal / (static_cast<double>(n) * n * n);
  } else {
    r.literal = literal_per_n3 * n * n * n;
  }

  // Bands wide enough are factored on band storage of their own, as the program does.
  const bool wide = band < n && drav::wide_band_pays(n, band);
  const bool banded = !cs.random_numbers;
  drav::Matrix first;
  std::vector<int32_t> iord_first;
  bool exact = true;
  auto check = [&](const drav::Matrix& lu, const std::vector<int32_t>& iord) {
    if (r.literal_measured) {
      exact = exact && same(lu, lit) && iord == iord_lit;
    } else if (first.allocated()) {
      exact = exact && same(lu, first) && iord == iord_first;
    } else {
      copy(lu, first);
      iord_first = iord;
    }
  };
  // The blocked kernel on its storage filled before the clock starts.
  auto blocked = [&](int t) {
    drav::Matrix lu;
    std::vector<int32_t> iord(static_cast<size_t>(n));
    drav::FactorOutcome out;
    double s = 0;
    if (wide) {
      drav::WideBand w;
      w.allocate(n, band, drav::wide_band_pads({t, opt.isa}));
      for (int32_t i = 1; i <= n; ++i)
        for (int32_t j = std::max(1, i - band + 1); j <= std::min(n, i + band - 1); ++j)
          w.set(i, j, entry(i, j));
      s = seconds([&] { out = drav::LUDECOMP_WIDE_BAND(w, iord.data(), {t, opt.isa}); });
      lu.allocate(n);
      if (out.stop == drav::FactorOutcome::Stop::Complete)
        for (int32_t p = 1; p <= n; ++p) w.row(p, lu.row(p));
    } else {
      copy(entry, lu);
      s = seconds([&] { out = drav::LUDECOMP_BLOCKED(lu, n, band, iord.data(), {t, opt.isa}); });
    }
    exact = exact && out.stop == drav::FactorOutcome::Stop::Complete;
    check(lu, iord);
    return s;
  };
  // The program's choice of kernel from the entries, filling its storage included.
  const drav::UpperRows up = upper(entry);
  auto chosen = [&](int t) {
    drav::Matrix lu;
    lu.allocate(n);
    std::vector<int32_t> iord(static_cast<size_t>(n));
    drav::Factorization f;
    drav::FactorOptions fo;
    fo.threads = t;
    drav::FactorOutcome out;
    const double s = seconds([&] { out = drav::factor_system(up, lu, iord.data(), f, fo); });
    r.kernel = f.kernel;
    exact = exact && out.stop == drav::FactorOutcome::Stop::Complete &&
            same(f, r.literal_measured ? lit : first) &&
            iord == (r.literal_measured ? iord_lit : iord_first);
    return s;
  };
  // LAPACK works on columns: the transpose of the rows (the same matrix, it is symmetric). On
  // a band, dgbtrf on band storage of the same entries, kl = ku = the half band less one.
  drav::bench::Columns dense = drav::bench::dense_columns(n);
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = 1; j <= n; ++j) dense.at(i, j) = entry(i, j);
  drav::bench::Columns ab;
  if (banded) {
    ab = drav::bench::band_columns(n, band);
    for (int32_t j = 1; j <= n; ++j)
      for (int32_t i = std::max(1, j - band + 1); i <= std::min(n, j + band - 1); ++i)
        ab.at(i, j) = entry(i, j);
  }

  // Each repetition times every variant once, in turn: a machine whose speed drifts (other
  // work, the clock) then weighs on all of them alike, and the ratios are taken in one run.
  // Each repetition also reads what the core gives the register tile (core_check.h).
  std::vector<double> times[4][2], core;
  for (int rep = 0; rep < opt.reps; ++rep) {
    for (int t = 1; t <= 2; ++t) {
      times[0][t - 1].push_back(blocked(t));
      times[1][t - 1].push_back(chosen(t));
      times[2][t - 1].push_back(drav::bench::lapack_seconds(dense, t));
      if (banded) times[3][t - 1].push_back(drav::bench::lapack_seconds(ab, t));
    }
    if (const drav::bench::CoreReading c = drav::bench::read_core(); c.measured())
      core.push_back(c.ratio());
  }
  for (int t = 0; t < 2; ++t) {
    r.blocked[t] = median(times[0][t]);
    r.chosen[t] = median(times[1][t]);
    r.dgetrf[t] = median(times[2][t]);
    if (banded) r.dgbtrf[t] = median(times[3][t]);
  }
  first.release();
  lit.release();
  r.exact = !exact ? "no" : r.literal_measured ? "same-as-literal" : "same-for-1-and-2-threads";

  std::printf(
      "case=%s n=%d half_band=%d literal_s=%.3f literal=%s blocked_1t_s=%.4f blocked_2t_s=%.4f "
      "kernel=%s chosen_1t_s=%.4f chosen_2t_s=%.4f dgetrf_1t_s=%.4f dgetrf_2t_s=%.4f "
      "ratio_1t=%.3f ratio_2t=%.3f",
      cs.name.c_str(), n, band, r.literal, r.literal_measured ? "measured" : "extrapolated",
      r.blocked[0], r.blocked[1], kernel_name(r.kernel), r.chosen[0], r.chosen[1], r.dgetrf[0],
      r.dgetrf[1], r.blocked[0] / r.dgetrf[0], r.blocked[1] / r.dgetrf[1]);
  if (banded) {
    const double best = std::min(r.dgbtrf[0], r.dgbtrf[1]);
    std::printf(" dgbtrf_1t_s=%.4f dgbtrf_2t_s=%.4f ratio_gb_1t=%.3f ratio_gb_2t=%.3f", r.dgbtrf[0],
                r.dgbtrf[1], r.chosen[0] / best, r.chosen[1] / best);
  }
  if (!core.empty()) std::printf(" core=%.2f", median(core));
  std::printf(" exact=%s\n", r.exact.c_str());
  std::fflush(stdout);
}

// The hand-over between the narrow band kernel and the blocked one on band storage: both on
// the same truss bands of about n equations, interleaved, medians of the repetitions.
void handover(const Options& opt, int n) {
  for (int ny : {2, 4, 8, 12, 20, 30, 46, 62, 94, 126, 190}) {
    const drav::Matrix entry = stiffness(truss(n / (2 * ny) + 1, ny, false, 0));
    const int32_t N = entry.order(), b = true_band(entry);
    std::vector<double> narrow, wide[2];
    std::vector<int32_t> iord(static_cast<size_t>(N));
    for (int rep = 0; rep < opt.reps; ++rep) {
      drav::BandMatrix B;
      B.allocate(N, b);
      for (int32_t i = 1; i <= N; ++i)
        for (int32_t j = std::max(1, i - b + 1); j <= std::min(N, i + b - 1); ++j)
          B.at(i, j) = entry(i, j);
      drav::BandFactors F;
      narrow.push_back(seconds([&] { drav::LUDECOMP_BAND(B, iord.data(), F); }));
      for (int t = 1; t <= 2; ++t) {
        drav::WideBand w;
        w.allocate(N, b, drav::wide_band_pads({t}));
        for (int32_t i = 1; i <= N; ++i)
          for (int32_t j = std::max(1, i - b + 1); j <= std::min(N, i + b - 1); ++j)
            w.set(i, j, entry(i, j));
        wide[t - 1].push_back(seconds([&] { drav::LUDECOMP_WIDE_BAND(w, iord.data(), {t}); }));
      }
    }
    std::printf("case=handover n=%d half_band=%d narrow_s=%.4f wide_1t_s=%.4f wide_2t_s=%.4f\n", N,
                b, median(narrow), median(wide[0]), median(wide[1]));
    std::fflush(stdout);
  }
}

// The variant of that name, when this processor runs it.
bool isa_named(const std::string& name, drav::Isa& isa) {
  for (const drav::blocked::IsaVariant& v : drav::blocked::kIsaVariants)
    if (name == v.name && drav::blocked::available(v)) {
      isa = v.isa;
      return true;
    }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      opt.quick = true;
    } else if (a == "--reps" && i + 1 < argc) {
      opt.reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--literal-max" && i + 1 < argc) {
      opt.literal_max = std::atoi(argv[++i]);
    } else if (a == "--only" && i + 1 < argc) {
      opt.only = argv[++i];
    } else if (a == "--handover" && i + 1 < argc) {
      opt.handover = std::atoi(argv[++i]);
    } else if (a == "--isa" && i + 1 < argc && isa_named(argv[i + 1], opt.isa)) {
      ++i;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--quick] [--reps R] [--literal-max N] [--only NAME] "
                   "[--handover N] [--isa ",
                   argv[0]);
      const char* sep = "";
      for (const drav::blocked::IsaVariant& v : drav::blocked::kIsaVariants)
        if (drav::blocked::available(v)) std::fprintf(stderr, "%s%s", sep, v.name), sep = "|";
      std::fprintf(stderr, "]\n");
      return 2;
    }
  }
  // Dense: random node numbering; band N/8: numbered across the short side (ny = N/16);
  // odd: sizes that are no multiple of any tile or block.
  const Case cases[] = {
      {"dense", 26, 20, true, 0},     {"dense", 51, 20, true, 0},
      {"dense", 101, 20, true, 0},    {"dense", 151, 20, true, 0},
      {"dense", 201, 20, true, 0},    {"band-n/8", 9, 125, false, 0},
      {"band-n/8", 9, 250, false, 0}, {"band-n/8", 9, 500, false, 0},
      {"dense-odd", 39, 20, true, 3}, {"dense-odd", 77, 20, true, 1},
      {"band-odd", 9, 187, false, 5},
  };
  std::printf("# seconds, medians of %d; ratio = blocked / dgetrf at the same thread count;\n",
              opt.reps);
  std::printf("# ratio_gb = chosen / the better of dgbtrf at 1 and 2 threads (bands only)\n");
  std::printf("# literal timed up to n = %d, beyond extrapolated by n^3 from the last timed\n",
              opt.literal_max);
  std::printf("# blocked kernel: %s\n", drav::blocked::variant_of(drav::isa_in_use(opt.isa))->name);
  if (opt.handover > 0) {
    handover(opt, opt.handover);
    return 0;
  }
  double literal_per_n3 = 0;
  for (const Case& cs : cases)
    if ((opt.only.empty() || cs.name.find(opt.only) != std::string::npos) &&
        (!opt.quick || 2 * cs.ny * (cs.nx - 1) <= 2000))
      run_case(cs, opt, literal_per_n3);
  return 0;
}
