// Opening a plain firmware file: the header reader, the header strip and the data block. Checks
// the block against the input where the rules say what it must be.

#include "firmware/dwndoc.h"
#include "fuzzenv.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& root = fuzzenv::Setup();
  const auto file = root / "fw.FWB";
  fuzzenv::Write(file, data, size);

  TDownDocFile doc(file.string());
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string block =
      doc.FDataSize ? std::string(reinterpret_cast<const char*>(doc.FData.get()), doc.FDataSize)
                    : std::string();
  if (doc.FError != 0) {
    if (doc.FDataSize != 0 || doc.FData) std::abort();
  } else if (!doc.FFormatValid) {
    if (block != input) std::abort();  // unrecognised: the whole file is the data
    if (doc.FEnableCommand != 1 || doc.FReboot != 1 || !doc.FDownLoadPrinter.empty()) std::abort();
  } else if (doc.FDownLoadFile.find(doc.FWorkDir) == 0) {
    // Recognised without data files: the bytes after the first 0x1A, none without one.
    const std::size_t mark = input.find('\x1A');
    const std::string expected = mark == std::string::npos ? std::string() : input.substr(mark + 1);
    if (block != expected) std::abort();
  }
  // Nothing may stay behind in the temporary folder.
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root / "tmp", ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it.depth() > 0) std::abort();
  }
  return 0;
}
