#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The command line of fwload-cli, taken apart before anything is opened or asked.
namespace cli {

enum class Command { Help, Version, Inspect, Printers, Send, History };

struct CommandLine {
  Command What = Command::Help;
  std::string File;
  std::vector<std::string> Targets;  // as given, in argument order
  bool Json = false;
  bool Yes = false;
  bool NoCommand = false;
  std::optional<bool> InitMemory;  // --memory init (true) or keep (false)
  std::string Model;               // --model: for FTP printers that report none
  int Parallel = 4;
  std::optional<std::chrono::seconds> Verify;
  std::size_t Limit = 0;  // history rows; 0: all
};

struct ParsedCommandLine {
  CommandLine Line;
  // Empty when the line is usable; otherwise what is wrong with it, for a usage error (exit 2).
  std::string Error;
  bool Ok() const { return Error.empty(); }
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text of --help.
const char* UsageText();

// The default wait of --verify without a value.
inline constexpr std::chrono::seconds kDefaultVerify{300};

}  // namespace cli
