// A large run (3001 equations, a band of 400: some seconds, 72 MB of matrix file) killed
// with SIGKILL at evenly spaced moments and while the matrix file is being written, over the
// results of an earlier run: the status file never says success unless the run finished, and
// the matrix file and order.dat are each the earlier complete file or the new complete file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/run_support.h"
#include "support/scratch.h"

namespace drav {
namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;
using testing::write_file;

using testing::Results;

class LargeRun : public ::testing::Test {
 protected:
  testing::TempDir tmp;
  fs::path dir = tmp.path() / "run";

  std::string path(const std::string& name) const { return (dir / name).string(); }
  Results results() const { return testing::results_in(dir); }
  void put(const Results& r) { testing::put_results(dir, r); }
  void model(const std::string& description) {
    ASSERT_TRUE(
        testing::build_model(description, (tmp.path() / "model.txt").string(), dir.string()));
  }
  testing::ChildOptions options() const {
    return {dir.string(), (tmp.path() / "out").string(), (tmp.path() / "err").string()};
  }
};

TEST_F(LargeRun, KilledAtManyMomentsItLeavesEarlierOrNewFilesAndNoSuccess) {
  // The earlier run: a smaller strip, so that both files differ from the new ones.
  model(testing::strip_truss(100, "iter 2\n"));
  write_file(path("AA.UNF"), "");
  ASSERT_EQ(testing::run_child(options()).code, 0);
  const Results earlier = results();

  model(testing::strip_truss(750, "iter 2\nnband 400\n"));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(testing::run_child(options()).code, 0);
  const auto took =
      std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start);
  const Results fresh = results();
  ASSERT_EQ(fresh.aa.size(), 3001u * (8 + 3001 * 8));
  ASSERT_NE(fresh.order, earlier.order);

  // Evenly spaced moments, then three moments inside the matrix file's writing.
  struct Moment {
    microseconds at;
    double matrix_part;  // kill once the new matrix file holds this part (0: at `at` only)
  };
  std::vector<Moment> moments;
  constexpr int kSpaced = 10;
  for (int k = 1; k <= kSpaced; ++k) moments.push_back({took * k / (kSpaced + 1), 0.0});
  for (double part : {0.1, 0.5, 0.9}) moments.push_back({took * 3, part});

  const std::string scratch = path("AA.UNF.drav-new");
  int killed = 0, in_matrix = 0;
  for (const Moment& m : moments) {
    SCOPED_TRACE("kill at " + std::to_string(m.at.count()) + " us, matrix part " +
                 std::to_string(m.matrix_part));
    put(earlier);
    const auto limit = static_cast<uintmax_t>(m.matrix_part * static_cast<double>(fresh.aa.size()));
    const testing::ChildEnd end = testing::run_and_kill(options(), m.at, [&] {
      std::error_code ec;
      return m.matrix_part > 0 && fs::file_size(scratch, ec) >= limit && !ec;
    });
    const Results r = results();
    EXPECT_TRUE(r.aa == earlier.aa || r.aa == fresh.aa);
    EXPECT_TRUE(r.order == earlier.order || r.order == fresh.order);
    if (!end.killed) {
      EXPECT_EQ(end.code, 0);
      EXPECT_EQ(r, fresh);
      continue;
    }
    ++killed;
    if (m.matrix_part > 0) ++in_matrix;
    // A kill before the run has begun its work finds the earlier files untouched; one after
    // its last write, the new ones.
    if (r.status != "          -1\r\n" && r != fresh) {
      EXPECT_EQ(r, earlier);
    }
  }
  EXPECT_GE(killed, kSpaced / 2);
  EXPECT_GT(in_matrix, 0);

  // The next whole run clears what the killed ones left.
  ASSERT_EQ(testing::run_child(options()).code, 0);
  EXPECT_EQ(results(), fresh);
  for (const auto& e : fs::directory_iterator(dir)) {
    EXPECT_EQ(e.path().filename().string().find(".drav-new"), std::string::npos) << e.path();
  }
  RecordProperty("killed", killed);
  RecordProperty("killed_in_matrix_file", in_matrix);
}

}  // namespace
}  // namespace drav
