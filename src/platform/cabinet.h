#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// Reading cabinet files: a walk over the members in which the caller decides, member by member,
// where each one is extracted to, or that it is skipped.
namespace platform {

struct CabinetMember {
  std::string name;        // UTF-8, separators as stored in the cabinet ("\")
  std::uint32_t size = 0;  // bytes after extraction
  std::uint16_t attributes = 0;
};

class ICabinetVisitor {
 public:
  virtual ~ICabinetVisitor() = default;
  // The cabinet was opened and its members are about to follow. False ends the walk.
  virtual bool CabinetOpened(const std::filesystem::path& cabinet) = 0;
  // Where to write the member, or nullopt to skip it.
  virtual std::optional<std::filesystem::path> FileInCabinet(const CabinetMember& member) = 0;
  // The member was written to `target` (error 0), or failed with `error` and left no file there.
  virtual void FileExtracted(const CabinetMember& member, const std::filesystem::path& target,
                             int error) = 0;
};

// Error codes of the walk besides libmspack's own (MSPACK_ERR_...).
inline constexpr int kCabinetStopped = 1000;       // the visitor ended the walk
inline constexpr int kCabinetSizeMismatch = 1001;  // a member came out with another size

// Walks the cabinet's members in their stored order. Names are code page 932 unless the member
// carries the UTF-8 flag. Returns 0 when the cabinet could be read, whether or not every member
// could be extracted, else a nonzero code (libmspack's error for a file that is no cabinet or
// cannot be read).
int WalkCabinet(const std::filesystem::path& cabinet, ICabinetVisitor& visitor);

}  // namespace platform
