#include "platform/filemove.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::optional<FileId> IdOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::error_code RenameNoReplace(const std::filesystem::path& from,
                                const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  const int error = errno;
  if (error != EINVAL && error != ENOSYS) return {error, std::generic_category()};
  // A file system without the no-replace rename: a hard link fails on an existing name too.
  if (::link(from.c_str(), to.c_str()) != 0) return {errno, std::generic_category()};
  if (::unlink(from.c_str()) != 0) {
    const int unlinkError = errno;
    ::unlink(to.c_str());
    return {unlinkError, std::generic_category()};
  }
  return {};
}

}  // namespace platform
