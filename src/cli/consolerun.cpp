// One target's download command on the console.
#include "cli/consolerun.h"

#include "access/fwloadaccess.h"

#include "common/resultmessages.h"
#include "common/strings.h"
#include "download/downloadsession.h"
#include "download/printthread.h"
#include "common/boxstyle.h"

#include <QDeadlineTimer>

#include <system_error>

namespace cli {

namespace {

constexpr int kMemoryQuestion = 4101;
// How often a waiting transfer looks whether the run is being stopped.
constexpr int kStopCheckMs = 50;

// A message on one line.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    line += c == '\n' ? ' ' : c;
  }
  return line;
}

}  // namespace

int ConsoleAsk::Confirm(int messageId, const std::string& text, unsigned, int) {
  FLastId = messageId;
  FLastText = text;
  FConsole.Progress(FTarget + ": stopped by the question " + std::to_string(messageId) + " (" +
                    OneLine(text) + "); --yes answers it with OK");
  return platform::kIdCancel;
}

int ConsoleAsk::AskMemoryInit(const std::string& text, const std::string&, int, bool&) {
  FLastId = kMemoryQuestion;
  FLastText = text;
  FConsole.Progress(FTarget +
                    ": its model takes the download command and the settings-memory "
                    "question " +
                    std::to_string(kMemoryQuestion) + " (" + OneLine(text) +
                    ") has no answer; --memory keep|init answers it");
  return platform::kIdCancel;
}

void ConsoleAsk::Tell(int messageId, const std::string& text, unsigned, int) {
  if (messageId != 0) {
    FLastId = messageId;
    FLastText = text;
  }
  FConsole.Progress(FTarget + ": " + (messageId ? "[" + std::to_string(messageId) + "] " : "") +
                    OneLine(text));
}

void ConsoleView::SetLabel(int messageId) {
  FConsole.Progress(FTarget + ": " + OneLine(std::string(strings::Load(messageId))));
}

int ConsoleView::Notify(int notification, std::uint64_t) {
  // The steps of an FTP transfer, once each; its byte counts would flood the console.
  if (notification != FLastNotification &&
      (notification == FWL_NOTIFY_CONNECTING || notification == FWL_NOTIFY_DOWNLOADING)) {
    FLastNotification = notification;
    FConsole.Progress(FTarget +
                      (notification == FWL_NOTIFY_CONNECTING ? ": connecting" : ": uploading"));
  }
  return FStop.load() ? 1 : 0;
}

void ConsoleView::Follow(TPrintThread& thread) {
  thread.start();
  while (!thread.wait(QDeadlineTimer(kStopCheckMs))) {
    // The abort button's way: the job is cancelled, a partial upload deleted.
    if (FStop.load()) thread.requestInterruption();
  }
  FJobId = thread.JobId();
}

void RunTarget(const SendContext& context, const DownloadTarget& target,
               const std::filesystem::path& tempDir, TargetOutcome& outcome) {
  Console& console = *context.Out;
  ConsoleAsk ask(console, target.Name, *context.Stop);
  ConsoleView view(console, target.Name, *context.Stop);
  DownloadOptions options = context.Options;
  std::error_code ec;
  if (!tempDir.empty()) std::filesystem::create_directory(tempDir, ec);
  options.TempDir = tempDir;

  console.Progress(target.Name + ": starting");
  DownloadSession session(context.Doc, context.File, context.ShownState, target, *context.Models,
                          options, ask);
  const DownloadRecord record = session.Run(view);
  if (!tempDir.empty()) std::filesystem::remove_all(tempDir, ec);

  outcome.Started = true;
  outcome.Code = record.ExitCode;
  if (record.StoppedBy != 0) outcome.StoppedBy = record.StoppedBy;
  if (record.Transferred) {
    outcome.MessageId = record.MessageId;
    outcome.Message = record.Message;
    outcome.Bytes = record.Bytes;
    outcome.Seconds = record.Seconds;
    if (view.JobId() > 0) outcome.JobId = view.JobId();
    outcome.VersionBefore = record.VersionBefore;
    outcome.VersionAfter = record.VersionAfter;
    outcome.Verify = record.Verify;
    // A version check that failed is what the person must read, not the transfer's success.
    if ((record.ExitCode == exitcode::kVersionUnchanged ||
         record.ExitCode == exitcode::kVersionUnknown) &&
        ask.LastId() != 0) {
      outcome.MessageId = ask.LastId();
      outcome.Message = ask.LastText();
    }
  } else if (ask.LastId() != 0) {
    outcome.MessageId = ask.LastId();
    outcome.Message = ask.LastText();
  }
  // A target the stop reached before its transfer began was interrupted as well.
  if (!record.Transferred && context.Stop->load()) outcome.Code = exitcode::kAborted;
  console.Progress(target.Name + ": exit code " + std::to_string(outcome.Code) +
                   (outcome.Message ? " " + OneLine(*outcome.Message) : std::string()));
}

}  // namespace cli
