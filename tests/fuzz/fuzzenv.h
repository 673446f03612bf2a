#pragma once

// A private temporary folder and home for a fuzz target, removed at exit.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
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
  Root() = tmpl;
  for (const char* dir : {"tmp", "data", "config"})
    std::filesystem::create_directories(Root() / dir);
  ::setenv("TMPDIR", (Root() / "tmp").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (Root() / "data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (Root() / "config").c_str(), 1);
  std::atexit(RemoveRoot);
  return Root();
}

inline void Write(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace fuzzenv
