#pragma once

#include "common/downloadrecord.h"

#include <cstdint>
#include <optional>
#include <string>

// What fwload-cli reports of one target: how it was resolved and how its download ended. A value
// that does not apply stays empty (null in the JSON document).
namespace cli {

struct TargetOutcome {
  std::string Target;  // the queue name as the server spells it, or the canonical ftp:// address
  bool Ftp = false;
  std::string Port;
  std::string Model;
  std::optional<std::string> ModelCode;
  std::optional<bool> TakesCommand;
  int Code = 0;  // the target's exit code (the unattended run's table)
  std::optional<int> MessageId;
  std::optional<std::string> Message;
  std::optional<int> StoppedBy;
  std::optional<int> JobId;
  std::optional<std::uint64_t> Bytes;
  std::optional<double> Seconds;
  std::optional<std::string> VersionBefore;
  std::optional<std::string> VersionAfter;
  std::optional<Verified> Verify;
  bool Started = false;  // a session ran for it
};

}  // namespace cli
