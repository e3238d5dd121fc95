// Result files replaced whole: at every moment the file is the old one or the new one.
#include "recio/out_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "recio/binrec.h"
#include "recio/fatal.h"
#include "recio/textio.h"
#include "support/scratch.h"

namespace drav::recio {
namespace {

namespace fs = std::filesystem;
using drav::testing::read_file;
using drav::testing::TempDir;
using drav::testing::write_file;

void put(OutFile& f, const std::string& bytes) {
  ASSERT_TRUE(f.begin().ok());
  ASSERT_TRUE(f.file().write(bytes.data(), bytes.size()).ok());
}

TEST(OutFile, TheOldFileStaysUntilTheNewOneIsCommitted) {
  TempDir t;
  const std::string p = t.file("AA.UNF");
  write_file(p, "old content");
  OutFile f;
  ASSERT_TRUE(f.open(p, Missing::Fail, Replace::Whole).ok());
  EXPECT_TRUE(f.replacing());
  put(f, "new");
  EXPECT_EQ(read_file(p), "old content");
  EXPECT_EQ(read_file(scratch_path(p)), "new");
  ASSERT_TRUE(f.commit().ok());
  EXPECT_EQ(read_file(p), "new");
  EXPECT_FALSE(fs::exists(scratch_path(p)));
  EXPECT_FALSE(f.is_open());
}

// What each way of ending leaves: the old file, or the new one, and never a scratch file.
TEST(OutFile, EveryEndLeavesOneWholeFileAndNoScratch) {
  struct Case {
    const char* name;
    Replace how;
    bool write;
    std::function<void(OutFile&)> end;
    const char* left;
  };
  const std::vector<Case> cases = {
      {"whole, committed", Replace::Whole, true, [](OutFile& f) { (void)f.commit(); }, "new"},
      {"whole, abandoned", Replace::Whole, true, [](OutFile& f) { f.abandon(); }, "old"},
      {"whole, destroyed", Replace::Whole, true, [](OutFile&) {}, "old"},
      {"whole, nothing written", Replace::Whole, false, [](OutFile& f) { (void)f.commit(); },
       "old"},
      {"in place, committed", Replace::InPlace, true, [](OutFile& f) { (void)f.commit(); }, "new"},
      {"in place, abandoned", Replace::InPlace, true, [](OutFile& f) { f.abandon(); }, "new"},
      {"in place, nothing written", Replace::InPlace, false, [](OutFile& f) { (void)f.commit(); },
       "old"},
  };
  for (const auto& c : cases) {
    TempDir t;
    const std::string p = t.file("order.dat");
    write_file(p, "old");
    {
      OutFile f;
      ASSERT_TRUE(f.open(p, Missing::Create, c.how).ok()) << c.name;
      if (c.write) put(f, "new");
      c.end(f);
    }
    EXPECT_EQ(read_file(p), c.left) << c.name;
    EXPECT_FALSE(fs::exists(scratch_path(p))) << c.name;
  }
}

// Written in place through write(): the new bytes cover the old ones, which stay beyond them
// until the end cuts them off, whichever way it comes.
TEST(OutFile, WritingInPlaceCoversTheOldBytesAndTheEndCutsTheRest) {
  struct Case {
    const char* name;
    const char* old;
    std::function<void(OutFile&)> end;
    const char* left;
  };
  const std::vector<Case> cases = {
      {"committed, old longer", "old content", [](OutFile& f) { (void)f.commit(); }, "new"},
      {"committed, old shorter", "ol", [](OutFile& f) { (void)f.commit(); }, "new"},
      {"abandoned", "old content", [](OutFile& f) { f.abandon(); }, "new"},
      {"destroyed", "old content", [](OutFile&) {}, "new"},
  };
  for (const auto& c : cases) {
    TempDir t;
    const std::string p = t.file("rig-case1.dat");
    write_file(p, c.old);
    {
      OutFile f;
      ASSERT_TRUE(f.open(p, Missing::Create, Replace::InPlace).ok()) << c.name;
      const std::string_view pieces[] = {"n", "ew"};
      ASSERT_TRUE(f.write(pieces, 2).ok()) << c.name;
      const std::string old(c.old);
      EXPECT_EQ(read_file(p), old.size() > 3 ? "new" + old.substr(3) : "new") << c.name;
      c.end(f);
    }
    EXPECT_EQ(read_file(p), c.left) << c.name;
  }
}

TEST(OutFile, AMissingFileFailsIsCreatedOrAppearsAtCommit) {
  TempDir t;
  const std::string p = t.file("x.dat");
  OutFile f;
  EXPECT_EQ(f.open(p, Missing::Fail, Replace::Whole).kind, os::Status::Kind::NotFound);
  EXPECT_FALSE(fs::exists(p));
  EXPECT_FALSE(fs::exists(scratch_path(p)));

  ASSERT_TRUE(f.open(p, Missing::Create, Replace::Whole).ok());
  EXPECT_EQ(read_file(p), "");  // created by the open, as a unit opened with status unknown
  f.abandon();
  EXPECT_TRUE(fs::exists(p));
  fs::remove(p);

  ASSERT_TRUE(f.open(p, Missing::Later, Replace::Whole).ok());
  put(f, "status");
  EXPECT_FALSE(fs::exists(p));
  ASSERT_TRUE(f.commit().ok());
  EXPECT_EQ(read_file(p), "status");
}

TEST(OutFile, AScratchFileOfAKilledRunIsReplaced) {
  TempDir t;
  const std::string p = t.file("AA.UNF");
  write_file(p, "old");
  write_file(scratch_path(p), "half a matrix from a run that was killed");
  OutFile f;
  ASSERT_TRUE(f.open(p, Missing::Fail, Replace::Whole).ok());
  EXPECT_TRUE(f.replacing());
  put(f, "new");
  ASSERT_TRUE(f.commit().ok());
  EXPECT_EQ(read_file(p), "new");
  EXPECT_FALSE(fs::exists(scratch_path(p)));

  write_file(scratch_path(p), "left again");
  remove_scratch(p);
  EXPECT_FALSE(fs::exists(scratch_path(p)));
  remove_scratch(p);  // none is fine
}

TEST(OutFile, TheNewFileKeepsTheOldPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "no permission bits: the replacement keeps the old file's security descriptor";
#endif
  TempDir t;
  const std::string p = t.file("AA.UNF");
  write_file(p, "old");
  fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  OutFile f;
  ASSERT_TRUE(f.open(p, Missing::Fail, Replace::Whole).ok());
  put(f, "new");
  ASSERT_TRUE(f.commit().ok());
  EXPECT_EQ(fs::status(p).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// A rename would cut a symbolic or hard link, so such a file is rewritten where it is; so is
// one whose directory takes no scratch file (here: its name is taken by a directory).
TEST(OutFile, FilesARenameWouldDamageAreWrittenInPlace) {
  TempDir t;
  const std::string real = t.file("real.UNF"), link = t.file("AA.UNF");
  write_file(real, "old");
  std::error_code no_links;  // Windows may refuse symbolic links to a user without the right
  fs::create_symlink(real, link, no_links);
  if (!no_links) {
    OutFile f;
    ASSERT_TRUE(f.open(link, Missing::Fail, Replace::Whole).ok());
    EXPECT_FALSE(f.replacing());
    put(f, "new");
    ASSERT_TRUE(f.commit().ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(real), "new");
  }

  const std::string second = t.file("order.dat");
  fs::create_hard_link(real, second);
  {
    OutFile f;
    ASSERT_TRUE(f.open(second, Missing::Create, Replace::Whole).ok());
    EXPECT_FALSE(f.replacing());
    put(f, "newer");
    ASSERT_TRUE(f.commit().ok());
  }
  EXPECT_EQ(read_file(real), "newer");
#ifndef _WIN32  // the C runtime of Windows counts one name for every file
  EXPECT_EQ(fs::hard_link_count(real), 2u);
#endif

  const std::string blocked = t.file("drav0.dat");
  write_file(blocked, "old");
  fs::create_directory(scratch_path(blocked));
  {
    OutFile f;
    ASSERT_TRUE(f.open(blocked, Missing::Later, Replace::Whole).ok());
    EXPECT_FALSE(f.replacing());
    put(f, "new");
    ASSERT_TRUE(f.commit().ok());
  }
  EXPECT_EQ(read_file(blocked), "new");
  EXPECT_TRUE(fs::is_directory(scratch_path(blocked)));  // not ours: left alone
}

// The writers of the program on top of it: records written whole, or not at all.
TEST(OutFile, WritersReplaceWholeAndNameTheRealFile) {
  TempDir t;
  const std::string bin = t.file("AA.UNF"), txt = t.file("order.dat");
  write_file(bin, "old matrix");
  write_file(txt, "old order");
  {
    SeqWriter w(3, bin, OpenStatus::Old, Replace::Whole);
    const double row[2] = {1.0, 2.0};
    w.write(row, sizeof row);
    TextFileOut o(7, txt, TextFileOut::Access::Sequential, OpenStatus::Unknown, Replace::Whole);
    o.put("           1           2");
    // Destroyed without close(), as when a fatal report unwinds the run.
  }
  EXPECT_EQ(read_file(bin), "old matrix");
  EXPECT_EQ(read_file(txt), "old order");
  EXPECT_FALSE(fs::exists(scratch_path(bin)));
  EXPECT_FALSE(fs::exists(scratch_path(txt)));
  {
    SeqWriter w(3, bin, OpenStatus::Old, Replace::Whole);
    w.replace_content();  // no records: still replaces the old file
    TextFileOut o(7, txt, TextFileOut::Access::Sequential, OpenStatus::Unknown, Replace::Whole);
    o.put(" ");
    EXPECT_EQ(read_file(txt), "old order");
    w.close();
    o.close();
  }
  EXPECT_EQ(read_file(bin), "");
  EXPECT_EQ(read_file(txt), " \r\n");

  // A scratch file that cannot be renamed over its target (a directory took its name in the
  // meantime): the report names the target, and the scratch file goes.
  try {
    SeqWriter w(3, bin, OpenStatus::Old, Replace::Whole);
    w.write("row", 3);
    fs::remove(bin);
    fs::create_directory(bin);
    w.close();
    ADD_FAILURE() << "renamed over a directory";
  } catch (const FatalError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("error during write, unit 3, file " + bin + " (", 0), 0u)
        << e.what();
  }
  EXPECT_TRUE(fs::is_directory(bin));
  EXPECT_FALSE(fs::exists(scratch_path(bin)));
}

}  // namespace
}  // namespace drav::recio
