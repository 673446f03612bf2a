#pragma once

// The private servers of the CTest fixtures start when the tests run, so their addresses cannot
// stand in the tests' fixed environment: a fixture writes them into its folder, and each test
// program takes them into its own environment before any test runs (the programs a test starts
// inherit them).

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace testsupport {

// FWLOAD_CUPS_SERVER_DIR names the folder of a print server of tools/cups-sandbox.sh; the socket
// it recorded becomes CUPS_SERVER. False, with a message, when the folder holds no server: the
// tests must never meet the machine's own server instead.
inline bool TakeFixtureEnvironment() {
  const char* dir = std::getenv("FWLOAD_CUPS_SERVER_DIR");
  if (!dir || !*dir) return true;
  std::ifstream in(std::string(dir) + "/socket");
  std::string socket;
  std::getline(in, socket);
  if (socket.empty()) {
    std::fprintf(stderr, "no print server in %s: its fixture did not start\n", dir);
    return false;
  }
  ::setenv("CUPS_SERVER", socket.c_str(), 1);
  return true;
}

}  // namespace testsupport
