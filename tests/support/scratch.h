// Scratch directories and whole-file reads and writes for the tests and the fuzz replayer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace drav::testing {

// The bytes of a file; "" when it cannot be read.
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Writes `bytes` as the whole file; a file that cannot be written is an error of the test.
inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "drav-test") {
    std::random_device rd;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const uint64_t tag = (uint64_t{rd()} << 32) ^ rd();
      path_ = base / (std::string(prefix) + "-" + std::to_string(tag));
      if (std::filesystem::create_directory(path_)) return;
    }
    throw std::runtime_error("cannot make a scratch directory in " + base.string());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(std::string_view name) const { return (path_ / name).string(); }
  // Writes the file `name` in it whole; returns its path.
  std::string write(std::string_view name, std::string_view bytes) const {
    write_file(path_ / name, bytes);
    return file(name);
  }
  // The bytes of the file `name` in it.
  std::string read(std::string_view name) const { return read_file(path_ / name); }

  // The names of the entries in it.
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      n.push_back(e.path().filename().string());
    return n;
  }
  // Removes everything in it; the directory stays.
  void clear() const {
    for (const auto& n : names()) std::filesystem::remove_all(path_ / n);
  }

 private:
  std::filesystem::path path_;
};

// Changes the working directory for the lifetime of the object.
class InDir {
 public:
  explicit InDir(const std::filesystem::path& p) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(p);
  }
  ~InDir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
  }
  InDir(const InDir&) = delete;
  InDir& operator=(const InDir&) = delete;

 private:
  std::filesystem::path old_;
};

// A scratch directory that is the working directory while the object lives.
class ScratchDir {
 public:
  explicit ScratchDir(std::string_view prefix = "drav-test") : dir_(prefix), in_(dir_.path()) {}
  const std::filesystem::path& path() const { return dir_.path(); }
  std::string file(std::string_view name) const { return dir_.file(name); }

 private:
  TempDir dir_;
  InDir in_;
};

}  // namespace drav::testing
