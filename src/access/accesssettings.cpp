#include "access/accesssettings.h"

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace fwlaccess {

Settings LoadSettings(const std::filesystem::path& settingsFile) {
  const platform::ProfileFile ini(settingsFile.empty() ? platform::SettingsFilePath()
                                                       : settingsFile);
  Settings s;
  if (auto v = ini.Read("Access", "IppPort")) {
    const int port = text::ParseIniInteger(*v).value_or(s.IppPort);
    if (port > 0 && port < 65536) s.IppPort = port;
  }
  if (auto v = ini.Read("Access", "IppPath"); v && !v->empty()) {
    s.IppPath = (*v)[0] == '/' ? *v : "/" + *v;
  }
  if (auto v = ini.Read("Access", "StallSeconds")) {
    const int seconds = text::ParseIniInteger(*v).value_or(s.StallSeconds);
    if (seconds >= 0) s.StallSeconds = seconds;
  }
  return s;
}

}  // namespace fwlaccess
