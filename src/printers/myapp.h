#pragma once

#include "printers/catalogue.h"
#include "printers/funcs.h"
#include "printers/modeltable.h"
#include "printers/prninfo.h"
#include "printers/settings.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class TDownDocFile;

// Asks the user for a printer's model when the printer reports none (the model choice dialog).
class IModelChooser {
 public:
  virtual ~IModelChooser() = default;
  // True with the chosen model name when the user confirmed a choice.
  virtual bool ChooseModel(std::string& modelName) = 0;
};

// The state of one run of the program apart from the windows, as the windows know it: a facade
// over the settings, the model table and the printer catalogue, with the command line's options.
class TFWLOADApp {
  // The parts come first: the members below refer into them.
  Settings FSettings;
  ::ModelTable FModels;
  PrinterCatalogue FCatalogue{FModels};

 public:
  // Reads the settings file, loads the model table and applies the arguments (program name not
  // included), in that order. `settingsFile` defaults to the user's FWLOAD.INI.
  explicit TFWLOADApp(std::vector<std::string> arguments = {},
                      std::filesystem::path settingsFile = {});
  // Writes the settings back.
  ~TFWLOADApp();
  TFWLOADApp(const TFWLOADApp&) = delete;
  TFWLOADApp& operator=(const TFWLOADApp&) = delete;

  // ---- members, in the order the rest of the program knows them ----
  // They are the parts' own values: Settings, the ModelTable and the PrinterCatalogue.
  std::unique_ptr<TDownDocFile>& Doc = FCatalogue.Doc;
  int (&ColumnWidths)[8] = FSettings.ColumnWidths;
  int& ShowMessage = FSettings.ShowMessage;
  int& EnableCommand = FSettings.EnableCommand;
  int Interactive = 1;
  int& ViewLocal = FSettings.ViewLocal;
  std::string FileName;
  int InitMemory = 1;
  // Set by "/IM=": the settings-memory question is answered beforehand.
  bool InitMemoryPreset = false;
  std::uint16_t LastResult = 0;
  std::string& OpenFolder = FSettings.OpenFolder;
  std::string& SelectedPrinter = FCatalogue.SelectedPrinter;
  std::string& FtpModel = FCatalogue.FtpModel;
  std::string& FtpVersion = FCatalogue.FtpVersion;
  std::string& FtpModelAddress = FCatalogue.FtpModelAddress;
  ::ModelTable& ModelTable = FModels;
  TPrnInfo& PrinterInfo = FCatalogue.PrinterInfo;

  PrinterCatalogue& Catalogue() { return FCatalogue; }

  // ---- application model ----
  TDownDocFile* GetDoc() const { return Doc.get(); }
  void OpenFile(const std::string& path);
  const std::string& GetFileName() const { return FileName; }
  int GetColumnWidth(int index) const;
  void SetColumnWidth(int index, int width);
  // Remembers an FTP printer's model and version; `address` (as typed or a target) names the
  // printer they belong to, none when empty.
  void SetFtpPrinterInfo(const std::string& model, const std::string& version,
                         const std::string& address = std::string()) {
    FCatalogue.SetFtpPrinterInfo(model, version, address);
  }
  void SelectPrinter(const std::string& name);

  // ---- settings file and command line ----
  void LoadSettings();
  void SaveSettings();
  void ParseCommandLine();
  const std::filesystem::path& SettingsFile() const { return FSettingsFile; }

  // ---- model table ----
  void LoadModelTable();
  void MergeBuiltinModels();
  void StoreFileModels();
  int LookupModel(TPrnInfo& info) const { return FModels.Lookup(info); }
  int IsTargetModel(const std::string& name) { return FCatalogue.IsTargetModel(name); }
  int IsCommandModel(const std::string& name) { return FCatalogue.IsCommandModel(name); }
  int IsUpgradable(const std::string& name) { return FCatalogue.IsUpgradable(name); }
  int IsFileForPrinter(const std::string& name) { return FCatalogue.IsFileForPrinter(name); }
  // The rules of IsUpgradable and IsFileForPrinter for a model already looked up.
  static int UpgradableOf(const TPrnInfo& model, std::uint32_t portFlags);
  int FileFitsModel(const TPrnInfo& model) const { return FCatalogue.FileFitsModel(model); }

  // ---- printer catalogue ----
  int QueryPrinter(const std::string& name, TPrnInfo& info) {
    return FCatalogue.QueryPrinter(name, info);
  }
  int ReadSpoolerInfo(platform::ISpoolPrinter& printer, TPrnInfo& info) {
    return PrinterCatalogue::ReadSpoolerInfo(printer, info);
  }
  static void CopySpoolerData(const platform::SpoolPrinterData& data, TPrnInfo& info) {
    PrinterCatalogue::CopySpoolerData(data, info);
  }
  std::string DriverNameOf(const std::string& name) { return FCatalogue.DriverNameOf(name); }
  TPrinterRow PrinterRowOf(const TPrinterSnapshot::Printer& printer) const {
    return FCatalogue.PrinterRowOf(printer);
  }

  // ---- the run the command line starts ----
  // A run nobody watches: "/NO" with the confirmations off. Its boxes go to standard error and
  // its model question counts as cancelled.
  bool Unattended() const { return Interactive == 0 && ShowMessage == 0; }
  // "/NO" and "/NM" shape only the run they start: once it has ended (or could not start), the
  // program goes on as if started without them.
  void EndCommandLineRun();

  // The dialog that SelectPrinter shows when a printer reports no model; none: cancelled.
  void SetModelChooser(IModelChooser* chooser) { FModelChooser = chooser; }

 private:
  std::vector<std::string> FArguments;
  std::filesystem::path FSettingsFile;
  IModelChooser* FModelChooser = nullptr;
  int FSettingsShowMessage = 1;  // ShowMessage as the settings file has it
};

// The one application model of the running program (set up in main, before any window).
extern TFWLOADApp* Myapp;

// Whether an argument is a toolkit option that takes the next argument as its value
// ("-platform offscreen", "-style fusion").
bool IsToolkitOptionWithValue(const std::string& argument);

// Whether a command-line argument is a switch: it begins with "/" and the part before its first
// "=" holds no other "/", so that an absolute path is never taken for a switch.
bool IsSwitchArgument(const std::string& argument);
