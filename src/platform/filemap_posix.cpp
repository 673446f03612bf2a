#include "platform/filemap.h"

#include "platform/fileio.h"
#include "platform/fileio_posix.h"

#include <fcntl.h>
#include <sys/mman.h>

namespace platform {

std::uint8_t* MapFileCopyOnWrite(const std::filesystem::path& path, std::uint64_t size) {
  UniqueFd fd(OpenRetrying(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (RegularFileSize(fd.Get()) != size) return nullptr;
  const auto length = static_cast<std::size_t>(size);
  // Populated for reading, so that the pages are shared with the file rather than copied; a write
  // later copies just the page it touches.
  void* block = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.Get(), 0);
  if (block == MAP_FAILED) return nullptr;
  if (::mprotect(block, length, PROT_READ | PROT_WRITE) != 0) {
    ::munmap(block, length);
    return nullptr;
  }
  return static_cast<std::uint8_t*>(block);
}

void UnmapFile(std::uint8_t* block, std::size_t size) {
  if (block) ::munmap(block, size);
}

}  // namespace platform
