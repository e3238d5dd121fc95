// What the threads of a run gain by overlapping its steps: the program's own report writer,
// factorization and matrix file writer on the models of the pipeline benchmark (a truss
// numbered at random, whose factors fill the matrix, and one numbered across its short side,
// a wide band of N/8), each step alone
// and the steps composed in the ways a run could compose them on two threads:
//   serial      the report, the factorization, the matrix file, one after the other;
//   contend     the report on a thread of its own beside a factorization team of both
//               threads, then the matrix file (the program before the team was fitted);
//   lent        the same, the team leaving the report's thread to it until the report is
//               done;
//   lent, beside  lent, the matrix file written as soon as the factorization is done, while
//               the report may still be written (the program now);
//   report last   the factorization on both threads first, then the report on a thread of
//               its own beside the matrix file;
//   streamed    lent, and the report's thread writing the matrix file after the report while
//               the factorization still runs: what writing finished rows beside the
//               factorization could gain at best, every row ready the moment the report is
//               done; "streamed, contend" the same beside a team of both threads.
// Wall and processor (user + system) seconds, medians, the variants interleaved in each
// repetition. The matrix file is written by the program's writer (replaced whole, synced, whole
// pages of zeros left as holes).
//
//   drav_overlap_bench [--reps R] [--only NAME] [--dir DIR]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "assembly/genlu.h"
#include "assembly/stiffness_report.h"
#include "bench/run_support.h"
#include "driver/model_input.h"
#include "driver/overlap.h"
#include "factor/factor_system.h"
#include "params/rcom.h"
#include "recio/textio.h"
#include "tools/mkmodel/model_desc.h"
#include "tools/mkmodel/model_files.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Case {
  const char* name;
  int nx, ny;
  bool shuffle;
};

double cpu_now() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return drav::bench::cpu_seconds(ru);
}

// The model of a case as the program has it once the matrix is generated.
struct Model {
  drav::COMPAR c;
  drav::WorkArrays W;
  drav::UpperRows U;
};

void load(Model& m) {
  drav::RCOM(m.c, 2);
  drav::allocate_group1(m.c, m.W);
  drav::allocate_group2(m.c, m.W);
  drav::read_model(m.c, m.W);
  drav::Matrix probe;
  probe.allocate(m.c.NEQ);
  m.U = drav::generate_upper(m.c, m.W, probe);
}

void run_case(const Case& cs, int reps, const fs::path& root) {
  const fs::path dir = root / cs.name;
  fs::remove_all(dir);
  const auto files = drav::tools::build_model(
      drav::tools::parse_description(drav::bench::grid(cs.nx, cs.ny, cs.shuffle), "b"));
  drav::tools::write_model_dir(files, dir.string());
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  Model m;
  load(m);
  const int32_t n = m.U.n;

  // The steps as the program runs them.
  auto report = [&] {
    const auto out = drav::open_stiffness_report();
    drav::write_stiffness_report(m.c, m.U, *out);
    out->close();
  };
  struct Factored {
    drav::Matrix LU;
    drav::Factorization F;
    drav::ZArray<int32_t> IORD;
  };
  auto factor = [&](Factored& f, const std::atomic<int>* busy) {
    f.LU.allocate(n);
    f.IORD.allocate(n);
    drav::FactorOptions o;
    o.threads = 2;
    o.busy = busy;
    drav::factor_system(m.U, f.LU, f.IORD.data(), f.F, o);
  };
  Factored kept;
  factor(kept, nullptr);
  auto matrix_file = [&](const Factored& f) {
    drav::MatrixFile out(1);  // AA0.UNF
    out.write_rows(f.F);
    out.close();
  };

  // The report on a thread of its own beside the factorization, which leaves that thread out
  // until the report is done when `lend`; the rows after both, beside the report, or by the
  // report's thread after the report (the rows of an earlier factorization: all ready at once).
  enum class Rows { After, Beside, Streamed };
  auto composed = [&](bool lend, Rows rows) {
    std::atomic<int> busy{1};
    std::thread r([&] {
      report();
      if (rows == Rows::Streamed) matrix_file(kept);
      busy.store(0);
    });
    Factored f;
    factor(f, lend ? &busy : nullptr);
    if (rows == Rows::Beside) matrix_file(f);
    r.join();
    if (rows == Rows::After) matrix_file(f);
  };

  struct Variant {
    const char* name;
    std::function<void()> run;
  };
  const std::vector<Variant> variants = {
      {"report", report},
      {"factorization",
       [&] {
         Factored f;
         factor(f, nullptr);
       }},
      {"matrix file", [&] { matrix_file(kept); }},
      {"serial",
       [&] {
         report();
         Factored f;
         factor(f, nullptr);
         matrix_file(f);
       }},
      {"contend", [&] { composed(false, Rows::After); }},
      {"lent", [&] { composed(true, Rows::After); }},
      {"lent, beside", [&] { composed(true, Rows::Beside); }},
      {"report last",
       [&] {
         Factored f;
         factor(f, nullptr);
         std::thread r(report);
         matrix_file(f);
         r.join();
       }},
      {"streamed, contend", [&] { composed(false, Rows::Streamed); }},
      {"streamed", [&] { composed(true, Rows::Streamed); }},
  };
  std::vector<std::vector<double>> wall(variants.size()), cpu(variants.size());
  for (int r = 0; r < reps; ++r)
    for (size_t v = 0; v < variants.size(); ++v) {
      const double c0 = cpu_now();
      const auto t0 = Clock::now();
      variants[v].run();
      wall[v].push_back(std::chrono::duration<double>(Clock::now() - t0).count());
      cpu[v].push_back(cpu_now() - c0);
    }
  double load_avg[3] = {0, 0, 0};
  getloadavg(load_avg, 3);
  std::printf("%s: N = %d, half band %d, %d repetitions, load %.1f\n", cs.name, n, m.U.half_band(),
              reps, load_avg[0]);
  std::printf("  %-18s %8s %8s %8s\n", "variant", "wall s", "min s", "cpu s");
  for (size_t v = 0; v < variants.size(); ++v)
    std::printf("  %-18s %8.3f %8.3f %8.3f\n", variants[v].name, drav::bench::median(wall[v]),
                *std::min_element(wall[v].begin(), wall[v].end()), drav::bench::median(cpu[v]));
  std::fflush(stdout);
  fs::current_path(old);
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 5;
  std::string only;
  fs::path root = fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (a == "--dir" && i + 1 < argc) {
      root = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--reps R] [--only NAME] [--dir DIR]\n", argv[0]);
      return 2;
    }
  }
  root /= "drav-overlap-bench-" + std::to_string(getpid());
  // NEQ = 2 * ny * (nx - 1).
  const Case cases[] = {
      {"band-8000", 224, 18, false},     {"dense-4000", 57, 36, true},
      {"dense-8000", 112, 36, true},     {"wide-band-4000", 9, 248, false},
      {"wide-band-8000", 9, 500, false},
  };
  for (const Case& cs : cases)
    if (only.empty() || std::string(cs.name).find(only) != std::string::npos)
      run_case(cs, reps, root);
  fs::remove_all(root);
  return 0;
}
