#pragma once

#include "printers/dlprinter.h"
#include "printers/funcs.h"
#include "printers/prninfo.h"

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

// One row of the printer list, as a snapshot of the server describes it.
struct TPrinterRow {
  TPrnInfo Info;         // what QueryPrinter would fill in
  int Read = 1;          // what QueryPrinter would return
  bool Ghosted = false;  // cannot be updated, or the open file is not for it
};

// Name of the settings file's own section.
inline constexpr const char* kSettingsSection = "FWLOAD.INI";
// Section of the model table.
inline constexpr const char* kPrintersSection = "Printers";

// The state of one run of the program apart from the windows: settings, command-line options,
// the open firmware file, the selected printer and the printer model table.
class TFWLOADApp {
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
  std::unique_ptr<TDownDocFile> Doc;
  int WindowLeft = 80;
  int WindowTop = 160;
  int WindowWidth = 480;
  int WindowHeight = 400;
  int ColumnWidths[8] = {200, 60, 50, 40, 120, 0, 0, 0};
  int ShowMessage = 1;
  int EnableCommand = 1;
  int Interactive = 1;
  int ViewLocal = 1;
  std::string FileName;
  int InitMemory = 1;
  // Set by "/IM=": the settings-memory question is answered beforehand.
  bool InitMemoryPreset = false;
  std::uint16_t LastResult = 0;
  std::string OpenFolder;
  std::string SelectedPrinter;
  std::string FtpModel;
  std::string FtpVersion;
  // The FTP printer (host[:port]) FtpModel and FtpVersion were read from or given for; empty:
  // none. Another printer is always asked for its own.
  std::string FtpModelAddress;
  TDLPrinterList ModelTable;
  TPrnInfo PrinterInfo;

  // ---- application model ----
  TDownDocFile* GetDoc() const { return Doc.get(); }
  void OpenFile(const std::string& path);
  const std::string& GetFileName() const { return FileName; }
  int GetColumnWidth(int index) const;
  void SetColumnWidth(int index, int width);
  // Remembers an FTP printer's model and version; `address` (as typed or a target) names the
  // printer they belong to, none when empty.
  void SetFtpPrinterInfo(const std::string& model, const std::string& version,
                         const std::string& address = std::string());
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
  int LookupModel(TPrnInfo& info) const;
  int IsTargetModel(const std::string& name);
  int IsCommandModel(const std::string& name);
  int IsUpgradable(const std::string& name);
  int IsFileForPrinter(const std::string& name);
  // The rules of IsUpgradable and IsFileForPrinter for a model already looked up.
  static int UpgradableOf(const TPrnInfo& model, std::uint32_t portFlags);
  int FileFitsModel(const TPrnInfo& model) const;

  // ---- printer catalogue ----
  int QueryPrinter(const std::string& name, TPrnInfo& info);
  // Copies an open printer's spooler data into `info`; 0 (and `info` unchanged) when the spooler
  // cannot give it.
  int ReadSpoolerInfo(platform::ISpoolPrinter& printer, TPrnInfo& info);
  static void CopySpoolerData(const platform::SpoolPrinterData& data, TPrnInfo& info);
  std::string DriverNameOf(const std::string& name);
  // A row of the printer list from a snapshot, without asking the server.
  TPrinterRow PrinterRowOf(const TPrinterSnapshot::Printer& printer) const;

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
  // Whether the remembered FTP model belongs to the printer at `address`.
  bool RemembersFtpPrinter(const std::string& address) const;

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
