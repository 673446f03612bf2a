// The data block of a firmware file: the data files the header names, read whole into memory or
// mapped.
#include "firmware/dwndoc.h"

#include "common/codes.h"
#include "platform/filemap.h"
#include "platform/fileio.h"
#include "platform/fileops.h"
#include "platform/paths.h"

#include <atomic>
#include <limits>
#include <new>

void TDataBlockDeleter::operator()(std::uint8_t* block) const noexcept {
  if (!block) return;
  if (FMappedSize) {
    platform::UnmapFile(block, FMappedSize);
  } else {
    delete[] block;
  }
}

namespace firmware {

namespace {

TDataBlock AllocateBlock(std::size_t size) {
  // Not zeroed: every byte is read from the files.
  return TDataBlock(new (std::nothrow) std::uint8_t[size]);
}

std::atomic<DataAllocator> dataAllocator{AllocateBlock};

}  // namespace

DataAllocator SetDataAllocator(DataAllocator allocator) {
  return dataAllocator.exchange(allocator ? allocator : AllocateBlock);
}

}  // namespace firmware

namespace {

using platform::OpenRegular;
using platform::UniqueFd;

// Reads exactly `size` bytes; false when the file ends early or cannot be read.
bool ReadExactly(int fd, std::uint8_t* out, std::uint64_t size) {
  std::size_t got = 0;
  return platform::ReadUpTo(fd, out, static_cast<std::size_t>(size), got) && got == size;
}

// Files this large that lie in the program's own temporary folder are mapped rather than read:
// filling fresh memory costs more than the whole unpacking.
constexpr std::uint64_t kMapAtLeast = std::uint64_t{1} << 20;

// True when `path` lies in the program's private temporary folder, where nothing but this program
// can change a file, and which it deletes before the open ends.
bool InPrivateTemp(const std::filesystem::path& path) {
  const std::filesystem::path temp = platform::TempDir();
  if (temp.empty()) return false;
  const std::filesystem::path relative = path.lexically_normal().lexically_relative(temp);
  return !relative.empty() && *relative.begin() != ".." && *relative.begin() != ".";
}

// The file as a block that a write never carries back to it; empty when it cannot be mapped.
TDataBlock MapFile(const std::filesystem::path& path, std::uint64_t size) {
  std::uint8_t* block = platform::MapFileCopyOnWrite(path, size);
  if (!block) return TDataBlock();
  return TDataBlock(block, TDataBlockDeleter(static_cast<std::size_t>(size)));
}

}  // namespace

bool TDownDocFile::LoadData() {
  FDataSize = 0;
  FData.reset();

  std::vector<std::string> names;  // as the header wrote them
  std::vector<std::filesystem::path> paths;
  if (FDataIsHeader) {
    names.push_back(FDownLoadFile);
    paths.emplace_back(FDownLoadFile);
  } else {
    std::size_t start = 0;
    while (start <= FDownLoadFile.size() && names.size() < firmware::kMaxDataFiles) {
      std::size_t comma = FDownLoadFile.find(',', start);
      if (comma == std::string::npos) comma = FDownLoadFile.size();
      if (comma > start) names.push_back(FDownLoadFile.substr(start, comma - start));
      start = comma + 1;
    }
    // Resolved against the work folder, never by changing the process's current folder.
    for (const auto& name : names) paths.push_back(platform::FindNoCase(FWorkDir, name));
  }

  const auto fail = [&](std::uint16_t code, const std::string& name) {
    FError = code;
    FErrorFile = name;
    FData.reset();
    FDataSize = 0;
    return false;
  };

  std::vector<std::optional<std::uint64_t>> sizes;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    sizes.push_back(FileSizeOf(paths[i]));
    if (!sizes.back()) {
      // A recognised header promises its data whole.
      if (FFormatValid) return fail(rc::kFileOpen, names[i]);
      continue;
    }
    total += *sizes.back();
    if (total > std::numeric_limits<std::uint32_t>::max()) return fail(rc::kFileOpen, names[i]);
  }

  // One large unpacked file becomes the block as it is.
  std::size_t present = 0;
  for (const auto& size : sizes) present += size ? 1 : 0;
  if (present == 1 && total >= kMapAtLeast) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (!sizes[i] || !InPrivateTemp(paths[i])) continue;
      TDataBlock mapped = MapFile(paths[i], total);
      if (mapped) {
        FData = std::move(mapped);
        FDataSize = static_cast<std::uint32_t>(total);
        return true;
      }
    }
  }

  TDataBlock block;
  if (total > 0) {
    block = firmware::dataAllocator.load()(static_cast<std::size_t>(total));
    if (!block) return fail(rc::kTempFile, std::string());
  }

  std::uint64_t offset = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (!sizes[i] || *sizes[i] == 0) continue;
    UniqueFd fd(OpenRegular(paths[i]));
    // Exactly the size taken before: a file that changed meanwhile is not what was counted.
    if (fd.Get() < 0 || !ReadExactly(fd.Get(), block.get() + offset, *sizes[i])) {
      return fail(rc::kFileOpen, names[i]);
    }
    offset += *sizes[i];
  }
  FData = std::move(block);
  FDataSize = static_cast<std::uint32_t>(total);
  return true;
}

std::optional<std::uint64_t> TDownDocFile::FileSizeOf(const std::filesystem::path& fileName) {
  std::uint64_t size = 0;
  UniqueFd fd(OpenRegular(fileName, &size));
  if (fd.Get() < 0) return std::nullopt;
  return size;
}
