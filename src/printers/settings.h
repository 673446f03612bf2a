#pragma once

#include <filesystem>
#include <string>

// Name of the settings file's own section.
inline constexpr const char* kSettingsSection = "FWLOAD.INI";

// The program's own values of the settings file ([FWLOAD.INI]), apart from the window's
// geometry, which the window reads and writes itself.
struct Settings {
  int ShowMessage = 1;
  int EnableCommand = 1;
  int ViewLocal = 1;
  int ColumnWidths[8] = {200, 60, 50, 40, 120, 0, 0, 0};
  std::string OpenFolder;

  // Reads every value from `file`; a value that is absent or not a number keeps its default.
  void Load(const std::filesystem::path& file);
  // Writes the values the program changes (columns 0 to 4, OpenFolder, ViewLocal) to `file`.
  void Save(const std::filesystem::path& file) const;
};

// Where and how large the main window is ("WindowPos").
struct WindowPos {
  int Left = 80;
  int Top = 160;
  int Width = 480;
  int Height = 400;

  bool operator==(const WindowPos&) const = default;

  // Reads "WindowPos" from `file`: the defaults when the key is absent; numbers that are missing
  // or not numbers read as 0, as the settings file has always had it.
  static WindowPos Read(const std::filesystem::path& file);
  // Writes it back as four decimal numbers joined by ",".
  void Write(const std::filesystem::path& file) const;
};
