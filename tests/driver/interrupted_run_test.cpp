// Runs that do not complete, over the results of an earlier run: whatever ends them (a stop, a
// fatal error, a full disk, a kill at any moment), the status file does not say success and
// the matrix file and order.dat are each the earlier complete file or the new complete file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "run_support.h"
#include "support/scratch.h"

// Child processes are started, limited and killed with the POSIX calls.
#ifndef _WIN32

namespace drav {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const std::string kFailed = "          -1\r\n";
const std::string kOk = "           0\r\n";

// Two bars' worth of model at 45 degrees, iteration 2 (the matrix file is AA.UNF, which must
// exist). With the spring of +0.25 the second row wins the first pivot (order 2 1); with -0.25
// it does not (order 1 2), so the earlier and the new run differ in both files.
std::string leaning_bar(const char* spring) {
  return std::string(
             "ndofn 2\nnode 1 0 0\nnode 2 1 1\nfix 1 all\nbar 1 1 2 E=1 A=1 S0=1\niter 2\n") +
         "spring 2 x " + spring + "\n";
}
const std::string kEarlierModel = leaning_bar("0.25");
const std::string kNewModel = leaning_bar("-0.25");
// Nothing holds node 2 in y: singular at the second equation.
const std::string kSingularModel =
    "ndofn 2\nnode 1 0 0\nnode 2 2 0\nfix 1 all\nbar 1 1 2 E=100 A=1\niter 2\n";

using testing::Results;

class Interrupted : public ::testing::Test {
 public:
  TempDir tmp;
  fs::path dir = tmp.path() / "run";
  Results earlier, fresh;  // of the earlier run, and of this model run to its end

  std::string path(const std::string& name) const { return (dir / name).string(); }
  std::string file(const std::string& name) const { return read_file(path(name)); }

  void model(const std::string& description, const fs::path& where) {
    ASSERT_TRUE(
        testing::build_model(description, (tmp.path() / "model.txt").string(), where.string()))
        << description;
  }

  testing::ChildOptions options() const {
    testing::ChildOptions o;
    o.dir = dir.string();
    o.out = (tmp.path() / "stdout").string();
    o.err = (tmp.path() / "stderr").string();
    return o;
  }
  std::string out() const { return read_file((tmp.path() / "stdout").string()); }
  std::string err() const { return read_file((tmp.path() / "stderr").string()); }

  Results results() const { return testing::results_in(dir); }
  void put(const Results& r) { testing::put_results(dir, r); }
  // The scratch files in the working directory (of the result files, or anything else).
  std::vector<std::string> scratch_files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string n = e.path().filename().string();
      if (n.find(".drav-new") != std::string::npos) names.push_back(n);
    }
    return names;
  }

  // The earlier run's results from `earlier_model`, and those of `new_model` run to its end
  // in another directory; the working directory then holds the new model and the earlier
  // results.
  void prepare(const std::string& new_model, const std::string& earlier_model = kEarlierModel) {
    const fs::path ref = tmp.path() / "reference";
    for (const fs::path& d : {dir, ref}) {
      fs::remove_all(d);
      model(earlier_model, d);
      write_file((d / "AA.UNF").string(), "");
      testing::ChildOptions o = options();
      o.dir = d.string();
      ASSERT_EQ(testing::run_child(o).code, 0);
    }
    earlier = results();
    fs::remove(path("rig-case1.dat"));
    model(new_model, ref);
    testing::ChildOptions o = options();
    o.dir = ref.string();
    testing::run_child(o);
    fresh = testing::results_in(ref);
    model(new_model, dir);
    ASSERT_EQ(results(), earlier);
  }
};

using testing::comzor_text;

TEST_F(Interrupted, EveryStopAndFatalErrorLeavesEarlierResultsAndAFailureStatus) {
  struct Case {
    const char* name;
    std::function<void(Interrupted&)> damage;
    int code;
    const char* message;  // on standard error (code 2) or standard output (code 1)
  };
  const std::vector<Case> cases = {
      {"parameter file missing", [](Interrupted& t) { fs::remove(t.path("COMZOR.DAT")); }, 2,
       "drav: file not found, unit 2, file COMZOR.DAT\r\n"},
      {"first group refused",
       [](Interrupted& t) {
         write_file(t.path("COMZOR.DAT"), comzor_text(70000, 1, 0, 70000, 1, 0));
       },
       1, "  * Allocation Error: NEI,NF,A0,S0\r\n STOP: DRAV\r\n"},
      {"second group refused",
       [](Interrupted& t) {
         write_file(t.path("COMZOR.DAT"), comzor_text(1, 300000000, 2, 1, 1, 2));
       },
       1, "  * Eroare alocare:V,VMOD,YY,T,IND,AL0\r\n STOP: DRAV\r\n"},
      {"model file missing", [](Interrupted& t) { fs::remove(t.path("x0.UNF")); }, 2,
       "drav: file not found, unit 2, file x0.UNF\r\n"},
      {"element file cut short", [](Interrupted& t) { fs::resize_file(t.path("el.unf"), 10); }, 2,
       "drav: end-of-file during read, unit 2, file el.unf ("},
      {"equations and supports disagree",
       [](Interrupted& t) {
         std::string c = t.file("COMZOR.DAT");
         c.replace(c.find("\r\n2\r\n"), 5, "\r\n3\r\n");
         write_file(t.path("COMZOR.DAT"), c);
       },
       2, "NEQ = 3, but the supports leave 2 free degrees of freedom"},
      {"load case file missing", [](Interrupted& t) { fs::remove(t.path("temp.dat")); }, 2,
       "drav: file not found, unit 11, file temp.dat\r\n"},
      {"order file in the way",
       [](Interrupted& t) {
         fs::remove(t.path("order.dat"));
         fs::create_directory(t.path("order.dat"));
       },
       2, "drav: open failure, unit 7, file order.dat ("},
      {"report file in the way after a singular matrix",
       [](Interrupted& t) {
         t.model(kSingularModel, t.dir);
         fs::create_directory(t.path("report.txt"));
       },
       2, "drav: open failure, unit 1, file report.txt ("},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    prepare(kNewModel);
    c.damage(*this);
    const testing::ChildEnd end = testing::run_child(options());
    EXPECT_EQ(end.code, c.code);
    const std::string shown = c.code == 1 ? out() : err();
    EXPECT_NE(shown.find(c.message), std::string::npos) << shown;
    EXPECT_EQ(file("drav0.dat"), kFailed);
    EXPECT_EQ(file("AA.UNF"), earlier.aa);
    if (fs::is_regular_file(path("order.dat"))) {
      EXPECT_EQ(file("order.dat"), earlier.order);
    }
    EXPECT_EQ(scratch_files(), std::vector<std::string>{});
  }
}

TEST_F(Interrupted, AMissingMatrixFileOfALaterIterationIsStillReportedAtItsOpen) {
  prepare(kNewModel);
  fs::remove(path("AA.UNF"));
  EXPECT_EQ(testing::run_child(options()).code, 2);
  EXPECT_EQ(err(), "drav: file not found, unit 3, file AA.UNF\r\n");
  EXPECT_FALSE(fs::exists(path("AA.UNF")));
  EXPECT_EQ(file("order.dat"), earlier.order);
  EXPECT_EQ(file("drav0.dat"), kFailed);
}

TEST_F(Interrupted, AStatusFileThatCannotBeWrittenIsReportedBeforeAnythingElse) {
  prepare(kNewModel);
  fs::remove(path("drav0.dat"));
  fs::create_directory(path("drav0.dat"));
  fs::remove(path("COMZOR.DAT"));  // not even looked at
  EXPECT_EQ(testing::run_child(options()).code, 2);
  EXPECT_EQ(err().rfind("drav: open failure, unit 3, file drav0.dat (", 0), 0u) << err();
  EXPECT_EQ(file("AA.UNF"), earlier.aa);
  EXPECT_EQ(file("order.dat"), earlier.order);
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});
}

// The program is stopped just before each system call that may change a file and killed
// there, so every state its files pass through is looked at; each killed run is followed by
// a whole one, which must clear what the killed one left.
TEST_F(Interrupted, AKillAtAnyMomentLeavesEarlierOrNewFilesAndNoSuccess) {
  if (!testing::can_trace()) GTEST_SKIP() << "this system does not let a test trace a child";
  struct Scenario {
    const char* name;
    const std::string& model;
    std::function<void(Interrupted&)> damage;
    int code;        // of a whole run
    bool completes;  // the new results replace the earlier ones
  };
  const auto none = [](Interrupted&) {};
  const std::vector<Scenario> scenarios = {
      {"regular matrix", kNewModel, none, 0, true},
      {"singular matrix", kSingularModel, none, 0, false},
      {"a stop", kNewModel,
       [](Interrupted& t) {
         write_file(t.path("COMZOR.DAT"), comzor_text(70000, 1, 0, 70000, 1, 0));
       },
       1, false},
      {"an early fatal error", kNewModel,
       [](Interrupted& t) { fs::resize_file(t.path("el.unf"), 10); }, 2, false},
      {"a late fatal error", kSingularModel,
       [](Interrupted& t) { fs::create_directory(t.path("report.txt")); }, 2, false},
  };
  // The reports a run writes, not the directory that stands in for one.
  const auto clear_reports = [this] {
    for (const char* f : {"rig-case1.dat", "report.txt"}) {
      if (fs::is_regular_file(path(f))) fs::remove(path(f));
    }
  };
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    prepare(s.model);
    s.damage(*this);
    const Results final_results = s.completes ? fresh : Results{earlier.aa, earlier.order, kFailed};
    int64_t total = 0;
    testing::run_until_call(options(), INT64_MAX, total);
    ASSERT_GT(total, 5);
    ASSERT_EQ(results(), final_results);
    clear_reports();
    int one_new = 0, both_new = 0;  // kills after one or both replacements, status -1
    for (int64_t k = 1; k <= total; ++k) {
      SCOPED_TRACE("killed before file call " + std::to_string(k) + " of " + std::to_string(total));
      put(earlier);
      int64_t made = 0;
      const testing::ChildEnd end = testing::run_until_call(options(), k, made);
      ASSERT_TRUE(end.killed);
      const Results r = results();
      EXPECT_TRUE(r.aa == earlier.aa || r.aa == fresh.aa);
      EXPECT_TRUE(r.order == earlier.order || r.order == fresh.order);
      if (r.status != kFailed && r != final_results) {
        // Only before the run has done anything: the earlier status and nothing else changed.
        EXPECT_EQ(r, earlier);
        EXPECT_FALSE(fs::exists(path("rig-case1.dat")));
      }
      if (r.status == kFailed) {
        if (r.aa != earlier.aa && r.order != earlier.order) ++both_new;
        if ((r.aa != earlier.aa) != (r.order != earlier.order)) ++one_new;
      }
      for (const std::string& n : scratch_files()) {
        EXPECT_TRUE(n == "AA.UNF.drav-new" || n == "order.dat.drav-new" ||
                    n == "drav0.dat.drav-new")
            << n;
      }

      const testing::ChildEnd again = testing::run_child(options());
      EXPECT_EQ(again.code, s.code);
      EXPECT_EQ(results(), final_results);
      EXPECT_EQ(scratch_files(), std::vector<std::string>{});
      clear_reports();
    }
    if (s.completes) {
      // The kills did land between the replacements, and the status held there.
      EXPECT_GT(one_new, 0);
      EXPECT_GT(both_new, 0);
    }
  }
}

// A full disk while the matrix file is written: a file-size limit on the process (EFBIG), and
// where the test may mount one, a small file system that runs out of space (ENOSPC). The
// stiffness report, written first and larger than the matrix file, goes to /dev/null so that
// the limit falls inside the matrix file.
class DiskFull : public Interrupted {
 protected:
  void prepare_large() {
    // 1201 equations, 11.5 MB of matrix: the disk fills up while the rows are written.
    prepare(testing::strip_truss(300, "iter 2\n"));
    earlier.aa = std::string(300000, 'E');  // any earlier content must survive
    put(earlier);
    fs::create_symlink("/dev/null", path("rig-case1.dat"));
  }
  void expect_intact() {
    EXPECT_EQ(err().rfind("drav: error during write, unit 3, file AA.UNF (record ", 0), 0u)
        << err();
    EXPECT_EQ(err().find("drav-new"), std::string::npos);
    EXPECT_EQ(file("drav0.dat"), kFailed);
    EXPECT_EQ(file("AA.UNF"), earlier.aa);
    EXPECT_EQ(file("order.dat"), earlier.order);
    EXPECT_EQ(scratch_files(), std::vector<std::string>{});
  }
};

TEST_F(DiskFull, AFileSizeLimitInsideTheMatrixFileLeavesTheEarlierOne) {
  prepare_large();
  testing::ChildOptions o = options();
  o.file_size_limit = static_cast<int64_t>(fresh.aa.size() / 2);
  EXPECT_EQ(testing::run_child(o).code, 2);
  expect_intact();
}

// A small file system of its own, mounted for the test (root only); empty when there is none.
class SmallDisk {
 public:
  explicit SmallDisk(const fs::path& where) : image_(where / "disk.img"), mnt_(where / "disk") {
    fs::create_directories(mnt_);
    const std::string make = "truncate -s 24M '" + image_.string() + "' && mke2fs -q -F '" +
                             image_.string() + "' >/dev/null 2>&1 && mount -o loop '" +
                             image_.string() + "' '" + mnt_.string() + "' 2>/dev/null";
    mounted_ = ::geteuid() == 0 && std::system(make.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) (void)std::system(("umount '" + mnt_.string() + "'").c_str());
  }
  bool mounted() const { return mounted_; }
  const fs::path& path() const { return mnt_; }

  // Fills the disk, then gives back `bytes`.
  void leave_free(uintmax_t bytes) const {
    const std::string filler = (mnt_ / "filler").string();
    const std::string block(1 << 16, 'f');
    FILE* f = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
    fs::resize_file(filler, fs::file_size(filler) - bytes);
  }

 private:
  fs::path image_, mnt_;
  bool mounted_ = false;
};

// What a file takes on disk.
uintmax_t on_disk(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return 0;
  return static_cast<uintmax_t>(st.st_blocks) * 512;
}

TEST_F(DiskFull, AFileSystemThatFillsUpInsideTheMatrixFileLeavesTheEarlierOne) {
  const SmallDisk disk(tmp.path());
  if (!disk.mounted()) GTEST_SKIP() << "no loop-mounted file system here (or not root)";
  const fs::path outside = dir;
  dir = disk.path() / "run";
  prepare_large();
  // A quarter of what the new matrix file took on disk (less than it needs here, whether its
  // zero pages are holes there, here, or in neither place).
  disk.leave_free(on_disk(tmp.path() / "reference" / "AA.UNF") / 4);
  EXPECT_EQ(testing::run_child(options()).code, 2);
  expect_intact();
  EXPECT_NE(err().find("No space left on device"), std::string::npos) << err();
  dir = outside;
}

// Room for the report and a quarter of the matrix file: the run ends in the matrix file with
// the report complete, as when the report is written first, even where the rows, written beside
// the report, take the room first.
TEST_F(DiskFull, ADiskThatHoldsTheReportButNotTheMatrixFileFailsInTheMatrixFile) {
  const SmallDisk disk(tmp.path());
  if (!disk.mounted()) GTEST_SKIP() << "no loop-mounted file system here (or not root)";
  const fs::path outside = dir;
  dir = disk.path() / "run";
  prepare(testing::strip_truss(300, "iter 2\n"));
  earlier.aa = std::string(300000, 'E');
  put(earlier);
  const std::string report = read_file((tmp.path() / "reference" / "rig-case1.dat").string());
  disk.leave_free(report.size() + on_disk(tmp.path() / "reference" / "AA.UNF") / 4);
  EXPECT_EQ(testing::run_child(options()).code, 2);
  expect_intact();
  EXPECT_TRUE(file("rig-case1.dat") == report);
  dir = outside;
}

// A report that fails near its end, when the rows of the factors are long written beside it:
// the run ends with the report's failure and the earlier matrix file, also one written where
// it is (through a link), which the rows would have cut.
TEST_F(DiskFull, AReportThatFailsLeavesTheEarlierMatrixFileWhereverItIs) {
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "matrix file through a link" : "matrix file replaced whole");
    prepare(testing::strip_truss(300, "iter 2\n"));
    earlier.aa = std::string(300000, 'E');
    put(earlier);
    if (linked) {
      fs::rename(path("AA.UNF"), path("earlier.unf"));
      fs::create_symlink("earlier.unf", path("AA.UNF"));
    }
    const uintmax_t report = fs::file_size(tmp.path() / "reference" / "rig-case1.dat");
    ASSERT_GT(report, fresh.aa.size() + 100000);
    testing::ChildOptions o = options();
    o.file_size_limit = static_cast<int64_t>((report + fresh.aa.size()) / 2);
    EXPECT_EQ(testing::run_child(o).code, 2);
    EXPECT_EQ(err().rfind("drav: error during write, unit 15, file rig-case1.dat", 0), 0u) << err();
    EXPECT_EQ(file("AA.UNF"), earlier.aa);
    EXPECT_EQ(fs::is_symlink(path("AA.UNF")), linked);
    EXPECT_EQ(file("order.dat"), earlier.order);
    EXPECT_EQ(file("drav0.dat"), kFailed);
    EXPECT_EQ(scratch_files(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace drav

#endif  // _WIN32
