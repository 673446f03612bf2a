#include "access/addresses.h"

#include "platform/text.h"

namespace fwlaccess {

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
