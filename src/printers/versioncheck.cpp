#include "printers/versioncheck.h"

#include "platform/spooler.h"
#include "printers/accesslib.h"
#include "printers/funcs.h"

#include <algorithm>
#include <cctype>
#include <thread>

namespace versioncheck {

namespace {

std::string Normalised(std::string_view version) {
  std::string out;
  for (const char c : version) {
    if (!std::isspace(static_cast<unsigned char>(c))) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  if (!out.empty() && out[0] == 'V') out.erase(0, 1);
  return out;
}

}  // namespace

bool SameVersion(std::string_view a, std::string_view b) {
  const std::string na = Normalised(a);
  return !na.empty() && na == Normalised(b);
}

std::optional<std::string> AddressOf(const std::string& target) {
  if (IsFtpTarget(target)) return target;
  const auto printer = platform::Spooler().OpenPrinter(target);
  if (!printer) return std::nullopt;
  const auto data = printer->GetData();
  if (!data) return std::nullopt;
  const std::string& uri = data->DeviceUri;
  for (const char* scheme : {"ipp://", "ipps://", "socket://"}) {
    if (uri.starts_with(scheme)) return uri;
  }
  return std::nullopt;
}

std::optional<std::string> AskVersion(const std::string& address) {
  std::string model;
  std::string version;
  std::uint32_t lastError = 0;
  if (!AccessLibrary().GetFtpPrinterInfo(address, model, version, lastError)) return std::nullopt;
  if (Normalised(version).empty()) return std::nullopt;
  return version;
}

Outcome WaitForVersion(const std::string& address, const std::string& wanted,
                       std::chrono::seconds wait, std::chrono::milliseconds interval,
                       const std::function<bool()>& stopped) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + wait;
  Outcome outcome;
  outcome.Result = Verified::Unknown;
  for (;;) {
    if (const auto version = AskVersion(address)) {
      outcome.After = version;
      if (SameVersion(*version, wanted)) {
        outcome.Result = Verified::Updated;
        return outcome;
      }
      outcome.Result = Verified::Unchanged;
    } else {
      // What counts is the last answer: a printer gone since it answered has not come back.
      outcome.Result = Verified::Unknown;
    }
    if (Clock::now() >= end) return outcome;
    // Short steps, so that a signal ends the wait at once; the last question comes at its end.
    const Clock::time_point next = std::min(Clock::now() + interval, end);
    while (Clock::now() < next) {
      if (stopped && stopped()) return outcome;
      std::this_thread::sleep_for(std::min<Clock::duration>(next - Clock::now(),
                                                            std::chrono::milliseconds(100)));
    }
  }
}

}  // namespace versioncheck
