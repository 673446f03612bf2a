#pragma once

#include <filesystem>

// Expansion of files written by the LZ compression tool (the SZDD format).
namespace platform {

enum class LzResult {
  Ok,
  SourceOpen,    // the source cannot be opened, or is not a regular file
  TargetCreate,  // the target cannot be created
  Failed,        // reading, expanding or writing failed, or the size differs from the announced one
};

// Writes the expansion of an SZDD `source` to `target`; any other source is copied byte for byte.
// An expansion that yields another number of bytes than the file announces is a failure. After a
// failure no target is left.
LzResult LzExpand(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace platform
