#include "printers/myapp.h"

#include "common/ftpaddress.h"
#include "firmware/dwndoc.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "printers/funcs.h"
#include "printers/printerfit.h"

#include <algorithm>

TFWLOADApp* Myapp = nullptr;

namespace {

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
  FModels.Clear();
}

void TFWLOADApp::LoadSettings() {
  FSettings.Load(FSettingsFile);
  FSettingsShowMessage = ShowMessage;
}

void TFWLOADApp::SaveSettings() { FSettings.Save(FSettingsFile); }

void TFWLOADApp::LoadModelTable() { FModels.Load(FSettingsFile); }

void TFWLOADApp::MergeBuiltinModels() { ::ModelTable::MergeBuiltin(FSettingsFile); }

void TFWLOADApp::StoreFileModels() {
  if (Doc) ModelTable::StoreFileModels(*Doc, FSettingsFile);
}

int TFWLOADApp::UpgradableOf(const TPrnInfo& model, std::uint32_t portFlags) {
  return printerfit::IsUpgradable(model, portFlags);
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
