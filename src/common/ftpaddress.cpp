#include "common/ftpaddress.h"

#include <charconv>

namespace ftpaddress {

namespace {

constexpr int kDefaultFtpPort = 21;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithScheme(std::string_view text) {
  return text.size() >= kScheme.size() && EqualsNoCase(text.substr(0, kScheme.size()), kScheme);
}

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

// Characters that would change what a URL means or that no host name holds. A colon is the
// port's separator; names beyond ASCII pass (internationalised names).
bool IsHostName(std::string_view host) {
  for (char c : host) {
    if (IsControl(c) || IsBlank(c)) return false;
    switch (c) {
      case '@':
      case '\\':
      case '/':
      case '?':
      case '#':
      case '%':
      case '[':
      case ']':
      case ':':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool IsIpv6Literal(std::string_view host) {
  if (host.find(':') == std::string_view::npos) return false;
  for (char c : host) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex && c != ':' && c != '.') return false;
  }
  return true;
}

AddressError ReadPort(std::string_view digits, int& port) {
  int value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, ec] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || digits.front() == '-' || digits.front() == '+' || ec != std::errc() ||
      stop != end || value < 1 || value > 65535) {
    return AddressError::BadPort;
  }
  port = value;
  return AddressError::None;
}

// "host", "host:port", "[v6]", "[v6]:port", or a bare IPv6 literal (two colons or more).
AddressError ReadAuthority(std::string_view text, FtpAddress& out) {
  if (text.empty()) return AddressError::NoHost;
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return AddressError::BadHost;
    const std::string_view inner = text.substr(1, close - 1);
    if (inner.empty()) return AddressError::NoHost;
    if (!IsIpv6Literal(inner)) return AddressError::BadHost;
    out.Host = std::string(inner);
    const std::string_view after = text.substr(close + 1);
    if (after.empty()) return AddressError::None;
    if (after.front() != ':') return AddressError::BadHost;
    return ReadPort(after.substr(1), out.Port);
  }
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
    if (!IsIpv6Literal(text)) return AddressError::BadHost;
    out.Host = std::string(text);
    return AddressError::None;
  }
  const std::string_view host = text.substr(0, colon);
  if (host.empty()) return AddressError::NoHost;
  if (!IsHostName(host)) return AddressError::BadHost;
  out.Host = std::string(host);
  if (colon == std::string_view::npos) return AddressError::None;
  return ReadPort(text.substr(colon + 1), out.Port);
}

// [ftp://]authority[/directory]. Without a directory part the directory is the default where one
// is taken at all.
ParsedAddress Parse(std::string_view text, bool takesDirectory) {
  ParsedAddress result;
  if (StartsWithScheme(text)) text.remove_prefix(kScheme.size());
  const std::size_t slash = text.find('/');
  result.Error = ReadAuthority(text.substr(0, slash), result.Address);
  if (result.Error != AddressError::None) {
    result.Address = FtpAddress();
    return result;
  }
  if (slash == std::string_view::npos) {
    if (takesDirectory) result.Address.Directory = std::string(kDefaultDirectory);
    return result;
  }
  const std::string directory = NormalDirectory(text.substr(slash + 1));
  if (!takesDirectory) {
    // A trailing "/" is no directory.
    if (!directory.empty()) result.Error = AddressError::DirectoryGiven;
    return result;
  }
  result.Address.Directory = directory;
  result.Error = CheckDirectory(directory);
  return result;
}

}  // namespace

std::string FtpAddress::Authority() const {
  std::string authority;
  if (Host.find(':') != std::string::npos) {
    authority += '[';
    authority += Host;
    authority += ']';
  } else {
    authority = Host;
  }
  if (Port != 0) {
    authority += ':';
    authority += std::to_string(Port);
  }
  return authority;
}

std::string FtpAddress::Target() const {
  std::string target(kScheme);
  target += Authority();
  target += '/';
  target += Directory;
  return target;
}

ParsedAddress ParseAddressField(std::string_view typed) { return Parse(Trim(typed), false); }

ParsedAddress ParseCommandLine(std::string_view text) { return Parse(Trim(text), true); }

ParsedAddress ParseTarget(std::string_view target) {
  if (!StartsWithScheme(target)) {
    ParsedAddress result;
    result.Error = AddressError::NoHost;
    return result;
  }
  return Parse(target, true);
}

std::string NormalDirectory(std::string_view typed) {
  const std::string_view text = Trim(typed);
  std::string normal;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('/', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) {
      if (!normal.empty()) normal += '/';
      normal += text.substr(start, end - start);
    }
    start = end + 1;
  }
  return normal;
}

AddressError CheckDirectory(std::string_view normal) {
  if (normal.empty()) return AddressError::NoDirectory;
  std::size_t start = 0;
  while (start <= normal.size()) {
    std::size_t end = normal.find('/', start);
    if (end == std::string_view::npos) end = normal.size();
    const std::string_view part = normal.substr(start, end - start);
    // "." and ".." lead back to the login directory or above it.
    if (part == "." || part == "..") return AddressError::BadDirectory;
    for (char c : part) {
      if (IsControl(c)) return AddressError::BadDirectory;
    }
    start = end + 1;
  }
  return AddressError::None;
}

bool SamePrinter(const FtpAddress& a, const FtpAddress& b) {
  const int portA = a.Port != 0 ? a.Port : kDefaultFtpPort;
  const int portB = b.Port != 0 ? b.Port : kDefaultFtpPort;
  return !a.Host.empty() && EqualsNoCase(a.Host, b.Host) && portA == portB;
}

}  // namespace ftpaddress
