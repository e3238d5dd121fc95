// What only Windows does to the result files: other processes that hold a file open with
// sharing rules of their own, read-only files, and paths with drive letters and backslashes.
#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include "recio/fatal.h"
#include "recio/out_file.h"
#include "recio/textio.h"
#include "support/scratch.h"

namespace drav::recio {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// A reader of another program: the file open with the given sharing, closed at the end.
class Holder {
 public:
  Holder(const std::string& path, DWORD share)
      : h_(::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~Holder() {
    if (view_) ::UnmapViewOfFile(view_);
    if (map_) ::CloseHandle(map_);
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  // Maps the file into memory, as a viewer of large files does: a mapped file cannot be cut.
  bool map() {
    map_ = ::CreateFileMappingA(h_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    view_ = map_ ? ::MapViewOfFile(map_, FILE_MAP_READ, 0, 0, 0) : nullptr;
    return view_ != nullptr;
  }

 private:
  HANDLE h_;
  HANDLE map_ = nullptr;
  void* view_ = nullptr;
};

void put(OutFile& f, const std::string& bytes) {
  ASSERT_TRUE(f.begin().ok());
  ASSERT_TRUE(f.file().write(bytes.data(), bytes.size()).ok());
}

// A reader that lets the file be written but not renamed over: the new content is copied
// into it whole. One that maps it (a mapped file cannot be cut): the copy fails before it
// changes anything, the commit says so and the old file stays. One that forbids writing too:
// the open says so and the old file stays.
TEST(WindowsFiles, AFileHeldOpenByAReaderIsReplacedAsFarAsItsSharingAllows) {
  TempDir t;
  const std::string p = t.file("AA.UNF");
  struct Case {
    const char* what;
    DWORD share;
    bool maps;
    const char* open_error;    // "" when it opens
    const char* commit_error;  // "" when it commits
    const char* after;
  };
  const char* const in_use = "File is in use by another process";
  const Case cases[] = {
      {"shares reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE, false, "", "",
       "new content"},
      {"shares everything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false, "", "",
       "new content"},
      {"maps it", FILE_SHARE_READ | FILE_SHARE_WRITE, true, "",
       "copying into the file that another program holds open: File is in use by another process",
       "old content, longer"},
      {"shares reading only", FILE_SHARE_READ, false, in_use, "", "old content, longer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(p, "old content, longer");
    {
      Holder reader(p, c.share);
      ASSERT_TRUE(reader.ok());
      ASSERT_TRUE(!c.maps || reader.map());
      OutFile f;
      const os::Status st = f.open(p, Missing::Fail, Replace::Whole);
      EXPECT_EQ(st.detail, c.open_error);
      if (st.ok()) {
        put(f, "new content");
        EXPECT_EQ(f.commit().detail, c.commit_error);
      } else {
        EXPECT_EQ(st.kind, os::Status::Kind::InUse);
      }
    }
    EXPECT_EQ(read_file(p), c.after);
    EXPECT_FALSE(fs::exists(scratch_path(p)));
  }
}

// A read-only result file is refused with the words of the other platforms, and kept.
TEST(WindowsFiles, AReadOnlyFileIsNotReplaced) {
  TempDir t;
  const std::string p = t.file("order.dat");
  write_file(p, "old");
  ASSERT_TRUE(::SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(os::renamable_over(p));
  const HANDLE probe = ::CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    ::SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "this user may write read-only files (root under wine)";
  }
  try {
    TextFileOut o(7, p, TextFileOut::Access::Sequential, OpenStatus::Unknown, Replace::Whole);
    o.put("new");
    o.close();
    ADD_FAILURE() << "a read-only file was written";
  } catch (const FatalError& e) {
    EXPECT_EQ(std::string(e.what()), "open failure, unit 7, file " + p + " (Permission denied)");
  }
  ::SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(read_file(p), "old");
  EXPECT_FALSE(fs::exists(scratch_path(p)));
}

// The report file's path as a user of the suite writes it: a drive letter and backslashes,
// forward slashes, or a relative path through a folder.
TEST(WindowsFiles, ReportPathsWithDriveLettersAndBackslashes) {
  TempDir t;
  fs::create_directories(t.path() / "sub");
  std::string back = t.file("sub");
  for (char& ch : back) {
    if (ch == '/') ch = '\\';
  }
  ASSERT_EQ(back[1], ':');
  testing::InDir here(t.path());
  const std::string paths[] = {back + "\\rep.txt", t.file("sub") + "/rep.txt", "sub\\rep.txt",
                               ".\\sub/rep.txt"};
  std::string want;
  for (const std::string& p : paths) {
    SCOPED_TRACE(p);
    TextFileOut o(1, p, TextFileOut::Access::Append, OpenStatus::Unknown);
    o.put(" line " + std::to_string(want.size()));
    o.close();
    want += " line " + std::to_string(want.size()) + "\r\n";
    EXPECT_EQ(read_file((t.path() / "sub" / "rep.txt").string()), want);
  }
  // A drive that does not exist is an open failure naming the path as given.
  try {
    TextFileOut o(1, "Q:\\nowhere\\rep.txt", TextFileOut::Access::Append, OpenStatus::Unknown);
    o.put("x");
    o.close();
    ADD_FAILURE() << "no error";
  } catch (const FatalError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("open failure, unit 1, file Q:\\nowhere\\rep.txt", 0), 0u)
        << e.what();
  }
}

// A name in UTF-8 and one in an 8-bit code page (not UTF-8) are each taken as written, in
// their own encoding: no character is dropped or replaced.
TEST(WindowsFiles, NamesInUtf8AndInAnEightBitCodePage) {
  TempDir t;
  const auto decoded = [](UINT page, const std::string& bytes) {
    std::wstring w(bytes.size(), L'\0');
    w.resize(static_cast<size_t>(::MultiByteToWideChar(page, 0, bytes.data(),
                                                       static_cast<int>(bytes.size()), w.data(),
                                                       static_cast<int>(w.size()))));
    return w;
  };
  const std::string utf8 = "raport-\xc8\x99.txt", ansi = "caf\xe9.dat";
  const std::set<std::wstring> want = {decoded(CP_UTF8, utf8), decoded(CP_ACP, ansi)};
  ASSERT_EQ(decoded(CP_UTF8, utf8), L"raport-\x0219.txt");
  for (const std::string& name : {utf8, ansi}) {
    SCOPED_TRACE(name);
    const std::string p = t.path().string() + "\\" + name;  // the bytes as they are
    os::File f;
    ASSERT_TRUE(f.open_write(p, true, false).ok());
    ASSERT_TRUE(f.write("x", 1).ok());
    ASSERT_TRUE(f.close().ok());
    EXPECT_TRUE(os::exists(p));
    ASSERT_TRUE(f.open_read(p).ok());
    (void)f.close();
  }
  std::set<std::wstring> names;
  for (const auto& e : fs::directory_iterator(t.path()))
    names.insert(e.path().filename().wstring());
  EXPECT_EQ(names, want);
}

}  // namespace
}  // namespace drav::recio

#endif  // _WIN32
