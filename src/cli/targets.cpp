// Resolving the targets of a send before anything is asked or sent.
#include "cli/targets.h"

#include "common/codes.h"
#include "common/ftpaddress.h"
#include "common/resultmessages.h"
#include "platform/text.h"
#include "printers/accesslib.h"
#include "printers/catalogue.h"
#include "printers/funcs.h"
#include "printers/printerfit.h"

#include <algorithm>
#include <set>

namespace cli {

namespace {

constexpr std::string_view kScheme = ftpaddress::kScheme;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return text;
}

bool HasFtpScheme(const std::string& given) {
  return given.size() >= kScheme.size() && Lower(given.substr(0, kScheme.size())) == kScheme;
}

// The scheme in the letter case the parser takes.
std::string WithLowerScheme(const std::string& given) {
  return std::string(kScheme) + given.substr(kScheme.size());
}

void Refuse(ResolvedTarget& r, std::uint16_t resultCode, int exitCode) {
  const ResultMessage m = ResultMessageOf(resultCode);
  r.Refused = true;
  r.Outcome.Code = exitCode;
  r.Outcome.MessageId = m.id;
  r.Outcome.Message = m.Text();
}

void SetModel(ResolvedTarget& r, const TDLPrinterList& models) {
  const TPrnInfo model = printerfit::ModelOf(models, r.Target.Info.Driver);
  r.Outcome.Model = r.Target.Info.Driver;
  if (model.Known) {
    r.Outcome.ModelCode = model.CodeText;
    r.Outcome.TakesCommand = model.Command != 0;
  }
}

ResolvedTarget ResolveFtp(const std::string& given, const TDLPrinterList& models,
                          const std::string& fallbackModel, Console& console) {
  ResolvedTarget r;
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseTarget(WithLowerScheme(given));
  r.Target.Name = parsed.Address.Target();
  r.Target.Info.Port = r.Target.Name;
  r.Outcome.Target = r.Target.Name;
  r.Outcome.Ftp = true;
  r.Outcome.Port = r.Target.Name;

  std::string model;
  std::string version;
  std::uint32_t lastError = 0;
  const bool answered =
      AccessLibrary().GetFtpPrinterInfo(parsed.Address.Authority(), model, version, lastError);
  model = text::CutCp932(model, kPrnTextLimit);
  if (!answered || model.empty()) {
    if (fallbackModel.empty()) {
      // The window would ask which model it is; nobody answers here.
      r.Refused = true;
      r.Outcome.Code = exitcode::kCancelled;
      console.Progress(r.Outcome.Target + ": the printer reports no model" +
                       (answered ? "" : " (it did not answer)") +
                       "; --model MODEL names it. Not sent (3)");
      return r;
    }
    model = fallbackModel;
  }
  r.Target.Info.Driver = model;
  r.Target.Info.Version = text::CutCp932(version, kVersionLimit);
  SetModel(r, models);
  return r;
}

ResolvedTarget ResolveQueue(const std::string& given, const TPrinterSnapshot& snapshot,
                            const TDLPrinterList& models) {
  ResolvedTarget r;
  r.Target.Name = given;
  r.Outcome.Target = given;
  const std::string wanted = Lower(given);
  const auto found =
      std::find_if(snapshot.Printers.begin(), snapshot.Printers.end(),
                   [&](const TPrinterSnapshot::Printer& p) { return Lower(p.Name) == wanted; });
  if (found == snapshot.Printers.end() || !found->Opened || !found->Data) {
    Refuse(r, rc::kPrinterOpen, rc::kPrinterOpen);
    return r;
  }
  r.Target.Name = found->Name;
  PrinterCatalogue::CopySpoolerData(*found->Data, r.Target.Info);
  r.Target.PortFlags = PortFlagsOf(r.Target.Info.Port);
  r.Outcome.Target = found->Name;
  r.Outcome.Port = r.Target.Info.Port;
  SetModel(r, models);
  return r;
}

// The printer a resolved target names, for finding the same one named twice.
std::string KeyOf(const ResolvedTarget& r) {
  if (!r.Outcome.Ftp) return "queue:" + Lower(r.Target.Name);
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseTarget(r.Target.Name);
  return Lower(parsed.Address.Authority()) + "/" + parsed.Address.Directory;
}

}  // namespace

std::optional<std::string> MalformedTarget(const std::string& given) {
  if (given.empty()) return "an empty TARGET names no printer";
  if (HasFtpScheme(given)) {
    const ftpaddress::ParsedAddress parsed = ftpaddress::ParseTarget(WithLowerScheme(given));
    // An unusable directory is the transfer's to refuse (35), with its message.
    if (!parsed.HostOk()) {
      return "'" + given + "' is no FTP address: give ftp://host[:port][/dir]";
    }
    return std::nullopt;
  }
  const bool url = given.find("://") != std::string::npos;
  const bool queueChars = std::none_of(given.begin(), given.end(), [](unsigned char c) {
    return c <= ' ' || c == '/' || c == '#' || c == 0x7F;
  });
  if (url || !queueChars) {
    return "'" + given + "' is neither a queue name nor an FTP address (ftp://host[:port][/dir])";
  }
  return std::nullopt;
}

std::vector<ResolvedTarget> ResolveTargets(const std::vector<std::string>& given,
                                           const TDLPrinterList& models, const std::string& model,
                                           Console& console) {
  const bool anyQueue = std::any_of(given.begin(), given.end(),
                                    [](const std::string& g) { return !HasFtpScheme(g); });
  // One request for every queue of the server.
  const TPrinterSnapshot snapshot = anyQueue ? GatherPrinters() : TPrinterSnapshot{};
  std::vector<ResolvedTarget> resolved;
  std::set<std::string> seen;
  for (const std::string& g : given) {
    ResolvedTarget r =
        HasFtpScheme(g) ? ResolveFtp(g, models, model, console) : ResolveQueue(g, snapshot, models);
    if (!seen.insert(KeyOf(r)).second) {
      console.Progress(g + ": the same printer as " + r.Outcome.Target +
                       " named before; sent once");
      continue;
    }
    resolved.push_back(std::move(r));
  }
  return resolved;
}

}  // namespace cli
