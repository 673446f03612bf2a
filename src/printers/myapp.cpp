#include "printers/myapp.h"

#include "common/ftpaddress.h"
#include "firmware/dwndoc.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "printers/funcs.h"

#include <algorithm>

TFWLOADApp* Myapp = nullptr;

namespace {

constexpr int kDefaultColumnWidths[8] = {200, 60, 50, 40, 120, 0, 0, 0};

int ReadInteger(const platform::ProfileFile& ini, const char* key, int defaultValue) {
  const auto value = ini.Read(kSettingsSection, key);
  if (!value) return defaultValue;
  return text::ParseIniInteger(*value).value_or(defaultValue);
}

int ReadBoolean(const platform::ProfileFile& ini, const char* key, int defaultValue) {
  return ReadInteger(ini, key, defaultValue) != 0 ? 1 : 0;
}

// The text after the last "=" of an argument.
std::string ValueAfterLastEquals(const std::string& argument) {
  const auto eq = argument.rfind('=');
  return eq == std::string::npos ? std::string() : argument.substr(eq + 1);
}

}  // namespace

bool IsToolkitOptionWithValue(const std::string& argument) {
  static constexpr const char* kOptions[] = {"platform",
                                             "platformpluginpath",
                                             "platformtheme",
                                             "plugin",
                                             "qmljsdebugger",
                                             "style",
                                             "stylesheet",
                                             "session",
                                             "display",
                                             "geometry",
                                             "title",
                                             "name",
                                             "qwindowgeometry",
                                             "qwindowtitle",
                                             "qwindowicon",
                                             "font",
                                             "fn",
                                             "bg",
                                             "background",
                                             "fg",
                                             "foreground",
                                             "btn",
                                             "button",
                                             "visual",
                                             "cmap",
                                             "im",
                                             "inputstyle",
                                             "dialogs",
                                             "widgetcount"};
  std::string_view option(argument);
  if (option.substr(0, 2) == "--")
    option.remove_prefix(2);
  else if (!option.empty() && option[0] == '-')
    option.remove_prefix(1);
  else
    return false;
  if (option.find('=') != std::string_view::npos) return false;  // "-style=fusion" holds its value
  for (const char* known : kOptions) {
    if (option == known) return true;
  }
  return false;
}

bool IsSwitchArgument(const std::string& argument) {
  if (argument.empty() || argument[0] != '/') return false;
  const std::string head = argument.substr(0, argument.find('='));
  return head.find('/', 1) == std::string::npos;
}

TFWLOADApp::TFWLOADApp(std::vector<std::string> arguments, std::filesystem::path settingsFile)
    : FArguments(std::move(arguments)),
      FSettingsFile(settingsFile.empty() ? platform::SettingsFilePath() : std::move(settingsFile)) {
  LoadSettings();
  LoadModelTable();
  ParseCommandLine();
}

TFWLOADApp::~TFWLOADApp() {
  SaveSettings();
  Doc.reset();
  ModelTable.Clear();
}

void TFWLOADApp::LoadSettings() {
  const platform::ProfileFile ini(FSettingsFile);
  ShowMessage = ReadBoolean(ini, "ShowMessage", 1);
  FSettingsShowMessage = ShowMessage;
  EnableCommand = ReadBoolean(ini, "EnableCommand", 1);
  for (int i = 0; i < 8; ++i) {
    const std::string key = "Column" + std::to_string(i);
    ColumnWidths[i] = ReadInteger(ini, key.c_str(), kDefaultColumnWidths[i]);
  }

  WindowLeft = 80;
  WindowTop = 160;
  WindowWidth = 480;
  WindowHeight = 400;
  const std::string pos = ini.ReadString(kSettingsSection, "WindowPos", "?");
  if (pos != "?") {
    // Fewer than four numbers leave the missing ones at 0, as the settings file always has.
    int values[4] = {0, 0, 0, 0};
    const std::string head = pos.substr(0, 256);
    std::size_t start = 0;
    int part = 0;
    while (part < 4 && start <= head.size()) {
      std::size_t comma = head.find(',', start);
      if (comma == std::string::npos) comma = head.size();
      const std::string_view piece = std::string_view(head).substr(start, comma - start);
      if (!piece.empty()) {
        values[part++] = text::ParseIniInteger(piece).value_or(0);
      }
      start = comma + 1;
    }
    WindowLeft = values[0];
    WindowTop = values[1];
    WindowWidth = values[2];
    WindowHeight = values[3];
  }

  OpenFolder = ini.ReadString(kSettingsSection, "OpenFolder", "");
  ViewLocal = ReadBoolean(ini, "ViewLocal", 1);
}

void TFWLOADApp::SaveSettings() {
  platform::ProfileFile ini(FSettingsFile);
  ini.Write(kSettingsSection, "WindowPos",
            std::to_string(WindowLeft) + "," + std::to_string(WindowTop) + "," +
                std::to_string(WindowWidth) + "," + std::to_string(WindowHeight));
  for (int i = 0; i < 5; ++i) {
    ini.Write(kSettingsSection, "Column" + std::to_string(i), std::to_string(ColumnWidths[i]));
  }
  ini.Write(kSettingsSection, "OpenFolder", OpenFolder);
  ini.Write(kSettingsSection, "ViewLocal", std::to_string(ViewLocal));
}

void TFWLOADApp::ParseCommandLine() {
  // The first argument that is neither a switch nor a toolkit option (with its value) is the file.
  for (std::size_t i = 0; i < FArguments.size(); ++i) {
    const std::string& argument = FArguments[i];
    if (!argument.empty() && argument[0] == '-') {
      if (IsToolkitOptionWithValue(argument)) ++i;
      continue;
    }
    if (argument.empty() || IsSwitchArgument(argument)) continue;
    OpenFile(argument);
    break;
  }

  for (const auto& argument : FArguments) {
    if (!IsSwitchArgument(argument)) continue;
    if (text::EqualsNoCase(argument, "/NM")) ShowMessage = 0;
    if (text::EqualsNoCase(argument, "/NC")) EnableCommand = 0;
    if (text::ContainsNoCase(argument, "/HN=")) {
      const std::string value = ValueAfterLastEquals(argument);
      const ftpaddress::ParsedAddress parsed = ftpaddress::ParseCommandLine(value);
      // An address without a readable host still names an FTP printer, shown as given: it
      // reaches nobody and its download fails.
      SelectedPrinter = parsed.HostOk() ? parsed.Address.Target() : "ftp://" + value;
      ViewLocal = 0;
    }
    if (text::ContainsNoCase(argument, "/PR=")) {
      SelectedPrinter = CanonicalPrinterName(ValueAfterLastEquals(argument));
    }
    if (text::ContainsNoCase(argument, "/M=")) {
      FtpModel = ValueAfterLastEquals(argument);
      PrinterInfo.Driver = FtpModel;
    }
    if (text::ContainsNoCase(argument, "/NO")) Interactive = 0;
    if (text::ContainsNoCase(argument, "/IM=")) {
      // Answers the settings-memory question beforehand, for runs nobody watches.
      const std::string value = ValueAfterLastEquals(argument);
      if (value == "1" || value == "0") {
        InitMemory = value == "1" ? 1 : 0;
        InitMemoryPreset = true;
      }
    }
  }
  // "/M=" gives the model of the FTP printer the command line names, and of no other.
  if (!FtpModel.empty() && IsFtpTarget(SelectedPrinter)) {
    FtpModelAddress = GetFtpHost(SelectedPrinter).value_or(std::string());
  }
}

void TFWLOADApp::EndCommandLineRun() {
  Interactive = 1;
  ShowMessage = FSettingsShowMessage;
}

int TFWLOADApp::GetColumnWidth(int index) const {
  return (index >= 0 && index < 8) ? ColumnWidths[index] : 0;
}

void TFWLOADApp::SetColumnWidth(int index, int width) {
  if (index >= 0 && index < 8 && ColumnWidths[index] != width) ColumnWidths[index] = width;
}

void TFWLOADApp::SetFtpPrinterInfo(const std::string& model, const std::string& version,
                                   const std::string& address) {
  FtpModel = model;
  FtpVersion = version;
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseCommandLine(address);
  FtpModelAddress = parsed.HostOk() ? parsed.Address.Authority() : std::string();
}

bool TFWLOADApp::RemembersFtpPrinter(const std::string& address) const {
  if (FtpModel.empty() || FtpModelAddress.empty()) return false;
  const ftpaddress::ParsedAddress remembered = ftpaddress::ParseCommandLine(FtpModelAddress);
  const ftpaddress::ParsedAddress asked = ftpaddress::ParseCommandLine(address);
  return remembered.HostOk() && asked.HostOk() &&
         ftpaddress::SamePrinter(remembered.Address, asked.Address);
}

void TFWLOADApp::OpenFile(const std::string& path) {
  Doc.reset();
  FileName = path;
  Doc = std::make_unique<TDownDocFile>(FileName);
  // A file that failed to open is not taken, and neither are the models it names.
  if (Doc->FError == 0 && !Doc->FPrinters.empty()) {
    StoreFileModels();
    LoadModelTable();
  }
}

void TFWLOADApp::SelectPrinter(const std::string& name) {
  SelectedPrinter = CanonicalPrinterName(name);
  QueryPrinter(SelectedPrinter, PrinterInfo);
  if (PrinterInfo.Driver.empty()) {
    std::string model;
    if (FModelChooser && FModelChooser->ChooseModel(model)) {
      PrinterInfo.Driver = model;
      // An FTP printer that names no model keeps the user's choice, as the FTP printer dialog
      // does, so that refreshing it does not ask again.
      if (IsFtpTarget(SelectedPrinter)) SetFtpPrinterInfo(model, std::string(), SelectedPrinter);
    }
    LookupModel(PrinterInfo);
  }
}
