#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Whether the printer runs the file's version after the download.
enum class Verified {
  Updated,    // it reports the file's version
  Unchanged,  // it still reports another version after the wait
  Unknown,    // it did not answer
  Skipped,    // not asked
};

// Where a download stands in the history.
enum class RecordState {
  Pending,      // started, no result yet
  Done,         // the result is in
  Interrupted,  // started by a process that ended without a result
};

// What one download was: the file, the printer, the outcome. Texts are UTF-8.
struct DownloadRecord {
  using Time = std::chrono::system_clock::time_point;

  Time Started{};
  std::optional<Time> Ended;
  std::filesystem::path File;  // as given, byte for byte (it need not be UTF-8)
  std::string Description;     // the file's DownLoadDesc
  std::string Version;         // the file's DownLoadVersion
  std::string Target;          // queue name, or the canonical ftp:// address
  std::string Port;
  std::string Model;       // driver name, or the model the printer reported
  std::uint16_t Code = 0;  // the program's result code, 0 = success
  int MessageId = 0;       // the result message's id and text
  std::string Message;
  std::uint64_t Bytes = 0;  // bytes sent to the printer
  double Seconds = 0;       // how long the transfer took
  std::optional<std::string> VersionBefore;
  std::optional<std::string> VersionAfter;
  Verified Verify = Verified::Skipped;
  RecordState State = RecordState::Pending;
  bool Transferred = false;  // the transfer ran: Code is its result
  int StoppedBy = 0;         // message id of the confirmation that stopped it; 0: none did
  int ExitCode = 0;          // what an unattended run of this download ends with

  bool operator==(const DownloadRecord&) const = default;
};

// The words the history file and the command line's JSON use for the two enumerations.
constexpr std::string_view VerifiedName(Verified v) {
  switch (v) {
    case Verified::Updated:
      return "updated";
    case Verified::Unchanged:
      return "unchanged";
    case Verified::Unknown:
      return "unknown";
    case Verified::Skipped:
      break;
  }
  return "skipped";
}

constexpr std::string_view StateName(RecordState s) {
  switch (s) {
    case RecordState::Pending:
      return "pending";
    case RecordState::Done:
      return "done";
    case RecordState::Interrupted:
      break;
  }
  return "interrupted";
}

// A file written by a newer program may use more words: an unknown result reads as Unknown, an
// unknown state as Pending (so that whether its process still runs decides it).
constexpr Verified VerifiedFromName(std::string_view name) {
  for (Verified v : {Verified::Updated, Verified::Unchanged, Verified::Skipped}) {
    if (VerifiedName(v) == name) return v;
  }
  return Verified::Unknown;
}

constexpr RecordState StateFromName(std::string_view name) {
  if (name == StateName(RecordState::Done)) return RecordState::Done;
  if (name == StateName(RecordState::Interrupted)) return RecordState::Interrupted;
  return RecordState::Pending;
}
