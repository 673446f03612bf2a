#pragma once

#include <string>
#include <string_view>

// FTP printers' addresses: what a person types, what the command line gives and the one target
// form the program keeps, "ftp://" host[":" port] "/" directory. Every part of the program that
// reads or builds such an address goes through here.
namespace ftpaddress {

inline constexpr std::string_view kScheme = "ftp://";
// The directory when an address on the command line names none.
inline constexpr std::string_view kDefaultDirectory = "ketora0";

enum class AddressError {
  None,
  NoHost,          // nothing where the host should be ("", "ftp://", "/ketora0", ":21")
  BadHost,         // a character no host name holds, or an IPv6 literal left open
  BadPort,         // a port that is not a number from 1 to 65535
  DirectoryGiven,  // a directory in a field that takes the host alone
  NoDirectory,     // an empty directory: the upload would land in the login directory
  BadDirectory,    // a "." or ".." part or a control character in the directory
};

struct FtpAddress {
  std::string Host;       // an IPv6 literal without its brackets
  int Port = 0;           // 0: the FTP default
  std::string Directory;  // names joined by "/", no empty parts

  // "host", "host:port", "[v6]" or "[v6]:port".
  std::string Authority() const;
  // "ftp://" + Authority() + "/" + Directory.
  std::string Target() const;
};

struct ParsedAddress {
  FtpAddress Address;
  AddressError Error = AddressError::None;

  bool Ok() const { return Error == AddressError::None; }
  // The printer can be reached (its directory may still be unusable).
  bool HostOk() const {
    return Error == AddressError::None || Error == AddressError::NoDirectory ||
           Error == AddressError::BadDirectory;
  }
};

// The FTP printer dialog's address field: host[:port], with or without "ftp://" before and "/"
// after; a directory part is refused (DirectoryGiven), the directory has a field of its own.
ParsedAddress ParseAddressField(std::string_view typed);

// "/HN=" and FTP addresses on the command line: host[:port], with or without "ftp://" before,
// optionally followed by "/" and a directory; "ketora0" when no directory is given.
ParsedAddress ParseCommandLine(std::string_view text);

// A target: "ftp://" at its start, then as on the command line.
ParsedAddress ParseTarget(std::string_view target);

// A directory as typed or as part of a target: its names without blanks around the whole and
// without empty parts, joined by "/" ("/a//b/" -> "a/b").
std::string NormalDirectory(std::string_view typed);

// None, or why a directory in normal form cannot receive an upload.
AddressError CheckDirectory(std::string_view normal);

// Whether two addresses name the same printer: the same host (letter case ignored) and port.
bool SamePrinter(const FtpAddress& a, const FtpAddress& b);

}  // namespace ftpaddress
