// The download stream: the printer's download command around the firmware data.
#include "download/printthread.h"

#include "firmware/dwndoc.h"
#include "platform/fileio.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

using platform::WriteAll;

// Job-language entry and the switch into the download mode; the printer expects it unchanged.
// clang-format off
constexpr std::array<std::uint8_t, 52> kPrefix = {
    0x1B, 0x01, '@', 'E', 'J', 'L', 0x0D, 0x0A,
    '@', 'E', 'J', 'L', ' ', 'S', 'E', ' ', 'L', 'A', ' ', '=', ' ', 'E', 'S', 'C', '/', 'P',
    0x0D, 0x0A,
    '@', 'E', 'J', 'L', ' ', 'E', 'N', ' ', 'L', 'A', ' ', '=', ' ', 'E', 'S', 'C', '/', 'P',
    0x0D, 0x0A,
    0x1B, 'z', 0xD0, 0x81};
// clang-format on
constexpr std::size_t kSizeRecordLength = 13;  // "Uf" eight digits ",0*"
constexpr std::size_t kTrailerLength = 7;      // "Ug,1," memory byte "*"
constexpr std::size_t kTrailerMemoryByte = 5;

DownloadFileResult Failed(std::uint16_t code) { return DownloadFileResult{0, code}; }

}  // namespace

DownloadFileResult TPrintThread::MakeDownloadFile(const std::filesystem::path& fileName,
                                                  const TDownDocFile* doc, int wrap,
                                                  int initMemory) {
  if (fileName.empty() || doc == nullptr) return Failed(rc::kTempFile);

  const bool command = wrap != 0 && doc->FEnableCommand != 0;
  const bool trailer = wrap != 0 && doc->FReboot != 0;
  const std::uint64_t dataSize = doc->FDataSize;
  if (dataSize > 0 && !doc->FData) return Failed(rc::kTempFile);
  // Refused before the file is touched, so nothing of it can ever reach a printer.
  if (command && dataSize >= kMaxCommandDataSize) return Failed(rc::kTooLarge);

  const std::uint64_t expected = dataSize + (command ? kPrefix.size() + kSizeRecordLength : 0) +
                                 (trailer ? kTrailerLength : 0);
  // An empty file would send nothing at all: treated as a failure.
  if (expected == 0) return Failed(rc::kTempFile);

  // The file exists already (made empty and private by the caller); it is neither created nor
  // truncated here, so a file that held something before fails the size check below.
  platform::UniqueFd file(platform::OpenForWriting(fileName));
  const int fd = file.Get();
  if (fd < 0) return Failed(rc::kTempFile);

  bool ok = true;
  if (command) {
    std::array<std::uint8_t, kPrefix.size() + kSizeRecordLength> head{};
    std::copy(kPrefix.begin(), kPrefix.end(), head.begin());
    char record[kSizeRecordLength + 1];
    std::snprintf(record, sizeof record, "Uf%08u,0*", static_cast<unsigned>(dataSize));
    std::memcpy(head.data() + kPrefix.size(), record, kSizeRecordLength);
    ok = WriteAll(fd, head.data(), head.size());
  }
  if (ok && dataSize > 0) ok = WriteAll(fd, doc->FData.get(), static_cast<std::size_t>(dataSize));
  if (ok && trailer) {
    std::array<std::uint8_t, kTrailerLength> tail = {'U', 'g', ',', '1', ',', '0', '*'};
    tail[kTrailerMemoryByte] = initMemory != 0 ? '1' : '0';
    ok = WriteAll(fd, tail.data(), tail.size());
  }

  if (ok) ok = platform::RegularFileSize(fd) == expected;
  if (!file.Close()) ok = false;
  if (!ok) return Failed(rc::kTempFile);
  return DownloadFileResult{static_cast<std::int64_t>(expected), rc::kSuccess};
}
