// The printer catalogue: what the spooler and FTP printers say about a printer.
#include "printers/myapp.h"

#include "app/codes.h"
#include "download/accesslib.h"
#include "platform/spooler.h"
#include "platform/text.h"
#include "printers/funcs.h"

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

std::optional<std::string> PrintersFingerprint() {
  const platform::SpoolerSnapshot snapshot;
  std::vector<std::string> names;
  if (platform::Spooler().EnumPrinters(names) != platform::SpoolStatus::Ok) return std::nullopt;
  std::string print;
  for (const std::string& name : names) {
    print += name;
    print += '\0';
    if (const auto printer = platform::Spooler().OpenPrinter(name)) {
      if (const auto data = printer->GetData()) {
        for (const std::string* field :
             {&data->Driver, &data->Port, &data->Location, &data->Comment, &data->DeviceUri}) {
          print += *field;
          print += '\0';
        }
      }
    }
    print += '\n';
  }
  return print;
}

std::uint32_t GetPortFlags(const std::string& printerName) {
  const std::unique_ptr<platform::ISpoolPrinter> printer =
      platform::Spooler().OpenPrinter(printerName);
  if (!printer) return 0;
  const std::optional<platform::SpoolPrinterData> data = printer->GetData();
  return data ? PortFlagsOf(data->Port) : 0;
}

int TFWLOADApp::ReadSpoolerInfo(platform::ISpoolPrinter& printer, TPrnInfo& info) {
  const std::optional<platform::SpoolPrinterData> data = printer.GetData();
  if (!data) return 0;
  // Names and ports are kept whole: a cut name would name another printer or none.
  info.Name = data->Name;
  info.Driver = text::CutCp932(data->Driver, kPrnTextLimit);
  info.Port = data->Port;
  info.Location = text::CutCp932(data->Location, kPrnTextLimit);
  info.Comment = text::CutCp932(OneLine(data->Comment), kPrnTextLimit);
  return 1;
}

int TFWLOADApp::QueryPrinter(const std::string& name, TPrnInfo& info) {
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
  LookupModel(info);
  return result;
}

std::string TFWLOADApp::DriverNameOf(const std::string& name) {
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
