#pragma once

#include <string_view>

namespace fwlaccess {

// True for a queue's device URI that reaches its printer over the network (ipp, ipps, http,
// https, socket, lpd, dnssd, mdns, smb).
bool IsNetworkDeviceUri(std::string_view deviceUri);

}  // namespace fwlaccess
