#pragma once

#include "download/printthread.h"
#include "printers/prninfo.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class HistoryStore;

// What shapes one download command beyond the file and the printer.
struct DownloadOptions {
  // Off: confirmations and result messages count as answered with OK and are not shown. The
  // input checks and the settings-memory question are asked all the same.
  bool ShowMessage = true;
  // Off: the printer never receives the download command.
  bool EnableCommand = true;
  // The settings-memory check box's state when the question is asked.
  int InitMemory = 1;
  // The settings-memory question was answered beforehand (InitMemory is the answer): not asked.
  bool InitMemoryPreset = false;
  // The transfer's waits.
  TransferTimings Timings;
  // Where the download file is made; empty: the program's temporary folder.
  std::filesystem::path TempDir;
  // The download log; empty: no entry is written.
  std::filesystem::path LogFile;
  // Several downloads of one run log into one file: an entry whose key its section already holds
  // goes into a section " (2)", " (3)"... of the same time instead of replacing it.
  bool LogKeepsEveryEntry = false;
  // After a success, wait up to this long until the printer reports the file's version; nullopt:
  // the printer is not asked.
  std::optional<std::chrono::seconds> Verify;
  // Between two questions to a printer that has not yet reported the file's version.
  std::chrono::milliseconds VerifyInterval{5000};
  // The history that records the download (one store for every session of the process, so that
  // its notices are told once); none: no history.
  HistoryStore* History = nullptr;
};

// The printer a download goes to, as resolved before the command runs.
struct DownloadTarget {
  // A queue name or an "ftp://" target, used whole.
  std::string Name;
  // What is known of it: its driver (or the model an FTP printer reported or was given) and its
  // port as shown; the model fields are looked up by the session.
  TPrnInfo Info;
  // Its port flags (kPortParallel, kPortSeveral); 0 for an FTP printer.
  std::uint32_t PortFlags = 0;
};
