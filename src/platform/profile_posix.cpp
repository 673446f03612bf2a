#include "platform/profile.h"

#include "platform/fileio.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <unordered_set>

namespace platform {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

bool IsComment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// Section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view t = text::Trim(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  t.remove_prefix(1);
  const std::size_t close = t.find(']');
  if (close != std::string_view::npos) t = t.substr(0, close);
  return text::Trim(t);
}

// Key of a "key=value" line, or nullopt.
std::optional<std::string_view> KeyName(std::string_view line) {
  std::string_view t = text::Trim(line);
  if (t.empty() || IsComment(t) || t[0] == '[') return std::nullopt;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view key = text::Trim(t.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return key;
}

std::string Unquote(std::string_view v, Quotes quotes) {
  v = text::Trim(v);
  if (v.size() >= 2 && v.front() == v.back() &&
      (v.front() == '"' || (quotes == Quotes::DoubleOrSingle && v.front() == '\''))) {
    v = v.substr(1, v.size() - 2);
  }
  return std::string(v);
}

// Follows symbolic links to the file that is really written.
std::filesystem::path ResolveLinks(std::filesystem::path p) {
  std::error_code ec;
  for (int i = 0; i < 40 && std::filesystem::is_symlink(p, ec); ++i) {
    std::filesystem::path target = std::filesystem::read_symlink(p, ec);
    if (ec) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  return p;
}

class LockGuard {
 public:
  explicit LockGuard(const std::filesystem::path& lockPath) {
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~LockGuard() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

std::optional<std::string> ReadFileBytes(const std::filesystem::path& path, std::size_t limit) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  char buf[65536];
  while (bytes.size() < limit && in) {
    const std::size_t want = std::min(sizeof buf, limit - bytes.size());
    in.read(buf, static_cast<std::streamsize>(want));
    bytes.append(buf, static_cast<std::size_t>(in.gcount()));
    if (in.gcount() == 0) break;
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

void ForEachIniEntry(std::string_view bytes, Quotes quotes,
                     const std::function<void(std::string_view section, bool firstOfName,
                                              std::string_view key, std::string value)>& entry) {
  std::unordered_set<std::string> seen;  // section names, lower case
  std::string section;
  bool first = false;
  bool inSection = false;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t nl = bytes.find('\n', pos);
    if (nl == std::string_view::npos) nl = bytes.size();
    std::string_view line = bytes.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (const auto name = SectionName(line)) {
      section.assign(*name);
      first = seen.insert(text::ToLowerAscii(section)).second;
      inSection = true;
      continue;
    }
    if (!inSection) continue;
    if (const auto key = KeyName(line)) {
      entry(section, first, *key, Unquote(line.substr(line.find('=') + 1), quotes));
    }
  }
}

// ---- IniText ----

IniText::IniText(std::string bytes, Quotes quotes) : bytes_(std::move(bytes)), quotes_(quotes) {
  Split();
}

void IniText::Split() {
  lines_.clear();
  std::size_t pos = 0;
  while (pos < bytes_.size()) {
    std::size_t nl = bytes_.find('\n', pos);
    Line line;
    line.begin = pos;
    if (nl == std::string::npos) {
      line.end = bytes_.size();
      line.next = bytes_.size();
    } else {
      line.end = nl;
      line.next = nl + 1;
    }
    if (line.end > line.begin && bytes_[line.end - 1] == '\r') --line.end;
    lines_.push_back(line);
    pos = line.next;
  }
}

std::string_view IniText::LineText(const Line& line) const {
  return std::string_view(bytes_).substr(line.begin, line.end - line.begin);
}

std::pair<std::size_t, std::size_t> IniText::SectionRange(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionName(LineText(lines_[i]));
    if (!name || !text::EqualsNoCase(*name, section)) continue;
    std::size_t j = i + 1;
    while (j < lines_.size() && !SectionName(LineText(lines_[j]))) ++j;
    return {i + 1, j};
  }
  return {npos, npos};
}

bool IniText::HasSection(std::string_view section) const {
  return SectionRange(section).first != npos;
}

std::optional<std::string> IniText::Value(std::string_view section, std::string_view key) const {
  const auto [first, last] = SectionRange(section);
  if (first == npos) return std::nullopt;
  for (std::size_t i = first; i < last; ++i) {
    const std::string_view line = LineText(lines_[i]);
    const auto k = KeyName(line);
    if (k && text::EqualsNoCase(*k, key)) {
      return Unquote(line.substr(line.find('=') + 1), quotes_);
    }
  }
  return std::nullopt;
}

std::vector<std::string> IniText::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  const auto [first, last] = SectionRange(section);
  if (first == npos) return keys;
  for (std::size_t i = first; i < last; ++i) {
    const auto k = KeyName(LineText(lines_[i]));
    if (!k) continue;
    bool seen = false;
    for (const auto& existing : keys) {
      if (text::EqualsNoCase(existing, *k)) {
        seen = true;
        break;
      }
    }
    if (!seen) keys.emplace_back(*k);
  }
  return keys;
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  // Keep the file's own line breaks.
  const bool crlf = !lines_.empty() && lines_[0].next > lines_[0].end + 1;
  const std::string eol = crlf ? "\r\n" : "\n";

  const auto [first, last] = SectionRange(section);
  if (first != npos) {
    for (std::size_t i = first; i < last; ++i) {
      const std::string_view line = LineText(lines_[i]);
      const auto k = KeyName(line);
      if (k && text::EqualsNoCase(*k, key)) {
        // Keep everything up to and including "=", replace the value.
        const std::size_t valueBegin = lines_[i].begin + line.find('=') + 1;
        bytes_.replace(valueBegin, lines_[i].end - valueBegin, value);
        Split();
        return;
      }
    }
    // After the section's last line that is not blank.
    std::size_t after = first - 1;  // the header line
    for (std::size_t i = first; i < last; ++i) {
      if (!text::Trim(LineText(lines_[i])).empty()) after = i;
    }
    std::string insert = std::string(key) + "=" + std::string(value) + eol;
    std::size_t at = lines_[after].next;
    if (lines_[after].next == lines_[after].end) {  // the last line has no line break
      insert = eol + insert;
      at = bytes_.size();
    }
    bytes_.insert(at, insert);
    Split();
    return;
  }

  std::string append;
  if (!bytes_.empty()) {
    if (bytes_.back() != '\n') append += eol;
    append += eol;
  }
  append += "[" + std::string(section) + "]" + eol + std::string(key) + "=" + std::string(value) + eol;
  bytes_ += append;
  Split();
}

// ---- ProfileFile ----

ProfileFile::ProfileFile(std::filesystem::path path, Quotes quotes)
    : path_(std::move(path)), quotes_(quotes) {}

IniText ProfileFile::Load() const {
  auto bytes = ReadFileBytes(path_);
  return IniText(bytes ? std::move(*bytes) : std::string(), quotes_);
}

std::optional<std::string> ProfileFile::Read(std::string_view section, std::string_view key) const {
  return Load().Value(section, key);
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  auto v = Read(section, key);
  return v ? *v : std::string(defaultValue);
}

std::vector<std::string> ProfileFile::Keys(std::string_view section) const {
  return Load().Keys(section);
}

bool ProfileFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  // Line breaks inside a key or value would create lines of their own.
  if (key.find_first_of("\r\n=") != std::string_view::npos ||
      value.find_first_of("\r\n") != std::string_view::npos ||
      section.find_first_of("\r\n]") != std::string_view::npos) {
    return false;
  }

  const std::filesystem::path target = ResolveLinks(path_);
  std::error_code ec;
  const std::filesystem::path dir = target.parent_path().empty() ? "." : target.parent_path();
  std::filesystem::create_directories(dir, ec);

  LockGuard lock(std::filesystem::path(target.string() + ".lock"));

  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return false;
  if (exists && ::access(target.c_str(), W_OK) != 0) return false;

  std::string bytes;
  if (exists) {
    auto read = ReadFileBytes(target);
    if (!read) return false;  // never replace a file we could not read
    bytes = std::move(*read);
  }
  IniText ini(std::move(bytes), quotes_);
  ini.Set(section, key, value);
  const std::string& written = ini.Bytes();

  std::string tmpl = (dir / (target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(tmpl.data());
  if (fd >= 0) {
    mode_t mode = 0;
    if (exists) {
      mode = st.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    const bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, written.data(), written.size());
    const bool closed = ::close(fd) == 0;
    if (ok && closed && ::rename(tmpl.c_str(), target.c_str()) == 0) return true;
    ::unlink(tmpl.c_str());
    return false;
  }

  // The folder does not let us create a file beside it: write the file itself in place.
  if (!exists) return false;
  const int out = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (out < 0) return false;
  const bool ok = WriteAll(out, written.data(), written.size());
  return ::close(out) == 0 && ok;
}

}  // namespace platform
