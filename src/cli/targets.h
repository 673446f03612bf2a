#pragma once

#include "cli/console.h"
#include "cli/outcome.h"
#include "download/downloadoptions.h"
#include "printers/dlprinter.h"

#include <optional>
#include <string>
#include <vector>

// The targets of a send, resolved before anything is asked or sent: queue names against the print
// server (without regard to letter case), FTP addresses through the one address parser, the same
// printer named twice kept once.
namespace cli {

struct ResolvedTarget {
  DownloadTarget Target;  // what the session gets
  TargetOutcome Outcome;  // what is known so far; its Code is final when Refused
  bool Refused = false;   // not sent: unknown queue, no model known for an FTP printer
};

// A target that is neither a queue name nor an FTP address: why, for a usage error; nullopt when
// the text can name a printer.
std::optional<std::string> MalformedTarget(const std::string& given);

// Resolves every target in argument order; a target naming a printer named before is left out
// (and said so on the console). `model` is --model.
std::vector<ResolvedTarget> ResolveTargets(const std::vector<std::string>& given,
                                           const TDLPrinterList& models, const std::string& model,
                                           Console& console);

}  // namespace cli
