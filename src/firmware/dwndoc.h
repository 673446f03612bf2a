#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Frees a data block: memory of its own, or a private mapping of an unpacked file that only this
// program could reach and that is already deleted (a large block then costs no copy). Blocks made
// with std::make_unique<std::uint8_t[]> convert to it.
struct TDataBlockDeleter {
  std::size_t FMappedSize = 0;  // nonzero: the block is a mapping of this many bytes

  TDataBlockDeleter() = default;
  explicit TDataBlockDeleter(std::size_t mappedSize) : FMappedSize(mappedSize) {}
  TDataBlockDeleter(std::default_delete<std::uint8_t[]>) noexcept {}
  void operator()(std::uint8_t* block) const noexcept;
};
using TDataBlock = std::unique_ptr<std::uint8_t[], TDataBlockDeleter>;

// One opened firmware file: its header values, the models it is meant for, the model-table rows
// it brings and the data block that is sent to the printer. Constructing it opens the file; the
// result is read from FError and FFormatValid. Nothing on disk is touched after construction.
class TDownDocFile {
 public:
  explicit TDownDocFile(const std::string& path = std::string());
  virtual ~TDownDocFile();
  TDownDocFile(const TDownDocFile&) = delete;
  TDownDocFile& operator=(const TDownDocFile&) = delete;

  std::string FFileName;
  std::string FWorkDir;  // the folder that held the header while open, with a trailing "/"
  int FFormatValid = 0;
  std::string FDownLoadDesc;
  std::string FDownLoadVersion;
  int FEnableCommand = 1;
  int FReboot = 1;
  std::string FDownLoadFile;
  std::string FBeginMessage;
  std::string FDoneMessage;
  std::vector<std::string> FDownLoadPrinter;
  std::vector<std::pair<std::string, std::string>> FPrinters;  // name=value, file order
  std::uint16_t FError = 0;
  TDataBlock FData;
  std::uint32_t FDataSize = 0;
  // The data file a recognised header names that is missing, is no regular file or cannot be read
  // whole (FError 17), as the header wrote it, so that the message can name it; or, when a package
  // needs the cabinet tool and it is not installed (FError 17 too), a line naming the tool.
  std::string FErrorFile;

  // The steps of opening, in the order Open takes them.
  bool Open(const std::string& path);
  bool Unpack(const std::filesystem::path& fullPath, const std::filesystem::path& tempName);
  bool ReadHeader(const std::filesystem::path& headerPath);
  bool ReadSectionValues(const std::filesystem::path& iniPath, std::string_view section,
                         std::vector<std::pair<std::string, std::string>>& list,
                         std::string_view defaultValue);
  bool LoadData();
  // Rewrites the file so that it holds only the bytes after its first 0x1A (none when it has no
  // 0x1A).
  bool StripHeader(const std::filesystem::path& path);
  // The offset after the first 0x1A of an open file, positioned there; 0 when there is none.
  std::uint64_t FindDataStart(int fd);
  // The size of a regular file that can be opened for reading; nullopt otherwise.
  std::optional<std::uint64_t> FileSizeOf(const std::filesystem::path& fileName);

 private:
  // The data is the header file itself (not a list of names from the header).
  bool FDataIsHeader = false;
};

namespace firmware {

// Allocates the data block; returns null when it cannot. Tests replace it to see a failure.
using DataAllocator = TDataBlock (*)(std::size_t size);
// Sets the allocator (null: the default); returns the previous one.
DataAllocator SetDataAllocator(DataAllocator allocator);

// The longest header values kept, in code page 932 bytes.
inline constexpr std::size_t kFileFormatLength = 3;
inline constexpr std::size_t kTextLength = 254;
inline constexpr std::size_t kMessageLength = 1023;
// Data files used at most from DownLoadFile.
inline constexpr std::size_t kMaxDataFiles = 32;

}  // namespace firmware
