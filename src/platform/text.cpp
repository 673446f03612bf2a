#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <vector>

namespace text {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Length of the UTF-8 sequence that starts with `lead`, 1 for a stray byte.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// Decodes one character at `pos`; returns its code point (0xFFFD for broken input) and advances.
char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  std::size_t len = SequenceLength(lead);
  if (pos + len > s.size()) len = 1;
  char32_t cp = 0xFFFD;
  if (len == 1) {
    cp = lead < 0x80 ? lead : 0xFFFD;
  } else {
    cp = lead & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i) {
      const auto b = static_cast<unsigned char>(s[pos + i]);
      if ((b & 0xC0) != 0x80) {
        len = 1;
        cp = 0xFFFD;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
  }
  pos += len;
  return cp;
}

}  // namespace

std::string_view Trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return true;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) return true;
  }
  return false;
}

std::string ToUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::size_t Cp932Length(std::string_view utf8) {
  std::size_t bytes = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = NextCodePoint(utf8, pos);
    bytes += (cp < 0x80 || (cp >= 0xFF61 && cp <= 0xFF9F)) ? 1 : 2;
  }
  return bytes;
}

std::string CutCp932(std::string_view utf8, std::size_t maxBytes) {
  std::size_t bytes = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    std::size_t next = pos;
    const char32_t cp = NextCodePoint(utf8, next);
    const std::size_t width = (cp < 0x80 || (cp >= 0xFF61 && cp <= 0xFF9F)) ? 1 : 2;
    if (bytes + width > maxBytes) break;
    bytes += width;
    pos = next;
  }
  return std::string(utf8.substr(0, pos));
}

std::string DecodeCp932(std::string_view bytes) {
  bool ascii = true;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(bytes);

  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() * 3 / 2 + 16);
  std::vector<char> buf(4096);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    char* in = const_cast<char*>(bytes.data() + pos);
    std::size_t inLeft = bytes.size() - pos;
    char* outp = buf.data();
    std::size_t outLeft = buf.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &outp, &outLeft);
    out.append(buf.data(), buf.size() - outLeft);
    pos = bytes.size() - inLeft;
    if (rc == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or truncated sequence: replace one byte and go on.
      out.append("\xEF\xBF\xBD");
      ++pos;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    const std::size_t len = SequenceLength(lead);
    if (len == 1 && lead >= 0x80) return false;
    if (pos + len > bytes.size()) return false;
    for (std::size_t i = 1; i < len; ++i) {
      if ((static_cast<unsigned char>(bytes[pos + i]) & 0xC0) != 0x80) return false;
    }
    pos += len;
  }
  return true;
}

std::optional<int> ParseIniInteger(std::string_view value) {
  std::string_view v = Trim(value);
  if (v.empty()) return std::nullopt;
  std::int64_t result = 0;
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    for (char c : v.substr(2)) {
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) return std::nullopt;
      result = result * 16 + d;
      if (result > UINT32_MAX) return std::nullopt;
    }
    // Hexadecimal values are bit patterns: 0xFFFFFFFF reads as -1.
    return static_cast<int>(static_cast<std::uint32_t>(result));
  }
  bool negative = false;
  if (v[0] == '+' || v[0] == '-') {
    negative = v[0] == '-';
    v.remove_prefix(1);
    if (v.empty()) return std::nullopt;
  }
  for (char c : v) {
    if (c < '0' || c > '9') return std::nullopt;
    result = result * 10 + (c - '0');
    if (result > static_cast<std::int64_t>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) result = -result;
  if (result > INT_MAX || result < INT_MIN) return std::nullopt;
  return static_cast<int>(result);
}

int LeadingInteger(std::string_view value) {
  std::string_view v = Trim(value);
  bool negative = false;
  if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
    negative = v[0] == '-';
    v.remove_prefix(1);
  }
  std::int64_t result = 0;
  for (char c : v) {
    if (c < '0' || c > '9') break;
    result = result * 10 + (c - '0');
    if (result > INT_MAX) {
      result = INT_MAX;
      break;
    }
  }
  return static_cast<int>(negative ? -result : result);
}

}  // namespace text
