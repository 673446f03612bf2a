// Which queues the access library's network printer dialog offers.
#include "access/addresses.h"

#include <gtest/gtest.h>

namespace {

TEST(AccessAddresses, NetworkDeviceUris) {
  for (const char* network : {"ipp://h/ipp/print", "IPPS://h/x", "socket://10.0.0.5:9100",
                              "lpd://h/q", "dnssd://P._ipp._tcp.local/", "http://h:631/x",
                              "smb://server/share"}) {
    EXPECT_TRUE(fwlaccess::IsNetworkDeviceUri(network)) << network;
  }
  for (const char* local : {"parallel:/dev/lp0", "usb://Maker/Model", "file:///dev/null",
                            "serial:/dev/ttyS0", "", "LPT1:", "socketless"}) {
    EXPECT_FALSE(fwlaccess::IsNetworkDeviceUri(local)) << local;
  }
}

}  // namespace
