#include "printers/settings.h"

#include "platform/profile.h"
#include "platform/text.h"

namespace {

int ReadInteger(const platform::ProfileFile& ini, const char* key, int defaultValue) {
  const auto value = ini.Read(kSettingsSection, key);
  if (!value) return defaultValue;
  return text::ParseIniInteger(*value).value_or(defaultValue);
}

int ReadBoolean(const platform::ProfileFile& ini, const char* key, int defaultValue) {
  return ReadInteger(ini, key, defaultValue) != 0 ? 1 : 0;
}

}  // namespace

void Settings::Load(const std::filesystem::path& file) {
  const platform::ProfileFile ini(file);
  const Settings defaults;
  ShowMessage = ReadBoolean(ini, "ShowMessage", defaults.ShowMessage);
  EnableCommand = ReadBoolean(ini, "EnableCommand", defaults.EnableCommand);
  for (int i = 0; i < 8; ++i) {
    const std::string key = "Column" + std::to_string(i);
    ColumnWidths[i] = ReadInteger(ini, key.c_str(), defaults.ColumnWidths[i]);
  }
  OpenFolder = ini.ReadString(kSettingsSection, "OpenFolder", "");
  ViewLocal = ReadBoolean(ini, "ViewLocal", defaults.ViewLocal);
}

void Settings::Save(const std::filesystem::path& file) const {
  platform::ProfileFile ini(file);
  for (int i = 0; i < 5; ++i) {
    ini.Write(kSettingsSection, "Column" + std::to_string(i), std::to_string(ColumnWidths[i]));
  }
  ini.Write(kSettingsSection, "OpenFolder", OpenFolder);
  ini.Write(kSettingsSection, "ViewLocal", std::to_string(ViewLocal));
}

WindowPos WindowPos::Read(const std::filesystem::path& file) {
  WindowPos pos;
  const std::string stored =
      platform::ProfileFile(file).ReadString(kSettingsSection, "WindowPos", "?");
  if (stored == "?") return pos;
  // Fewer than four numbers leave the missing ones at 0, as the settings file always has.
  int values[4] = {0, 0, 0, 0};
  const std::string head = stored.substr(0, 256);
  std::size_t start = 0;
  int part = 0;
  while (part < 4 && start <= head.size()) {
    std::size_t comma = head.find(',', start);
    if (comma == std::string::npos) comma = head.size();
    const std::string_view piece = std::string_view(head).substr(start, comma - start);
    if (!piece.empty()) values[part++] = text::ParseIniInteger(piece).value_or(0);
    start = comma + 1;
  }
  pos.Left = values[0];
  pos.Top = values[1];
  pos.Width = values[2];
  pos.Height = values[3];
  return pos;
}

void WindowPos::Write(const std::filesystem::path& file) const {
  platform::ProfileFile(file).Write(kSettingsSection, "WindowPos",
                                    std::to_string(Left) + "," + std::to_string(Top) + "," +
                                        std::to_string(Width) + "," + std::to_string(Height));
}
