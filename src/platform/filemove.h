#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

// Moving a file out of the way without ever replacing another.
namespace platform {

// What tells one file from another across renames (device and inode here).
struct FileId {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  bool operator==(const FileId&) const = default;
};

// The file at `path` (links followed); none when there is no file.
std::optional<FileId> IdOf(const std::filesystem::path& path);

// Renames `from` to `to` in one step, failing with std::errc::file_exists when `to` exists.
std::error_code RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace platform
