#pragma once

#include "common/downloadrecord.h"
#include "download/downloadask.h"
#include "download/downloadoptions.h"
#include "printers/dlprinter.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class ITransferView;
class TDownDocFile;

// The download command for one printer, without a window: the input checks, the confirmations
// and the settings-memory question (through `ask`), the transfer (shown by the view), the result
// messages, the log entry and the history record. It reads only what it is given and touches no
// global state, so several sessions can run at once, each to its own printer.
//
// Only a transfer is a download: the history gets a pending row just before the transfer starts
// and its result as soon as it ends (before the result messages, which may wait for a person). A
// command stopped by an input check or a confirmation sent nothing and writes no row. Trouble
// with the history never changes the result; the store's notices are told after the result.
class DownloadSession {
 public:
  // `doc` (may be null) and `models` must outlive the session. `fileName` is the file as chosen
  // (checked to exist, and named in the log); `shownState` is the file's state as shown (its
  // description and version), the second half of the log entry's key.
  DownloadSession(const TDownDocFile* doc, std::filesystem::path fileName, std::string shownState,
                  DownloadTarget target, const TDLPrinterList& models, DownloadOptions options,
                  IDownloadAsk& ask);

  // The whole command. The record says how far it came: Transferred when the transfer ran (its
  // Code is then the transfer's result), StoppedBy the confirmation that stopped it, ExitCode the
  // code an unattended run ends with.
  DownloadRecord Run(ITransferView& view);

  // Its steps, for a window's methods of the same names.
  // 1 to go on, 2 when a confirmation or the settings-memory question was not answered OK.
  int ConfirmDownload();
  // The answer of the last box (1 = OK); the choice is kept (InitMemory) even when the follow-up
  // box is cancelled.
  int ConfirmMemoryInit();
  // Shows the result of `code` and what to do next; the answer of the last box.
  int ReportDownloadResult(std::uint16_t code);
  // Adds the entry of a successful download to the log file of the options.
  void WriteDownloadLog(const DownloadRecord& record) const;
  // The message text, box style and help topic of a result code.
  static void GetResultMessage(std::uint16_t code, std::string& text, unsigned& style, int& help);

  // The settings-memory answer, as given or as it was when the session began.
  int InitMemory() const { return FOptions.InitMemory; }
  // The message id of the confirmation that stopped the command; 0 when none did.
  int StoppedBy() const { return FStoppedBy; }

 private:
  // A confirmation: OK without asking when confirmations are off, Cancel once stopping.
  int Confirm(int messageId, const std::string& text, unsigned style, int help);
  // A result message, skipped like a confirmation; its answer.
  int Report(int messageId, const std::string& text, unsigned style, int help);
  // An input check's message: always told, unless the run is being stopped.
  void Refuse(DownloadRecord& record, int messageId, const std::string& text, unsigned style,
              int help, int exitCode);
  // The record of the command so far: file, printer and start time.
  DownloadRecord NewRecord() const;
  // The pending row of the download about to start (its start time set now); 0 when none.
  std::int64_t BeginHistory(DownloadRecord& record) const;
  void CompleteHistory(std::int64_t id, const DownloadRecord& record) const;
  // What the history store has to tell that nobody was told yet.
  void TellHistoryNotices();
  // With a version check: the printer's version before the download, and where it is asked.
  void VersionBefore(DownloadRecord& record);
  // After a success, with a version check: waits for the file's version and says how it went.
  void VersionAfter(DownloadRecord& record);

  const TDownDocFile* FDoc;
  std::filesystem::path FFileName;
  std::string FShownState;
  DownloadTarget FTarget;
  const TDLPrinterList& FModels;
  DownloadOptions FOptions;
  IDownloadAsk& FAsk;
  int FStoppedBy = 0;
  std::optional<std::string> FVersionAddress;  // where the printer is asked its version
};
