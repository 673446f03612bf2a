#pragma once

#include "common/downloadrecord.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Whether a printer runs a firmware file's version, from what the printer reports over IPP.
namespace versioncheck {

// Versions compare without blanks and a leading "V", and without regard to letter case
// ("V1.23", "v 1.23" and "1.23" are one version).
bool SameVersion(std::string_view a, std::string_view b);

// Where the printer behind `target` is asked: an FTP target itself, or a queue's device URI when
// it is "ipp://", "ipps://" or "socket://"; nullopt when the printer cannot be asked (another
// kind of device, a class, an unknown queue).
std::optional<std::string> AddressOf(const std::string& target);

// The version the printer at `address` reports; nullopt when it does not answer (or answers
// without a version).
std::optional<std::string> AskVersion(const std::string& address);

struct Outcome {
  Verified Result = Verified::Skipped;
  std::optional<std::string> After;  // the last version the printer reported
};

// After a download: asks the printer every `interval` until it reports `wanted` or `wait` has
// passed (a printer restarting does not answer for a while). Updated when it reports `wanted`;
// Unchanged when its last answer was another version; Unknown when the last ask went unanswered.
// `stopped` ends the wait early (a signal), with what was known by then.
Outcome WaitForVersion(const std::string& address, const std::string& wanted,
                       std::chrono::seconds wait, std::chrono::milliseconds interval,
                       const std::function<bool()>& stopped);

}  // namespace versioncheck
