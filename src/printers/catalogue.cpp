// The printer catalogue: what the spooler and FTP printers say about a printer.
#include "printers/catalogue.h"

#include "common/codes.h"
#include "common/ftpaddress.h"
#include "firmware/dwndoc.h"
#include "platform/spooler.h"
#include "platform/text.h"
#include "printers/accesslib.h"
#include "printers/funcs.h"
#include "printers/printerfit.h"

#include <new>

namespace {

// Asks the FTP printer at `host` for its model and version; an address without a host reaches
// nobody.
bool AskFtpPrinter(const std::optional<std::string>& host, std::string& model, std::string& version,
                   std::uint32_t& lastError) {
  if (!host) {
    lastError = accesscode::kSendFailed;
    return false;
  }
  return AccessLibrary().GetFtpPrinterInfo(*host, model, version, lastError);
}

// Every carriage return and line feed becomes "/", so a comment shows on one line.
std::string OneLine(std::string comment) {
  for (char& c : comment) {
    if (c == '\r' || c == '\n') c = '/';
  }
  return comment;
}

}  // namespace

int EnumPrinterNames(std::vector<std::string>& names) {
  try {
    std::vector<std::string> found;
    switch (platform::Spooler().EnumPrinters(found)) {
      case platform::SpoolStatus::Ok:
      case platform::SpoolStatus::NotFound:
        break;
      case platform::SpoolStatus::Unreachable:
      case platform::SpoolStatus::Failed:
        return kEnumSpoolerUnreachable;
    }
    names.insert(names.end(), found.begin(), found.end());
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  return 0;
}

TPrinterSnapshot GatherPrinters() {
  TPrinterSnapshot s;
  try {
    // One request to the server for the whole list.
    const platform::SpoolerSnapshot snapshot;
    std::vector<std::string> names;
    s.Result = EnumPrinterNames(names);
    std::string print;
    for (std::string& name : names) {
      TPrinterSnapshot::Printer p;
      p.Name = std::move(name);
      if (const auto printer = platform::Spooler().OpenPrinter(p.Name)) {
        p.Opened = true;
        p.Data = printer->GetData();
      }
      print += p.Name;
      print += '\0';
      if (p.Data) {
        for (const std::string* field : {&p.Data->Driver, &p.Data->Port, &p.Data->Location,
                                         &p.Data->Comment, &p.Data->DeviceUri}) {
          print += *field;
          print += '\0';
        }
      }
      print += '\n';
      s.Printers.push_back(std::move(p));
    }
    if (s.Result == 0) s.Fingerprint = std::move(print);
  } catch (const std::bad_alloc&) {
    s = TPrinterSnapshot();
    s.Result = rc::kOutOfMemory;
  }
  return s;
}

std::uint32_t GetPortFlags(const std::string& printerName) {
  const std::unique_ptr<platform::ISpoolPrinter> printer =
      platform::Spooler().OpenPrinter(printerName);
  if (!printer) return 0;
  const std::optional<platform::SpoolPrinterData> data = printer->GetData();
  return data ? PortFlagsOf(data->Port) : 0;
}

PrinterCatalogue::PrinterCatalogue(const ModelTable& models) : FModels(models) {}

PrinterCatalogue::~PrinterCatalogue() = default;

int PrinterCatalogue::ReadSpoolerInfo(platform::ISpoolPrinter& printer, TPrnInfo& info) {
  const std::optional<platform::SpoolPrinterData> data = printer.GetData();
  if (!data) return 0;
  CopySpoolerData(*data, info);
  return 1;
}

void PrinterCatalogue::CopySpoolerData(const platform::SpoolPrinterData& data, TPrnInfo& info) {
  // Names and ports are kept whole: a cut name would name another printer or none.
  info.Name = data.Name;
  info.Driver = text::CutCp932(data.Driver, kPrnTextLimit);
  info.Port = data.Port;
  info.Location = text::CutCp932(data.Location, kPrnTextLimit);
  info.Comment = text::CutCp932(OneLine(data.Comment), kPrnTextLimit);
}

TPrinterRow PrinterCatalogue::PrinterRowOf(const TPrinterSnapshot::Printer& printer) const {
  // What QueryPrinter, IsUpgradable and IsFileForPrinter would say, from the snapshot alone.
  TPrinterRow row;
  row.Info.Name = printer.Name;
  if (printer.Data) {
    CopySpoolerData(*printer.Data, row.Info);
  } else if (printer.Opened) {
    row.Read = 0;  // listed and open, but its data cannot be read
  }
  FModels.Lookup(row.Info);
  // The selected printer counts with the model it was selected with (one the user chose, say).
  TPrnInfo model;
  if (printer.Name == SelectedPrinter)
    model.Driver = PrinterInfo.Driver;
  else if (printer.Data)
    model.Driver = printer.Data->Driver;
  FModels.Lookup(model);
  const std::uint32_t ports = printer.Data ? PortFlagsOf(printer.Data->Port) : 0;
  row.Ghosted = !printerfit::IsUpgradable(model, ports) ||
                (Doc && !printerfit::FileFitsModel(Doc.get(), model, FModels));
  return row;
}

int PrinterCatalogue::QueryPrinter(const std::string& name, TPrnInfo& info) {
  if (name.empty()) return 0;
  int result = 1;
  if (IsFtpTarget(name)) {
    info.Name = FtpModel;
    const std::optional<std::string> host = GetFtpHost(name);
    if (host && RemembersFtpPrinter(*host)) {
      // This printer has been asked already (or its model was given).
      info.Driver = FtpModel;
      info.Version = FtpVersion;
    } else {
      std::string model;
      std::string version;
      std::uint32_t lastError = 0;
      if (AskFtpPrinter(host, model, version, lastError)) {
        info.Driver = text::CutCp932(model, kPrnTextLimit);
        info.Version = text::CutCp932(version, kVersionLimit);
      } else if (lastError == accesscode::kModelUnknown) {
        // Reached, but it names no model: the user is asked for it (SelectPrinter).
        info.Driver.clear();
        info.Version.clear();
      } else {
        // Not reached: no row names "???", so the printer is no update target.
        info.Driver = "???";
        info.Version.clear();
      }
      SetFtpPrinterInfo(info.Driver, info.Version, host.value_or(std::string()));
    }
    info.Port = name;
    info.Location.clear();
    info.Comment.clear();
  } else {
    const std::unique_ptr<platform::ISpoolPrinter> printer = platform::Spooler().OpenPrinter(name);
    if (printer) result = ReadSpoolerInfo(*printer, info);
    if (!printer || result == 0) {
      // Nothing of a printer asked before may decide anything about this one.
      info.Clear();
      info.Name = name;
    }
    info.Version.clear();
  }
  FModels.Lookup(info);
  return result;
}

std::string PrinterCatalogue::DriverNameOf(const std::string& name) {
  if (name == SelectedPrinter) return PrinterInfo.Driver;
  if (IsFtpTarget(name)) {
    const std::optional<std::string> host = GetFtpHost(name);
    std::string model;
    std::string version;
    std::uint32_t lastError = 0;
    if (AskFtpPrinter(host, model, version, lastError)) {
      SetFtpPrinterInfo(text::CutCp932(model, kPrnTextLimit),
                        text::CutCp932(version, kVersionLimit), *host);
    }
    // What another printer said is no answer for this one.
    return host && RemembersFtpPrinter(*host) ? FtpModel : std::string();
  }
  const std::unique_ptr<platform::ISpoolPrinter> printer = platform::Spooler().OpenPrinter(name);
  if (!printer) return std::string();
  const std::optional<platform::SpoolPrinterData> data = printer->GetData();
  return data ? data->Driver : std::string();
}

// The model questions by printer name ask for the printer's driver (the selected printer answers
// from its record) and leave the rule to the fit functions.
int PrinterCatalogue::IsTargetModel(const std::string& name) {
  return printerfit::IsTargetModel(FModels, DriverNameOf(name));
}

int PrinterCatalogue::IsCommandModel(const std::string& name) {
  return printerfit::IsCommandModel(FModels, DriverNameOf(name));
}

int PrinterCatalogue::IsUpgradable(const std::string& name) {
  const TPrnInfo model = printerfit::ModelOf(FModels, DriverNameOf(name));
  // The ports are asked only when the rule needs them: it costs the print server a request.
  const bool needsPorts = model.Known && !model.Command;
  return printerfit::IsUpgradable(model, needsPorts ? GetPortFlags(name) : 0);
}

int PrinterCatalogue::IsFileForPrinter(const std::string& name) {
  if (!Doc || Doc->FDownLoadPrinter.empty()) return 0;
  return printerfit::IsFileForPrinter(Doc.get(), printerfit::ModelOf(FModels, DriverNameOf(name)),
                                      FModels);
}

int PrinterCatalogue::FileFitsModel(const TPrnInfo& printer) const {
  return printerfit::FileFitsModel(Doc.get(), printer, FModels);
}

void PrinterCatalogue::SetFtpPrinterInfo(const std::string& model, const std::string& version,
                                         const std::string& address) {
  FtpModel = model;
  FtpVersion = version;
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseCommandLine(address);
  FtpModelAddress = parsed.HostOk() ? parsed.Address.Authority() : std::string();
}

bool PrinterCatalogue::RemembersFtpPrinter(const std::string& address) const {
  if (FtpModel.empty() || FtpModelAddress.empty()) return false;
  const ftpaddress::ParsedAddress remembered = ftpaddress::ParseCommandLine(FtpModelAddress);
  const ftpaddress::ParsedAddress asked = ftpaddress::ParseCommandLine(address);
  return remembered.HostOk() && asked.HostOk() &&
         ftpaddress::SamePrinter(remembered.Address, asked.Address);
}
