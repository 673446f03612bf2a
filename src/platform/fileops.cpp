#include "platform/fileops.h"

#include "platform/text.h"

#include <string>

namespace platform {

bool DeleteTree(const std::filesystem::path& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (ec || !std::filesystem::exists(status)) return false;
  std::filesystem::remove_all(path, ec);
  if (ec) return false;
  return !std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

bool CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(from, ec)) return false;
  if (std::filesystem::is_directory(to, ec)) return false;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                    ec) &&
         !ec;
}

std::vector<std::string_view> NameParts(std::string_view name) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    start = end + 1;
    if (!part.empty() && part != ".") parts.push_back(part);
  }
  return parts;
}

std::filesystem::path FindEntryNoCase(const std::filesystem::path& dir, std::string_view name) {
  std::error_code ec;
  const std::filesystem::path exact = dir / std::string(name);
  if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec))) return exact;
  std::filesystem::path found;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    // Of several spellings the smallest, so the answer does not depend on the folder's order.
    if (text::EqualsNoCase(entry, name) && (found.empty() || it->path() < found)) {
      found = it->path();
    }
  }
  return found;
}

std::filesystem::path FindNoCase(const std::filesystem::path& base, std::string_view name) {
  std::filesystem::path current = base.lexically_normal();
  if (!current.has_filename() && current.has_relative_path()) current = current.parent_path();
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) current = "/";
  bool lost = false;  // once a part is missing, the rest is kept as written
  for (const std::string_view part : NameParts(name)) {
    if (part == "..") {
      current = current.has_relative_path() ? current.parent_path() : current;
      continue;
    }
    if (!lost) {
      const std::filesystem::path entry = FindEntryNoCase(current, part);
      if (!entry.empty()) {
        current = entry;
        continue;
      }
      lost = true;
    }
    current /= std::string(part);
  }
  return current;
}

}  // namespace platform
