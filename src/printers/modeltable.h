#pragma once

#include "printers/dlprinter.h"
#include "printers/prninfo.h"

#include <filesystem>

class TDownDocFile;

// Section of the settings file that holds the model table.
inline constexpr const char* kPrintersSection = "Printers";

// The printer model table as the settings file gives it: the user's rows, the rows firmware
// files brought, and the built-in rows wherever those keys have no value.
class ModelTable : public TDLPrinterList {
 public:
  // Reads the table from the settings file; the built-in rows count even when the file cannot be
  // written, or no printer would be a target.
  void Load(const std::filesystem::path& settingsFile);
  // Writes the built-in rows into the settings file where their keys have no value.
  static void MergeBuiltin(const std::filesystem::path& settingsFile);
  // Writes the models a firmware file names into the settings file.
  static void StoreFileModels(const TDownDocFile& doc, const std::filesystem::path& settingsFile);
  // Fills the model fields of `info` from the row that names its Driver. Returns 1.
  int Lookup(TPrnInfo& info) const;
};
