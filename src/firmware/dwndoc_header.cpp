// The header of a firmware file: its values, its model rows, and removing it from in front of
// the data.
#include "firmware/dwndoc.h"

#include "common/codes.h"
#include "platform/fileio.h"
#include "platform/profile.h"
#include "platform/text.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace {

using platform::OpenRegular;
using platform::UniqueFd;

constexpr char kHeaderSection[] = "FW_DownLoad";
constexpr char kPrintersSection[] = "Printers";
constexpr char kEndOfHeader = 0x1A;
constexpr std::size_t kChunk = 1 << 16;

// The header text of a file: its bytes up to the first 0x1A, or all of them when it has none.
std::optional<std::string> ReadHeaderText(const std::filesystem::path& path) {
  UniqueFd fd(OpenRegular(path));
  if (fd.Get() < 0) return std::nullopt;
  std::string text;
  char buffer[kChunk];
  for (;;) {
    std::size_t n = 0;
    if (!platform::ReadUpTo(fd.Get(), buffer, sizeof buffer, n)) return std::nullopt;
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

// Every two-character sequence backslash, n becomes one carriage return.
std::string ConvertLineBreaks(std::string_view textIn) {
  std::string out;
  out.reserve(textIn.size());
  for (std::size_t i = 0; i < textIn.size(); ++i) {
    if (textIn[i] == '\\' && i + 1 < textIn.size() && textIn[i + 1] == 'n') {
      out += '\r';
      ++i;
    } else {
      out += textIn[i];
    }
  }
  return out;
}

}  // namespace

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

bool TDownDocFile::StripHeader(const std::filesystem::path& path) {
  UniqueFd fd(platform::OpenForRewriting(path));
  const auto size = platform::RegularFileSize(fd.Get());
  if (!size) return false;
  const std::uint64_t start = FindDataStart(fd.Get());
  // Without a 0x1A there is no data. The data moves to the front in place: no second copy of it
  // in memory or on disk.
  return platform::CutFront(fd.Get(), start == 0 ? *size : start, *size);
}

std::uint64_t TDownDocFile::FindDataStart(int fd) {
  char buffer[kChunk];
  std::uint64_t offset = 0;
  for (;;) {
    std::size_t n = 0;
    if (!platform::ReadAt(fd, buffer, sizeof buffer, offset, n) || n == 0) break;
    const auto* mark = static_cast<const char*>(std::memchr(buffer, kEndOfHeader, n));
    if (mark) {
      const std::uint64_t start = offset + static_cast<std::uint64_t>(mark - buffer) + 1;
      platform::SeekTo(fd, start);
      return start;
    }
    offset += n;
  }
  platform::SeekToEnd(fd);
  return 0;
}
