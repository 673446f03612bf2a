#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

// File operations the firmware files need beyond plain reading and writing.
namespace platform {

// Removes a file, or a directory with everything in it, silently; links are removed, never
// followed. True when something was there and nothing is left.
bool DeleteTree(const std::filesystem::path& path);

// Copies a regular file over `to`, replacing what is there, silently. True when copied.
bool CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to);

// The parts of a name from a package or a header, where "\" and "/" both separate parts; empty
// and "." parts are left out.
std::vector<std::string_view> NameParts(std::string_view name);

// Finds a name from a package or a header below `base` the way the files were named where they
// were made: "\" and "/" both separate parts, and each part takes the spelling of an existing
// entry that equals it without regard to ASCII letter case (its own spelling first). Parts that
// exist in no spelling are kept as written. A name that begins with a separator starts at the
// root instead of `base`.
std::filesystem::path FindNoCase(const std::filesystem::path& base, std::string_view name);

// The entry of `dir` whose name equals `name` without regard to ASCII letter case (its own
// spelling first); empty when there is none.
std::filesystem::path FindEntryNoCase(const std::filesystem::path& dir, std::string_view name);

}  // namespace platform
