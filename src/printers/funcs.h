#pragma once

#include "platform/spooler.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Port flags of a printer.
inline constexpr std::uint32_t kPortParallel = 0x001;  // first port is LPT1: to LPT9:
inline constexpr std::uint32_t kPortSeveral = 0x100;   // more than one port

// The port flags of a port text (ports separated by commas).
std::uint32_t PortFlagsOf(std::string_view portText);

// The port flags of a spooler printer; 0 when it cannot be opened.
std::uint32_t GetPortFlags(const std::string& printerName);

// Result of EnumPrinterNames when the print server cannot be reached (the list is then
// unchanged; the window says so with message 4359).
inline constexpr int kEnumSpoolerUnreachable = 1722;

// Appends the names of the spooler's printers in the spooler's order (none: still 0). Returns 0,
// kEnumSpoolerUnreachable, or 14 (rc::kOutOfMemory) when the list could not be held.
int EnumPrinterNames(std::vector<std::string>& names);

// What the print server said about its printers at one moment, gathered in one request. It is
// taken on a worker thread and handed to the window, so a server that has stopped answering never
// holds the window up; nothing in it depends on the application model.
struct TPrinterSnapshot {
  struct Printer {
    std::string Name;
    bool Opened = false;                             // the server knew it when asked
    std::optional<platform::SpoolPrinterData> Data;  // nullopt: its data could not be had
  };
  int Result = 0;                 // as EnumPrinterNames: 0, kEnumSpoolerUnreachable or 14
  std::vector<Printer> Printers;  // in the server's order
  // One text that changes whenever a printer is added, deleted or changed (name, driver, port,
  // location, comment, device); nullopt when the server could not be asked.
  std::optional<std::string> Fingerprint;
};

// Asks the server for every printer and its data. Safe on any thread; blocks until the server
// answers or the spooler's timeouts run out.
TPrinterSnapshot GatherPrinters();

// The host of an FTP target, with its port when it has one ("ftp://h:2121/ketora0" -> "h:2121");
// nullopt when no host can be read from it.
std::optional<std::string> GetFtpHost(std::string_view target);

// True when a printer name is an FTP address ("ftp://" anywhere, letter case significant).
inline bool IsFtpTarget(std::string_view name) {
  return name.find("ftp://") != std::string_view::npos;
}

// A printer name as the program keeps it: an FTP address in its one target form ("ftp://h" ->
// "ftp://h/ketora0"); any other name, and an address without a readable host, as it is.
std::string CanonicalPrinterName(const std::string& name);
