#pragma once

#include "printers/dlprinter.h"
#include "printers/prninfo.h"

#include <cstdint>
#include <string>

class TDownDocFile;

// Whether a firmware file and a printer belong together, from what is known of both: the file,
// the printer's driver (or model) name, its port flags and the model table. Nothing here asks a
// printer or looks at the selected one, so every printer of a list or of several downloads can be
// judged the same way.
namespace printerfit {

// Fills the model fields of `info` (CodeText, Code, Command, Known) from the row that names its
// Driver; a driver no row names gets empty fields. Returns 1.
int LookupModel(const TDLPrinterList& models, TPrnInfo& info);
// A record holding only `driver` and the model fields the table gives it.
TPrnInfo ModelOf(const TDLPrinterList& models, const std::string& driver);

// The driver names a model of the table.
int IsTargetModel(const TDLPrinterList& models, const std::string& driver);
// The driver's model takes the download command.
int IsCommandModel(const TDLPrinterList& models, const std::string& driver);
// A looked-up model can be updated: it takes the command, or its first port is a parallel port.
int IsUpgradable(const TPrnInfo& model, std::uint32_t portFlags);
// One of the file's models has the looked-up model's code. A model not in the table never fits
// merely because the file's models are unknown too: an empty code text matches nothing.
int FileFitsModel(const TDownDocFile* doc, const TPrnInfo& model, const TDLPrinterList& models);
// The file is meant for the looked-up model: 0 without a file or when it names no models.
int IsFileForPrinter(const TDownDocFile* doc, const TPrnInfo& model, const TDLPrinterList& models);

}  // namespace printerfit
