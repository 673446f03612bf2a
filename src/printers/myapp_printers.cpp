// The printer catalogue: what the spooler and FTP printers say about a printer.
#include "printers/myapp.h"

#include "printers/funcs.h"

int EnumPrinterNames(std::vector<std::string>& /*names*/) { return 0; }

std::uint32_t GetPortFlags(const std::string& /*printerName*/) { return 0; }

int TFWLOADApp::QueryPrinter(const std::string& name, TPrnInfo& info) {
  info.Name = name;
  LookupModel(info);
  return 1;
}

std::string TFWLOADApp::DriverNameOf(const std::string& name) {
  return name == SelectedPrinter ? PrinterInfo.Driver : std::string();
}
