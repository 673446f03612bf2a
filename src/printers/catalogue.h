#pragma once

#include "printers/funcs.h"
#include "printers/modeltable.h"
#include "printers/prninfo.h"

#include <cstdint>
#include <memory>
#include <string>

class TDownDocFile;

// One row of the printer list, as a snapshot of the server describes it.
struct TPrinterRow {
  TPrnInfo Info;         // what QueryPrinter would fill in
  int Read = 1;          // what QueryPrinter would return
  bool Ghosted = false;  // cannot be updated, or the open file is not for it
};

// What the program knows of printers and of the open firmware file: it asks the spooler and FTP
// printers, remembers what an FTP printer said, and judges through the fit rule whether a printer
// can take the file. It owns the open file and the selected printer's record.
class PrinterCatalogue {
 public:
  explicit PrinterCatalogue(const ModelTable& models);
  ~PrinterCatalogue();
  PrinterCatalogue(const PrinterCatalogue&) = delete;
  PrinterCatalogue& operator=(const PrinterCatalogue&) = delete;

  std::unique_ptr<TDownDocFile> Doc;
  std::string SelectedPrinter;
  TPrnInfo PrinterInfo;
  // What the last FTP printer asked (or given on the command line) reported, and its host[:port];
  // another printer is always asked for its own.
  std::string FtpModel;
  std::string FtpVersion;
  std::string FtpModelAddress;

  int QueryPrinter(const std::string& name, TPrnInfo& info);
  // Copies an open printer's spooler data into `info`; 0 (and `info` unchanged) when the spooler
  // cannot give it.
  static int ReadSpoolerInfo(platform::ISpoolPrinter& printer, TPrnInfo& info);
  static void CopySpoolerData(const platform::SpoolPrinterData& data, TPrnInfo& info);
  std::string DriverNameOf(const std::string& name);
  // A row of the printer list from a snapshot, without asking the server.
  TPrinterRow PrinterRowOf(const TPrinterSnapshot::Printer& printer) const;
  void SetFtpPrinterInfo(const std::string& model, const std::string& version,
                         const std::string& address);

  // The model questions by printer name: the printer's driver, judged by the fit rule.
  int IsTargetModel(const std::string& name);
  int IsCommandModel(const std::string& name);
  int IsUpgradable(const std::string& name);
  int IsFileForPrinter(const std::string& name);
  int FileFitsModel(const TPrnInfo& model) const;

 private:
  // Whether the remembered FTP model belongs to the printer at `address`.
  bool RemembersFtpPrinter(const std::string& address) const;

  const ModelTable& FModels;
};
