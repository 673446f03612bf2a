#include "platform/tempfiles.h"

#include "platform/paths.h"

#include <unistd.h>

#include <string>

std::optional<std::filesystem::path> MakeTempFileName(std::string_view prefix,
                                                      const std::filesystem::path& dir) {
  const std::filesystem::path folder = dir.empty() ? platform::TempDir() : dir;
  if (folder.empty()) return std::nullopt;
  std::string name = (folder / (std::string(prefix) + "XXXXXX")).string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return std::nullopt;
  ::close(fd);
  return std::filesystem::path(name);
}
