#pragma once

#include <cstdint>
#include <string>

// What the user is told about a result code: message id, box style and help topic.
struct ResultMessage {
  int id = 0;
  unsigned style = 0;
  int help = 0;
  std::string Text() const;
};

ResultMessage ResultMessageOf(std::uint16_t code);

// Exit codes of an unattended run: 0 downloaded; otherwise why not (also in the README).
namespace exitcode {
constexpr int kSuccess = 0;
constexpr int kAlreadyRunning = 1;
constexpr int kStartFailed = 2;
constexpr int kCancelled = 3;          // a confirmation or the model choice was cancelled
constexpr int kFileUnusable = 4;       // no file, file not found, or it failed to open
constexpr int kNoPrinter = 5;          // no printer chosen
constexpr int kVersionUnchanged = 37;  // after the wait the printer reports another version
constexpr int kVersionUnknown = 38;    // the printer's version could not be confirmed
constexpr int kAborted = 40;           // the transfer was aborted
constexpr int kOtherFailure = 99;
// A transfer's result code 17, 18, 32 to 36 is the exit code itself.
int OfResult(std::uint16_t code);
}  // namespace exitcode
