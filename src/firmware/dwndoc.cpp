#include "firmware/dwndoc.h"

#include "app/codes.h"
#include "app/strings.h"
#include "firmware/packages.h"
#include "platform/fileio.h"
#include "platform/fileops.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "printers/funcs.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>
#include <unordered_set>

void TDataBlockDeleter::operator()(std::uint8_t* block) const noexcept {
  if (!block) return;
  if (FMappedSize) {
    ::munmap(block, FMappedSize);
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

constexpr char kHeaderSection[] = "FW_DownLoad";
constexpr char kPrintersSection[] = "Printers";
constexpr char kEndOfHeader = 0x1A;
// Followed by the name of the cabinet tool that is missing.
constexpr int kMsgCabinetToolMissing = 4362;
constexpr std::size_t kChunk = 1 << 16;

ssize_t ReadSome(int fd, void* buffer, std::size_t size, std::uint64_t* offset = nullptr) {
  for (;;) {
    const ssize_t n =
        offset ? ::pread(fd, buffer, size, static_cast<off_t>(*offset)) : ::read(fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

// Reads exactly `size` bytes; false when the file ends early or cannot be read.
bool ReadExactly(int fd, std::uint8_t* out, std::uint64_t size) {
  std::size_t got = 0;
  return platform::ReadUpTo(fd, out, static_cast<std::size_t>(size), got) && got == size;
}

bool WriteAllAt(int fd, const char* data, std::size_t size, std::uint64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
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

// A private, writable-on-copy mapping of exactly `size` bytes of the file; empty when it cannot be
// had. The mapping outlives the file's deletion.
TDataBlock MapFile(const std::filesystem::path& path, std::uint64_t size) {
  struct stat st {};
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) != size) {
    return TDataBlock();
  }
  // Populated for reading, so that the pages are shared with the file rather than copied; a write
  // later copies just the page it touches.
  void* block = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ,
                       MAP_PRIVATE | MAP_POPULATE, fd.Get(), 0);
  if (block == MAP_FAILED) return TDataBlock();
  if (::mprotect(block, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE) != 0) {
    ::munmap(block, static_cast<std::size_t>(size));
    return TDataBlock();
  }
  return TDataBlock(static_cast<std::uint8_t*>(block),
                    TDataBlockDeleter(static_cast<std::size_t>(size)));
}

// The header text of a file: its bytes up to the first 0x1A, or all of them when it has none.
std::optional<std::string> ReadHeaderText(const std::filesystem::path& path) {
  UniqueFd fd(OpenRegular(path));
  if (fd.Get() < 0) return std::nullopt;
  std::string text;
  char buffer[kChunk];
  for (;;) {
    const ssize_t n = ReadSome(fd.Get(), buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    const auto* end = static_cast<const char*>(std::memchr(buffer, kEndOfHeader, n));
    if (end) {
      text.append(buffer, static_cast<std::size_t>(end - buffer));
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// Icon files beside the header go to the data folder, where the printer list finds them; an icon
// of the same name in another letter case is replaced rather than doubled.
void CopyIcons(const std::filesystem::path& workDir) {
  const std::filesystem::path dataDir = platform::DataDir();
  std::error_code ec;
  bool madeDir = false;
  for (auto it = std::filesystem::directory_iterator(workDir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 4 ||
        !text::EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".ico"))
      continue;
    std::error_code statusError;
    if (!std::filesystem::is_regular_file(it->symlink_status(statusError))) continue;
    if (!madeDir) {
      std::error_code dirError;
      std::filesystem::create_directories(dataDir, dirError);
      madeDir = true;
    }
    std::filesystem::path target = platform::FindEntryNoCase(dataDir, name);
    if (target.empty()) target = dataDir / name;
    platform::CopyFileOver(it->path(), target);
  }
}

}  // namespace

TDownDocFile::TDownDocFile(const std::string& path) : FFileName(path) {
  if (!path.empty()) Open(path);
}

TDownDocFile::~TDownDocFile() = default;

bool TDownDocFile::Open(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  if (path.empty() || ec) {
    FError = rc::kFileOpen;
    return false;
  }
  // Only a regular file is a firmware file: a FIFO or a device would hold the program (or feed it
  // without end), a folder has nothing to unpack.
  struct stat st {};
  if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    FError = rc::kFileOpen;
    return false;
  }
  const auto tempName = MakeTempFileName("dwn");
  if (!tempName) {
    FError = rc::kTempFile;
    return false;
  }
  // The name is reserved; the expansion or the extraction folder takes its place.
  DeleteTemp(*tempName);
  if (!Unpack(full, *tempName)) {
    if (FError == 0) FError = rc::kTempFile;
    DeleteTemp(*tempName);
    return false;
  }
  const bool loaded = LoadData();
  // A file that failed to open leaves nothing behind, its icons included.
  if (loaded) CopyIcons(FWorkDir);
  DeleteTemp(*tempName);
  return loaded;
}

bool TDownDocFile::Unpack(const std::filesystem::path& fullPath,
                          const std::filesystem::path& tempName) {
  const std::string name = fullPath.filename().string();
  const std::size_t dot = name.rfind('.');
  const std::string extension =
      dot == std::string::npos ? std::string() : text::ToUpperAscii(name.substr(dot));

  std::filesystem::path headerPath;
  bool unpacked = false;
  if (extension == ".FWV") {
    if (!ExtractCabinet(fullPath, tempName)) {
      // Name the program to install, rather than take the package for an unknown file.
      FError = rc::kFileOpen;
      FErrorFile = std::string(strings::Load(kMsgCabinetToolMissing)) + CabinetTool().Program;
      return false;
    }
    // Found whatever its letter case in the package.
    headerPath = platform::FindEntryNoCase(tempName, "HEADER.FWB");
    if (headerPath.empty()) headerPath = tempName / "HEADER.FWB";
    unpacked = true;
  } else {
    unpacked = ExpandFile(fullPath, tempName, FError);
    if (!unpacked) FError = rc::kTempFile;
    headerPath = tempName;
  }
  FWorkDir = headerPath.parent_path().string() + "/";
  if (!unpacked) return false;
  return ReadHeader(headerPath);
}

bool TDownDocFile::ReadHeader(const std::filesystem::path& headerPath) {
  FFormatValid = 0;
  FDownLoadDesc.clear();
  FDownLoadVersion.clear();
  FDownLoadFile.clear();
  FBeginMessage.clear();
  FDoneMessage.clear();
  FEnableCommand = 1;
  FReboot = 1;
  FDownLoadPrinter.clear();
  FPrinters.clear();
  FDataIsHeader = false;

  // Of two equal keys the first counts, as of two equal sections.
  std::unordered_map<std::string, std::string> values;
  const std::string header = ReadHeaderText(headerPath).value_or(std::string());
  platform::ForEachIniEntry(
      header, platform::Quotes::DoubleOrSingle,
      [&](std::string_view section, bool first, std::string_view key, std::string value) {
        if (first && text::EqualsNoCase(section, kHeaderSection)) {
          values.try_emplace(text::ToLowerAscii(key), std::move(value));
        }
      });
  const auto raw = [&](const char* key) -> const std::string* {
    const auto it = values.find(text::ToLowerAscii(key));
    return it == values.end() ? nullptr : &it->second;
  };
  const auto textValue = [&](const char* key, const char* defaultValue, std::size_t limit) {
    const std::string* value = raw(key);
    const std::string decoded = value ? text::DecodeCp932(*value) : std::string(defaultValue);
    return limit ? text::CutCp932(decoded, limit) : decoded;
  };
  const auto integerValue = [&](const char* key) {
    const std::string* value = raw(key);
    return value ? text::LeadingInteger(*value) : 1;
  };

  const std::string format = textValue("FileFormat", "?", firmware::kFileFormatLength);
  if (!text::EqualsNoCase(format, "FWB")) {
    // Not a firmware header: the whole unpacked file is the data.
    FDownLoadFile = headerPath.string();
    FDataIsHeader = true;
    return true;
  }

  FDownLoadDesc = textValue("DownLoadDesc", "", firmware::kTextLength);
  FDownLoadVersion = textValue("DownLoadVersion", "", firmware::kTextLength);
  FEnableCommand = integerValue("EnableCommand");
  FReboot = integerValue("Reboot");
  // A list of paths: cutting it would name other files.
  FDownLoadFile = textValue("DownLoadFile", "", 0);

  const std::string printers = textValue("DownLoadPrinter", "", firmware::kTextLength);
  std::size_t start = 0;
  while (start <= printers.size()) {
    std::size_t end = printers.find_first_of("\",", start);
    if (end == std::string::npos) end = printers.size();
    if (end > start) FDownLoadPrinter.push_back(printers.substr(start, end - start));
    start = end + 1;
  }

  FBeginMessage = ConvertLineBreaks(textValue("BeginMessage", "", firmware::kMessageLength));
  FDoneMessage = ConvertLineBreaks(textValue("DoneMessage", "", firmware::kMessageLength));
  ReadSectionValues(headerPath, kPrintersSection, FPrinters, "0");
  FFormatValid = 1;

  if (FDownLoadFile.empty()) {
    FDownLoadFile = headerPath.string();
    FDataIsHeader = true;
    // A header left in front of the data would reach the printer as firmware.
    if (!StripHeader(headerPath)) {
      FError = rc::kTempFile;
      return false;
    }
  }
  return true;
}

bool TDownDocFile::ReadSectionValues(const std::filesystem::path& iniPath, std::string_view section,
                                     std::vector<std::pair<std::string, std::string>>& list,
                                     std::string_view defaultValue) {
  list.clear();
  const auto header = ReadHeaderText(iniPath);
  if (!header) return false;
  std::unordered_set<std::string> seen;
  platform::ForEachIniEntry(
      *header, platform::Quotes::DoubleOrSingle,
      [&](std::string_view name, bool first, std::string_view key, std::string value) {
        if (!first || !text::EqualsNoCase(name, section)) return;
        // A key met again reads the first one's value, so it changes nothing.
        if (!seen.insert(text::ToLowerAscii(key)).second) return;
        // Every listed key can be read here, so the default value never stands in.
        std::string decoded = text::DecodeCp932(value);
        if (decoded.empty()) return;
        list.emplace_back(text::DecodeCp932(key), std::move(decoded));
      });
  (void)defaultValue;
  return true;
}

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

bool TDownDocFile::StripHeader(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t start = FindDataStart(fd.Get());
  // Without a 0x1A there is no data.
  if (start == 0) return ::ftruncate(fd.Get(), 0) == 0;

  // The data moves to the front in place: no second copy of it in memory or on disk.
  const std::size_t chunk = 1 << 20;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[chunk]);
  if (!buffer) return false;
  for (std::uint64_t from = start; from < size;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, size - from));
    std::uint64_t at = from;
    const ssize_t n = ReadSome(fd.Get(), buffer.get(), want, &at);
    if (n <= 0) return false;
    if (!WriteAllAt(fd.Get(), buffer.get(), static_cast<std::size_t>(n), from - start))
      return false;
    from += static_cast<std::uint64_t>(n);
  }
  return ::ftruncate(fd.Get(), static_cast<off_t>(size - start)) == 0;
}

std::uint64_t TDownDocFile::FindDataStart(int fd) {
  char buffer[kChunk];
  std::uint64_t offset = 0;
  for (;;) {
    std::uint64_t at = offset;
    const ssize_t n = ReadSome(fd, buffer, sizeof buffer, &at);
    if (n <= 0) break;
    const auto* mark = static_cast<const char*>(std::memchr(buffer, kEndOfHeader, n));
    if (mark) {
      const std::uint64_t start = offset + static_cast<std::uint64_t>(mark - buffer) + 1;
      ::lseek(fd, static_cast<off_t>(start), SEEK_SET);
      return start;
    }
    offset += static_cast<std::uint64_t>(n);
  }
  ::lseek(fd, 0, SEEK_END);
  return 0;
}

std::optional<std::uint64_t> TDownDocFile::FileSizeOf(const std::filesystem::path& fileName) {
  std::uint64_t size = 0;
  UniqueFd fd(OpenRegular(fileName, &size));
  if (fd.Get() < 0) return std::nullopt;
  return size;
}
