#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Private-profile (INI) files: the settings file, the firmware headers, the download log.
//
// Rules: section and key names compare without regard to ASCII letter case; of two equal
// sections or keys the first counts and receives writes; values are trimmed and lose one pair of
// enclosing quotes; lines beginning with ";" or "#" are comments; lines without "=" are ignored.
// A write changes only the line of its key (or appends one), so every other byte of the file stays
// as it was.
namespace platform {

enum class Quotes {
  Double,          // the settings file: "..." loses its quotes
  DoubleOrSingle,  // firmware headers: "..." and '...' both do
};

// A parsed INI text. Holds the raw bytes, so it can also produce a changed copy.
class IniText {
 public:
  IniText() = default;
  explicit IniText(std::string bytes, Quotes quotes = Quotes::Double);

  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  std::vector<std::string> Keys(std::string_view section) const;
  bool HasSection(std::string_view section) const;

  // Sets a key's value: in place when the key exists, else as a new line at the end of its
  // section, else in a new section at the end of the text.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  const std::string& Bytes() const { return bytes_; }

 private:
  struct Line {
    std::size_t begin = 0;  // offset of the line in bytes_
    std::size_t end = 0;    // offset past its content, before the line break
    std::size_t next = 0;   // offset of the next line
  };
  void Split();
  // Index of the first line of the section's body and one past its last line; npos when absent.
  std::pair<std::size_t, std::size_t> SectionRange(std::string_view section) const;
  std::string_view LineText(const Line& line) const;

  std::string bytes_;
  Quotes quotes_ = Quotes::Double;
  std::vector<Line> lines_;
};

// An INI file on disk. Every call reads the file afresh, as other programs may change it.
class ProfileFile {
 public:
  explicit ProfileFile(std::filesystem::path path, Quotes quotes = Quotes::Double);

  const std::filesystem::path& Path() const { return path_; }

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  std::vector<std::string> Keys(std::string_view section) const;

  // Writes one key, creating the folder, the file, the section or the key as needed.
  // The file is replaced atomically under an exclusive lock on a lock file beside it, keeps its
  // mode, and a symbolic link is written through to its target. False when it cannot be written.
  bool Write(std::string_view section, std::string_view key, std::string_view value);

 private:
  IniText Load() const;

  std::filesystem::path path_;
  Quotes quotes_;
};

// Calls `entry` for every key line of an INI text in file order, in one pass and without holding
// the text as lines (firmware headers may be large): the section's name, whether it is the first
// section of that name (the one that counts), the key and its value under the rules above.
void ForEachIniEntry(std::string_view bytes, Quotes quotes,
                     const std::function<void(std::string_view section, bool firstOfName,
                                              std::string_view key, std::string value)>& entry);

// The bytes of a file, at most `limit` of them; nullopt when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path,
                                         std::size_t limit = static_cast<std::size_t>(-1));

}  // namespace platform
