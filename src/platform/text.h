#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Text helpers shared by every layer. All text inside the program is UTF-8.
namespace text {

// Blanks (space, tab, CR, LF) removed at both ends.
std::string_view Trim(std::string_view s);

// ASCII-only case folding, as the profile files and printer names compare.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool ContainsNoCase(std::string_view haystack, std::string_view needle);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
std::string ToUpperAscii(std::string_view s);
std::string ToLowerAscii(std::string_view s);

// Bytes the text takes in code page 932, the encoding the printers' files were made in:
// ASCII and half-width katakana take one byte, every other character two.
std::size_t Cp932Length(std::string_view utf8);

// The longest prefix of `utf8` that takes at most `maxBytes` bytes in code page 932.
// Never splits a character.
std::string CutCp932(std::string_view utf8, std::size_t maxBytes);

// Code page 932 bytes to UTF-8. Bytes that do not decode become U+FFFD.
std::string DecodeCp932(std::string_view bytes);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// An integer as the settings file writes it: the whole trimmed text is a decimal number with an
// optional sign, or 0x/0X followed by hexadecimal digits. Anything else, or a value that does not
// fit 32 bits, is no number.
std::optional<int> ParseIniInteger(std::string_view value);

// Leading decimal digits, as the firmware header and the model table read numbers;
// no leading digits read as 0. An optional sign is accepted.
int LeadingInteger(std::string_view value);

}  // namespace text
