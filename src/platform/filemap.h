#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

// Mapping a whole file into memory instead of reading it.
namespace platform {

// A private mapping of the regular file at `path` (never through a symbolic link), which must be
// exactly `size` bytes long: its pages are shared with the file while they are only read, and a
// write copies just the page it touches, so the file never changes through it. The mapping stays
// valid after the file is deleted. Null when the file is not what was asked or cannot be mapped.
// Freed with UnmapFile.
std::uint8_t* MapFileCopyOnWrite(const std::filesystem::path& path, std::uint64_t size);

// Frees a mapping made by MapFileCopyOnWrite of `size` bytes.
void UnmapFile(std::uint8_t* block, std::size_t size);

}  // namespace platform
