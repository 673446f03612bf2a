#pragma once

#include <cstdint>
#include <filesystem>

#include "app/codes.h"

class TDownDocFile;

// What building the download file gave: the finished file's size in bytes (0 = no usable file)
// and the result code the transfer ends with when no file was made: 18 when it could not be
// built, 36 when the download command cannot describe the data size.
struct DownloadFileResult {
  std::int64_t Size = 0;
  std::uint16_t Code = rc::kTempFile;

  bool Ok() const { return Size > 0; }
};

// The worker that performs one download.
class TPrintThread {
 public:
  // Data blocks of this size or more do not fit the eight digits of the size record.
  static constexpr std::uint64_t kMaxCommandDataSize = 100'000'000;

  // Writes the bytes the printer is to receive into the existing, empty file `fileName`: the
  // document's data, wrapped in the download command where `wrap` (the wrap switch) and the
  // document's switches ask for it; `initMemory` chooses the trailer's memory byte. The file
  // holds exactly the returned size or the result reports a failure.
  static DownloadFileResult MakeDownloadFile(const std::filesystem::path& fileName,
                                             const TDownDocFile* doc, int wrap, int initMemory);
};
