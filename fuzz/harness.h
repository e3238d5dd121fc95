// Shared pieces of the fuzz targets: a scratch directory of the process, files written into
// it, and the splitting of one input into the several files a target needs.
//
// Every target defines LLVMFuzzerTestOneInput. A fatal report (recio::FatalError, or the
// builder's DescriptionError) is the expected answer to bad input and is caught there;
// anything else that escapes, a crash or a sanitizer report is a fault. Checks of the
// targets' own end in abort() through FUZZ_CHECK, so that both the fuzzer and the corpus
// replayer stop on them.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recio/fatal.h"
#include "recio/listin.h"
#include "recio/textio.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

namespace drav::fuzz {

// A directory of its own for this process, removed with its files at a normal exit.
class ScratchDir {
 public:
  static ScratchDir& get() {
    static ScratchDir d;
    return d;
  }
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  // The names of the files in it.
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    DIR* d = ::opendir(path_.c_str());
    if (d == nullptr) return names;
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    return names;
  }

  // Removes every file the last input left (the programs write only plain files).
  void clear() const {
    for (const auto& n : names()) ::unlink(file(n).c_str());
  }

 private:
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/drav-fuzz-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = buf.data();
  }
  ~ScratchDir() {
    clear();
    ::rmdir(path_.c_str());
  }
  std::string path_;
};

// Works in `path` for the lifetime of the object.
class InDir {
 public:
  explicit InDir(const std::string& path) : old_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    FUZZ_CHECK(old_ >= 0 && ::chdir(path.c_str()) == 0);
  }
  ~InDir() {
    FUZZ_CHECK(::fchdir(old_) == 0);
    ::close(old_);
  }
  InDir(const InDir&) = delete;
  InDir& operator=(const InDir&) = delete;

 private:
  int old_;
};

inline void write_bytes(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  FUZZ_CHECK(std::fclose(f) == 0);
}

// The parts of an input separated by kSeparator; at most `max_parts` (the last takes the rest).
inline constexpr std::string_view kSeparator = "\n@@@@\n";
inline std::vector<std::string_view> split_parts(std::string_view in, size_t max_parts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    const size_t at = in.find(kSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(in.substr(0, at));
    in.remove_prefix(at + kSeparator.size());
  }
  parts.push_back(in);
  return parts;
}

// The model sizes of the first statement of a COMZOR.DAT (NNODE NBLK NSPR NUMEL NDOFN NEMAX
// NBAND), read with the program's own reader; nothing when that statement does not read.
struct Sizes {
  int32_t NNODE = 0, NBLK = 0, NSPR = 0, NUMEL = 0, NDOFN = 0, NEMAX = 0, NBAND = 0;
};
inline std::optional<Sizes> peek_sizes(const std::string& path) {
  Sizes s;
  try {
    recio::TextFileIn in(2, path);
    recio::ListRead r(in);
    for (int32_t* f : {&s.NNODE, &s.NBLK, &s.NSPR, &s.NUMEL, &s.NDOFN, &s.NEMAX, &s.NBAND}) {
      r.item(*f);
    }
  } catch (const recio::FatalError&) {
    return std::nullopt;
  }
  return s;
}

inline int64_t nonneg(int32_t v) {
  return v > 0 ? v : 0;
}

// True when a message starts with the condition text of a fatal report.
inline bool reports(const recio::FatalError& e, std::string_view condition) {
  return std::string_view(e.what()).substr(0, condition.size()) == condition;
}

}  // namespace drav::fuzz
