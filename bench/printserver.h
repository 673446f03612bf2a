#pragma once

#include "platform/paths.h"
#include "support/run.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

// The benchmarks that print through a private print server: where the tools are, and the server
// started in the run's own folder.
namespace bench {

// The source tree whose tools/ the benchmark uses: `given`, else FWLOAD_SOURCE_DIR, else the
// tree the program was built in (build-*/bin/ two levels below).
inline std::filesystem::path SourceDir(const std::filesystem::path& given = {}) {
  if (!given.empty()) return given;
  if (const char* s = std::getenv("FWLOAD_SOURCE_DIR"); s && *s) return s;
  return platform::ProgramDir().parent_path().parent_path();
}

// Points everything the program writes into `dir`, never the user's own folders, and starts a
// private print server in `dir`/cups (CUPS_SERVER names it from then on). False with a message
// when it does not start.
inline bool StartPrintServer(const std::filesystem::path& sandbox, const std::filesystem::path& dir,
                             const char* name) {
  ::setenv("TMPDIR", dir.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  std::string socket;
  if (testsupport::Run({sandbox.string(), "start", (dir / "cups").string()},
                       {.Captured = &socket}) != 0) {
    std::fprintf(stderr, "%s: the print server does not start\n", name);
    return false;
  }
  while (!socket.empty() && socket.back() == '\n') socket.pop_back();
  ::setenv("CUPS_SERVER", socket.c_str(), 1);
  return true;
}

}  // namespace bench
