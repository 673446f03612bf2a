#include "access/addresses.h"

#include "platform/text.h"

#include <charconv>

namespace fwlaccess {

namespace {

std::optional<int> PortOf(std::string_view digits) {
  int port = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || port < 1 ||
      port > 65535) {
    return std::nullopt;
  }
  return port;
}

}  // namespace

std::optional<FtpAddress> ParseFtpAddress(std::string_view typed) {
  std::string_view rest = text::Trim(typed);
  if (text::StartsWithNoCase(rest, "ftp://")) rest.remove_prefix(6);
  rest = rest.substr(0, rest.find('/'));  // a trailing directory is not part of the host

  FtpAddress address;
  std::string_view portText;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    address.Host = std::string(rest.substr(1, close - 1));
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      portText = after.substr(1);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    const std::size_t colon = rest.find(':');
    if (colon != std::string_view::npos && rest.find(':', colon + 1) == std::string_view::npos) {
      address.Host = std::string(rest.substr(0, colon));
      portText = rest.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    } else {
      address.Host = std::string(rest);  // a name, an IPv4 address or a bare IPv6 address
    }
  }
  if (address.Host.empty()) return std::nullopt;
  if (!portText.empty()) {
    const std::optional<int> port = PortOf(portText);
    if (!port) return std::nullopt;
    address.FtpPort = *port;
  }
  return address;
}

bool IsNetworkDeviceUri(std::string_view uri) {
  static constexpr std::string_view kSchemes[] = {"ipp",    "ipps", "http",  "https", "socket",
                                                   "lpd",    "dnssd", "mdns", "smb"};
  const std::size_t colon = uri.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string scheme = text::ToLowerAscii(uri.substr(0, colon));
  for (std::string_view s : kSchemes) {
    if (scheme == s) return true;
  }
  return false;
}

}  // namespace fwlaccess
