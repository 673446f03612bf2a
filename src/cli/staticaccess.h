#pragma once

#include "printers/accesslib.h"

namespace cli {

// The printer access library's FTP transfer and printer identity, linked into fwload-cli itself:
// the shared library would bring its network printer dialog, and with it the window toolkit,
// into a program that never shows a window. Choosing a network printer is a window's task; here
// nothing is chosen.
class StaticAccessLibrary final : public IAccessLibrary {
 public:
  int SelectNetworkPrinter(void* owner, std::string& target) override;
  bool GetFtpPrinterInfo(const std::string& host, std::string& model, std::string& version,
                         std::uint32_t& lastError) override;
  std::uint32_t SendFileToFtpPrinter(FwlNotifyProc notify, void* context, const std::string& host,
                                     const std::string& directory,
                                     const std::string& path) override;
};

}  // namespace cli
