// The costs of a run, one table: per model, the literal factorization, ours, the whole run
// of the program (a child process), the time to write the same output bytes with plain
// buffered writes from one thread (the floor the run is held to), the processor time of both
// (user + system, which a busy machine disturbs less than the wall time), and the peak
// resident memory of the run, and the matrix file's length and disk blocks (st_blocks * 512:
// its zero pages are holes). For the dense and the wide-band models also the factorization
// a user could have from a library on the same matrix (OpenBLAS dgetrf at 2 threads on the
// dense matrix; dgbtrf on band storage, the better of 1 and 2 threads), and the run against
// that factorization plus the floor. Times are medians of repetitions that each run the
// program, write the floor and factor with the library, in turn; each also reads what the
// core gives the factorization's register tile (core: fused / separate, bench/core_check.h;
// 1.00 on an idle core). Run by bench/run.sh; see the README.
//
//   drav_pipeline_bench DRAV_EXE [--quick] [--reps R] [--literal-max N] [--only NAME]
//
// The literal factorization is measured up to --literal-max equations (default 2100, about
// ten seconds) and extrapolated by N^3 from the largest one measured beyond that (marked ~).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "assembly/genlu.h"
#include "bench/core_check.h"
#include "bench/run_support.h"
#ifdef DRAV_BENCH_LAPACK
#include "bench/lapack_yardstick.h"
#endif
#include "driver/model_input.h"
#include "factor/factor_system.h"
#include "factor/reference/ludecomp.h"
#include "params/rcom.h"
#include "recio/textio.h"
#include "tools/mkmodel/model_desc.h"
#include "tools/mkmodel/model_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using drav::bench::cpu_seconds;
using drav::bench::grid;
using drav::bench::median;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The library factorization a model is held to besides the floor.
enum class Library { None, Dense, Band };

struct Case {
  std::string name;
  int nx, ny;
  bool shuffle;
  bool nband_neq;  // NBAND = NEQ in COMZOR.DAT
  Library library = Library::None;
};

struct Run {
  double seconds;
  double cpu;  // user + system time
  long peak_kb;
};

// The runs of the program are started by a helper process forked before this one grows: the
// peak resident size a child reports counts what its parent held when it was started, and
// the helper holds next to nothing. It reads a directory per line and answers with the wall
// time, the peak resident size in KB and the exit status of one run there.
class Runner {
 public:
  explicit Runner(const std::string& exe) {
    int to[2], from[2];
    if (pipe(to) != 0 || pipe(from) != 0) std::exit(1);
    pid_ = fork();
    if (pid_ == 0) {
      close(to[1]);
      close(from[0]);
      serve(exe, fdopen(to[0], "r"), fdopen(from[1], "w"));
      _exit(0);
    }
    close(to[0]);
    close(from[1]);
    to_ = fdopen(to[1], "w");
    from_ = fdopen(from[0], "r");
  }
  ~Runner() {
    std::fclose(to_);
    std::fclose(from_);
    waitpid(pid_, nullptr, 0);
  }

  Run run(const fs::path& dir) {
    std::fprintf(to_, "%s\n", dir.c_str());
    std::fflush(to_);
    Run r{};
    int status = -1;
    if (std::fscanf(from_, "%lf %lf %ld %d", &r.seconds, &r.cpu, &r.peak_kb, &status) != 4 ||
        status != 0) {
      std::fprintf(stderr, "the run in %s failed\n", dir.c_str());
      std::exit(1);
    }
    return r;
  }

 private:
  static void serve(const std::string& exe, std::FILE* in, std::FILE* out) {
    char line[4096];
    while (std::fgets(line, sizeof line, in)) {
      line[std::strcspn(line, "\n")] = '\0';
      char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
      int status = -1;
      double s = 0;
      struct rusage ru {};
      pid_t pid = 0;
      if (chdir(line) == 0) {
        const auto t0 = Clock::now();
        if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ) == 0) {
          wait4(pid, &status, 0, &ru);
          s = seconds_since(t0);
        }
      }
      std::fprintf(out, "%.6f %.6f %ld %d\n", s, cpu_seconds(ru), ru.ru_maxrss,
                   WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      std::fflush(out);
    }
  }

  pid_t pid_ = 0;
  std::FILE* to_ = nullptr;
  std::FILE* from_ = nullptr;
};

// The floor: the byte counts of the run's output files written with plain stdio from one
// thread, over files of the same size left by the previous repetition (as the run does).
Run write_floor(const fs::path& dir, const std::vector<uintmax_t>& sizes) {
  static std::vector<char> chunk(size_t{1} << 16, ' ');
  struct rusage r0 {
  }, r1{};
  getrusage(RUSAGE_SELF, &r0);
  const auto t0 = Clock::now();
  for (size_t f = 0; f < sizes.size(); ++f) {
    const fs::path p = dir / ("floor-" + std::to_string(f) + ".dat");
    std::FILE* out = std::fopen(p.c_str(), "wb");
    for (uintmax_t left = sizes[f]; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uintmax_t>(left, chunk.size()));
      std::fwrite(chunk.data(), 1, n, out);
      left -= n;
    }
    std::fclose(out);
  }
  const double s = seconds_since(t0);
  getrusage(RUSAGE_SELF, &r1);
  return {s, cpu_seconds(r1) - cpu_seconds(r0), 0};
}

// Writes out what the system holds in its cache for the file system of `dir` (none on tmpfs).
// Only that one: a sync of every file system also has this virtual machine's disk flushed,
// after which a run on tmpfs took 0.50-0.63 s instead of 0.40 s.
void settle(const fs::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  (void)::syncfs(fd);
  ::close(fd);
}

// The model of `dir` as the program loads it.
struct Loaded {
  drav::COMPAR c;
  drav::WorkArrays W;
};
void load(const fs::path& dir, Loaded& m) {
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  drav::RCOM(m.c, 2);
  drav::allocate_group1(m.c, m.W);
  drav::allocate_group2(m.c, m.W);
  drav::read_model(m.c, m.W);
  fs::current_path(old);
}

// The library yardstick of a model: its matrix in LAPACK's storage (dense, or the band of its
// half band), built once from the entries of U.
struct Yardstick {
  Library library = Library::None;
#ifdef DRAV_BENCH_LAPACK
  drav::bench::Columns m;
#endif

  Yardstick(Library lib, const drav::UpperRows& U) : library(lib) {
#ifdef DRAV_BENCH_LAPACK
    if (library == Library::None) return;
    const int n = U.n;
    m = library == Library::Dense ? drav::bench::dense_columns(n)
                                  : drav::bench::band_columns(n, U.half_band());
    for (int32_t I = 1; I <= n; ++I)
      for (int64_t e = U.row_begin(I); e < U.row_end(I); ++e) {
        const int32_t J = U.col[static_cast<size_t>(e)];
        m.at(I, J) = m.at(J, I) = U.val[static_cast<size_t>(e)];
      }
#else
    library = Library::None;
#endif
  }

  // Seconds of one library factorization (dgetrf at 2 threads; dgbtrf, the better of 1 and 2
  // threads); negative where there is none (no yardstick for the model, or built without
  // OpenBLAS).
  double once() const {
#ifdef DRAV_BENCH_LAPACK
    if (library == Library::Dense) return drav::bench::lapack_seconds(m, 2);
    if (library == Library::Band)
      return std::min(drav::bench::lapack_seconds(m, 1), drav::bench::lapack_seconds(m, 2));
#endif
    return -1;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s DRAV_EXE [--quick] [--reps R] [--literal-max N] [--only NAME]\n",
                 argv[0]);
    return 2;
  }
  const std::string exe = fs::absolute(argv[1]).string();
  Runner runner(exe);
  bool quick = false;
  int reps = 3;
  int literal_max = 2100;
  std::string only;  // cases whose name contains this
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") quick = true;
    if (a == "--reps" && i + 1 < argc) reps = std::atoi(argv[++i]);
    if (a == "--literal-max" && i + 1 < argc) literal_max = std::atoi(argv[++i]);
    if (a == "--only" && i + 1 < argc) only = argv[++i];
  }

  // Half band 2*18+4 = 40; NEQ = 36 * (nx - 1), 16 * ny for the bands of NEQ/8, 72 * (nx - 1)
  // numbered at random.
  const Library band = Library::Band, dense = Library::Dense;
  std::vector<Case> cases = {
      {"banded", 57, 18, false, false},
      {"banded", 112, 18, false, false},
      {"banded", 224, 18, false, false},
      {"banded, NBAND=NEQ", 57, 18, false, true},
      {"banded, NBAND=NEQ", 112, 18, false, true},
      {"banded, NBAND=NEQ", 224, 18, false, true},
      {"band NEQ/8", 9, 123, false, false, band},
      {"band NEQ/8", 9, 248, false, false, band},
      {"band NEQ/8", 9, 500, false, false, band},
      {"random numbering", 15, 36, true, false, dense},
      {"random numbering", 29, 36, true, false, dense},
      {"random numbering", 57, 36, true, false, dense},
      {"random numbering", 112, 36, true, false, dense},
  };
  if (quick)
    cases = {{"banded", 57, 18, false, false},
             {"banded, NBAND=NEQ", 57, 18, false, true},
             {"band NEQ/8", 9, 123, false, false, band},
             {"random numbering", 15, 36, true, false, dense}};

  const fs::path root =
      fs::temp_directory_path() / ("drav-pipeline-bench-" + std::to_string(getpid()));
  std::printf("%-18s %5s %4s %9s %8s %7s %7s %7s %9s %13s %7s %7s %9s %7s %9s %7s %7s %5s\n",
              "case", "NEQ", "b", "literal s", "ours s", "lib s", "run s", "floor s", "run/floor",
              "run/(lib+flr)", "run cpu", "flr cpu", "cpu ratio", "peak MB", "peak/8N^2", "AA0 MB",
              "disk MB", "core");
  std::map<int, double> literal_seconds;  // measured, by NEQ
  for (const Case& cs : cases) {
    if (!only.empty() && cs.name.find(only) == std::string::npos) continue;
    const fs::path dir = root / "model";
    fs::remove_all(root);
    auto files = drav::tools::build_model(
        drav::tools::parse_description(grid(cs.nx, cs.ny, cs.shuffle), "bench"));
    if (cs.nband_neq) files.NBAND = files.NEQ;
    drav::tools::write_model_dir(files, dir.string());
    const int n = files.NEQ;

    // The model as the program loads it, its matrix, and the library's copy of it.
    Loaded m;
    load(dir, m);
    drav::Matrix probe;
    probe.allocate(n);
    const drav::UpperRows U = drav::generate_upper(m.c, m.W, probe);
    probe.release();
    const Yardstick yardstick(cs.library, U);

    // Each repetition a whole run, the floor (the sizes of the run's output files) and the
    // library factorization, in turn: a machine whose speed drifts weighs on all of them alike.
    std::vector<double> run_s, floor_s, run_cpu, floor_cpu, lib_s, core;
    long peak_kb = 0;
    struct stat aa {};
    std::vector<uintmax_t> sizes;  // every run leaves the same
    const int r = std::max(reps, 1);
    for (int i = 0; i < r; ++i) {
      // What the previous step left in the system's cache goes to the disk first, untimed:
      // on a disk its writing would otherwise fall into the next step (a sync of the run
      // waits for it), and each step is to be timed on its own.
      settle(dir);
      const Run w = runner.run(dir);
      run_s.push_back(w.seconds);
      run_cpu.push_back(w.cpu);
      peak_kb = std::max(peak_kb, w.peak_kb);
      if (sizes.empty()) {
        stat((dir / "AA0.UNF").c_str(), &aa);
        for (const char* f : {"AA0.UNF", "rig-case1.dat", "order.dat", "drav0.dat"})
          sizes.push_back(fs::file_size(dir / f));
      }
      settle(dir);
      const Run f = write_floor(dir, sizes);
      floor_s.push_back(f.seconds);
      floor_cpu.push_back(f.cpu);
      lib_s.push_back(yardstick.once());
      if (const drav::bench::CoreReading c = drav::bench::read_core(); c.measured())
        core.push_back(c.ratio());
    }

    // The factorizations in this process, on the matrix the run generates.
    std::vector<int32_t> iord(static_cast<size_t>(n));
    std::vector<double> ours_s;
    for (int i = 0; i < r; ++i) {
      drav::Matrix LU;
      LU.allocate(n);
      drav::Factorization F;
      const auto t0 = Clock::now();
      drav::factor_system(U, LU, iord.data(), F);
      ours_s.push_back(seconds_since(t0));
    }
    std::string literal;
    char buf[64];
    if (n <= literal_max) {
      drav::Matrix A;
      A.allocate(n);
      U.scatter(A);
      drav::COMPAR c;
      drav::recio::StringSink console;
      int32_t ierr = 0, kstep = 0;
      const auto t0 = Clock::now();
      drav::LUDECOMP(A, n, iord.data(), ierr, kstep, c, console);
      const double s = seconds_since(t0);
      literal_seconds[n] = s;
      std::snprintf(buf, sizeof buf, "%.3f", s);
      literal = buf;
    } else if (!literal_seconds.empty()) {
      const auto& [n0, s0] = *literal_seconds.rbegin();
      std::snprintf(buf, sizeof buf, "~%.1f", s0 * std::pow(double(n) / n0, 3));
      literal = buf;
    } else {
      literal = "-";
    }
    const double run = median(run_s), floor = median(floor_s);
    const double peak_mb = peak_kb / 1024.0;
    const double rcpu = median(run_cpu), fcpu = median(floor_cpu);
    const double lib = median(lib_s);
    std::string lib_text = "-", lib_ratio = "-";
    if (lib >= 0) {
      std::snprintf(buf, sizeof buf, "%.3f", lib);
      lib_text = buf;
      std::snprintf(buf, sizeof buf, "%.2f", run / (lib + floor));
      lib_ratio = buf;
    }
    std::string core_text = "-";
    if (!core.empty()) {
      std::snprintf(buf, sizeof buf, "%.2f", median(core));
      core_text = buf;
    }
    std::printf(
        "%-18s %5d %4d %9s %8.3f %7s %7.3f %7.3f %9.2f %13s %7.3f %7.3f %9.2f %7.1f %8.1f%% %7.1f "
        "%7.1f %5s\n",
        cs.name.c_str(), n, U.half_band(), literal.c_str(), median(ours_s), lib_text.c_str(), run,
        floor, run / floor, lib_ratio.c_str(), rcpu, fcpu, rcpu / fcpu, peak_mb,
        100.0 * peak_kb * 1024.0 / (8.0 * n * n), aa.st_size / 1e6, aa.st_blocks * 512 / 1e6,
        core_text.c_str());
    std::fflush(stdout);
  }
  fs::remove_all(root);
  return 0;
}
