#pragma once

#include <filesystem>
#include <string>

// The library's own settings: section "Access" of the settings file.
namespace fwlaccess {

struct Settings {
  int IppPort = 631;                  // where an FTP printer answers IPP
  std::string IppPath = "/ipp/print";
  int StallSeconds = 60;              // a transfer without progress fails after this; 0: never
};

Settings LoadSettings(const std::filesystem::path& settingsFile);

}  // namespace fwlaccess
