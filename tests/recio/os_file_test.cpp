// The file seam: what every platform implementation must do alike.
#include "recio/os_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/scratch.h"

namespace drav::recio::os {
namespace {

namespace fs = std::filesystem;
using Kind = Status::Kind;
using drav::testing::TempDir;

std::string slurp(const std::string& p) {
  return drav::testing::read_file(p);
}

void spill(const std::string& p, const std::string& bytes) {
  drav::testing::write_file(p, bytes);
}

TEST(OsFile, OpenFailuresAreTold) {
  TempDir t;
  File f;
  EXPECT_EQ(f.open_read(t.file("missing")).kind, Kind::NotFound);
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(f.open_write(t.file("missing"), /*create=*/false, false).kind, Kind::NotFound);
  EXPECT_FALSE(fs::exists(t.file("missing")));
  EXPECT_EQ(f.open_write(t.file("no/dir/x"), /*create=*/true, false).kind, Kind::NotFound);
  fs::create_directory(t.file("sub"));
  EXPECT_EQ(f.open_read(t.file("sub")).kind, Kind::IsDirectory);
  const Status w = f.open_write(t.file("sub"), true, false);
  EXPECT_FALSE(w.ok());
  EXPECT_FALSE(w.detail.empty());
}

// Text files are bytes: no CR LF translation, and 0x1A is not the end of the file.
TEST(OsFile, BytesPassUnchanged) {
  TempDir t;
  const std::string bytes(
      "a\r\nb\nc\r\r\n\x1a"
      "d\0e",
      13);
  const std::string p = t.file("b.dat");
  {
    File f;
    ASSERT_TRUE(f.open_write(p, true, false).ok());
    EXPECT_TRUE(f.is_regular());
    ASSERT_TRUE(f.write(bytes.data(), bytes.size()).ok());
    ASSERT_TRUE(f.close().ok());
  }
  EXPECT_EQ(slurp(p), bytes);
  File f;
  ASSERT_TRUE(f.open_read(p).ok());
  int64_t size = 0;
  ASSERT_TRUE(f.size(size).ok());
  EXPECT_EQ(size, 13);
  std::string back(20, '?');
  size_t got = 0;
  ASSERT_TRUE(f.read(back.data(), back.size(), got).ok());
  EXPECT_EQ(back.substr(0, got), bytes);
  ASSERT_TRUE(f.read(back.data(), back.size(), got).ok());
  EXPECT_EQ(got, 0u);  // end of file
  ASSERT_TRUE(f.read_at(11, back.data(), 5, got).ok());
  EXPECT_EQ(got, 2u);  // short only at the end
  EXPECT_EQ(back.substr(0, 2), std::string("\0e", 2));
}

TEST(OsFile, WriteKeepsContentUntilTruncatedAndAppendGoesToTheEnd) {
  TempDir t;
  const std::string p = t.file("w.dat");
  spill(p, "old content");
  {
    File f;
    ASSERT_TRUE(f.open_write(p, false, false).ok());
    ASSERT_TRUE(f.close().ok());
  }
  EXPECT_EQ(slurp(p), "old content");
  {
    File f;
    ASSERT_TRUE(f.open_write(p, false, false).ok());
    ASSERT_TRUE(f.write("NEW", 3).ok());  // over the start, the rest stays
    ASSERT_TRUE(f.close().ok());
  }
  EXPECT_EQ(slurp(p), "NEW content");
  {
    File f;
    ASSERT_TRUE(f.open_write(p, false, false).ok());
    ASSERT_TRUE(f.truncate(0).ok());
    ASSERT_TRUE(f.write("x", 1).ok());
    ASSERT_TRUE(f.sync().ok());
    ASSERT_TRUE(f.close().ok());
  }
  EXPECT_EQ(slurp(p), "x");
  {
    File f;
    ASSERT_TRUE(f.open_write(p, false, /*append=*/true).ok());
    // Read access comes with it, so the last byte can be looked at.
    char last = 0;
    size_t got = 0;
    ASSERT_TRUE(f.read_at(0, &last, 1, got).ok());
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(last, 'x');
    ASSERT_TRUE(f.write("yz", 2).ok());
    ASSERT_TRUE(f.close().ok());
  }
  EXPECT_EQ(slurp(p), "xyz");
}

TEST(OsFile, OffsetsBeyondFourGigabytes) {
  TempDir t;
  const std::string p = t.file("big.dat");
  const int64_t off = (int64_t{5} << 30) + 3;
  File f;
  ASSERT_TRUE(f.open_write(p, true, false).ok());
  if (!f.write_at(off, "end", 3).ok()) GTEST_SKIP() << "the file system takes no 5 GiB file";
  int64_t size = 0;
  ASSERT_TRUE(f.size(size).ok());
  EXPECT_EQ(size, off + 3);
  char back[3] = {};
  size_t got = 0;
  ASSERT_TRUE(f.read_at(off, back, 3, got).ok());
  EXPECT_EQ(std::string(back, got), "end");
  ASSERT_TRUE(f.truncate(0).ok());
  ASSERT_TRUE(f.close().ok());
}

TEST(OsFile, CreateNewRenameOverAndRemove) {
  TempDir t;
  const std::string tmp = t.file("AA.UNF.new"), dst = t.file("AA.UNF");
  spill(dst, "earlier result");
  {
    File f;
    ASSERT_TRUE(f.create_new(tmp).ok());
    ASSERT_TRUE(f.write("new result", 10).ok());
    ASSERT_TRUE(f.close().ok());
    File again;
    EXPECT_FALSE(again.create_new(tmp).ok());  // it exists now
  }
  EXPECT_EQ(slurp(dst), "earlier result");
  ASSERT_TRUE(rename_over(tmp, dst).ok());
  EXPECT_EQ(slurp(dst), "new result");
  EXPECT_FALSE(exists(tmp));
  EXPECT_TRUE(sync_directory_of(dst).ok());
  EXPECT_EQ(rename_over(tmp, dst).kind, Kind::NotFound);
  ASSERT_TRUE(remove_file(dst).ok());
  EXPECT_FALSE(exists(dst));
  EXPECT_EQ(remove_file(dst).kind, Kind::NotFound);
  EXPECT_TRUE(exists(t.file("")));
  EXPECT_GT(process_id(), 0);
}

}  // namespace
}  // namespace drav::recio::os
