#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fwlaccess {

// An FTP printer's address as the user typed it: "host", "host:port", "ftp://host/dir",
// "[::1]:2121"... The port, when given, is the FTP port.
struct FtpAddress {
  std::string Host;  // without brackets for an IPv6 literal
  int FtpPort = 0;   // 0: the default
};

// nullopt when no host can be read from the text (empty, or a port that is no port).
std::optional<FtpAddress> ParseFtpAddress(std::string_view typed);

// True for a queue's device URI that reaches its printer over the network (ipp, ipps, http,
// https, socket, lpd, dnssd, mdns, smb).
bool IsNetworkDeviceUri(std::string_view deviceUri);

}  // namespace fwlaccess
