#pragma once

// A private temporary folder and home for a fuzz target, removed at exit.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzenv {

inline std::filesystem::path& Root() {
  static std::filesystem::path root;
  return root;
}

inline void RemoveRoot() {
  std::error_code ec;
  if (!Root().empty()) std::filesystem::remove_all(Root(), ec);
}

// Makes the folder inside $TMPDIR (run.sh points that at a folder of its own in memory, which it
// removes afterwards, as libFuzzer does not always end through exit), points TMPDIR and the XDG
// folders into it, and returns it.
inline const std::filesystem::path& Setup() {
  if (!Root().empty()) return Root();
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/fwload-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl.data())) std::abort();
  Root() = std::filesystem::path(tmpl).lexically_normal();
  for (const char* dir : {"tmp", "data", "config"})
    std::filesystem::create_directories(Root() / dir);
  ::setenv("TMPDIR", (Root() / "tmp").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (Root() / "data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (Root() / "config").c_str(), 1);
  std::atexit(RemoveRoot);
  return Root();
}

// A file that receives every input in turn: opened once and rewritten in place, which saves the
// opening, truncating and closing that a fresh file costs per input.
class InputFile {
 public:
  explicit InputFile(std::filesystem::path path) : path_(std::move(path)) {
    std::filesystem::create_directories(path_.parent_path());
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) std::abort();
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { ::close(fd_); }

  void Put(const std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) std::abort();
  }

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

inline void Write(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace fuzzenv
