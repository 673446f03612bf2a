// Opening a plain or compressed firmware file: the expansion, the header reader, the header strip
// and the data block. Checks the block against the input where the rules say what it must be, and
// against the data files when the header names only files the harness laid out.

#include "firmware/dwndoc.h"
#include "fuzzenv.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// Data files two folders above the program's private temporary folder (which holds the unpacked
// file): "../../files/a.bin" names them from there. One is empty; one is larger than a read chunk.
struct DataFile {
  const char* name;
  std::string bytes;
};

const std::vector<DataFile>& DataFiles() {
  static const std::vector<DataFile> files = [] {
    std::string large(70000, 'c');
    for (std::size_t i = 0; i < large.size(); i += 97) large[i] = '\x1A';
    return std::vector<DataFile>{{"a.bin",
                                  "\x1A"
                                  "aaaa"},
                                 {"b.bin", ""},
                                 {"c.bin", large}};
  }();
  return files;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '\\') c = '/';
  }
  return s;
}

// The block a list of data file names must give when each of the first 32 names is one of the
// harness's files, written plainly; nullopt for any other list.
std::optional<std::string> ExpectedData(const std::string& list) {
  std::string out;
  std::size_t used = 0;
  for (std::size_t start = 0; start <= list.size() && used < 32;) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string name = Lower(list.substr(start, comma - start));
    start = comma + 1;
    if (name.empty()) continue;
    ++used;
    const DataFile* match = nullptr;
    for (const auto& file : DataFiles()) {
      if (name == std::string("../../files/") + file.name) match = &file;
    }
    if (!match) return std::nullopt;
    out += match->bytes;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzenv::InputFile input = [] {
    const auto& root = fuzzenv::Setup();
    std::filesystem::create_directories(root / "files");
    for (const auto& file : DataFiles()) {
      fuzzenv::Write(root / "files" / file.name,
                     reinterpret_cast<const std::uint8_t*>(file.bytes.data()), file.bytes.size());
    }
    return fuzzenv::InputFile(root / "in" / "fw.FWB");
  }();
  input.Put(data, size);

  TDownDocFile doc(input.Path().string());
  const std::string block =
      doc.FDataSize ? std::string(reinterpret_cast<const char*>(doc.FData.get()), doc.FDataSize)
                    : std::string();
  const bool szdd = size >= 4 && std::memcmp(data, "SZ", 2) == 0;
  const std::string plain(reinterpret_cast<const char*>(data), size);
  if (doc.FError != 0) {
    if (doc.FDataSize != 0 || doc.FData) std::abort();
  } else if (!doc.FFormatValid) {
    // Unrecognised: the whole (expanded) file is the data.
    if (!szdd && block != plain) std::abort();
    if (doc.FEnableCommand != 1 || doc.FReboot != 1 || !doc.FDownLoadPrinter.empty()) std::abort();
  } else if (doc.FDownLoadFile.find(doc.FWorkDir) == 0) {
    // Recognised without data files: the bytes after the first 0x1A, none without one.
    const std::size_t mark = plain.find('\x1A');
    const std::string expected = mark == std::string::npos ? std::string() : plain.substr(mark + 1);
    if (!szdd && block != expected) std::abort();
  } else if (const auto expected = ExpectedData(doc.FDownLoadFile);
             expected && *expected != block) {
    std::abort();  // the named files, each whole, in list order
  }
  // Files that exist and are named plainly never fail the open.
  if (doc.FError != 0 && doc.FFormatValid && ExpectedData(doc.FDownLoadFile)) std::abort();

  // Nothing may stay behind in the temporary folder.
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(fuzzenv::Root() / "tmp", ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it.depth() > 0) std::abort();
  }
  return 0;
}
