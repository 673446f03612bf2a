// The download command for one printer: checks, confirmations, transfer, result, log and history.
#include "download/downloadsession.h"

#include "common/codes.h"
#include "common/downloadlog.h"
#include "common/history.h"
#include "common/historynotice.h"
#include "common/resultmessages.h"
#include "common/strings.h"
#include "download/printthread.h"
#include "download/transferview.h"
#include "firmware/dwndoc.h"
#include "common/boxstyle.h"
#include "printers/funcs.h"
#include "printers/printerfit.h"

#include <QDateTime>

#include <chrono>
#include <system_error>
#include <utility>

using namespace platform::mb;
using platform::kIdCancel;
using platform::kIdOk;

namespace {

std::string Str(int id) { return std::string(strings::Load(id)); }

constexpr int kMsgMemoryQuestion = 4101;

}  // namespace

DownloadSession::DownloadSession(const TDownDocFile* doc, std::filesystem::path fileName,
                                 std::string shownState, DownloadTarget target,
                                 const TDLPrinterList& models, DownloadOptions options,
                                 IDownloadAsk& ask)
    : FDoc(doc),
      FFileName(std::move(fileName)),
      FShownState(std::move(shownState)),
      FTarget(std::move(target)),
      FModels(models),
      FOptions(std::move(options)),
      FAsk(ask) {}

DownloadRecord DownloadSession::NewRecord() const {
  DownloadRecord record;
  record.Started = std::chrono::system_clock::now();
  record.File = FFileName;
  if (FDoc) {
    record.Description = FDoc->FDownLoadDesc;
    record.Version = FDoc->FDownLoadVersion;
  }
  record.Target = FTarget.Name;
  record.Port = FTarget.Info.Port;
  record.Model = FTarget.Info.Driver;
  // What the printer reported before the download (an FTP printer's version, say).
  if (!FTarget.Info.Version.empty()) record.VersionBefore = FTarget.Info.Version;
  return record;
}

std::int64_t DownloadSession::BeginHistory(DownloadRecord& record) const {
  // The download starts now, not when the command did: a confirmation may have waited long.
  record.Started = std::chrono::system_clock::now();
  if (!FOptions.History) return 0;
  return FOptions.History->Begin(record).Id;
}

void DownloadSession::CompleteHistory(std::int64_t id, const DownloadRecord& record) const {
  // A failure has been noted by the store; the download's result stands.
  if (FOptions.History && id != 0) FOptions.History->Complete(id, record);
}

void DownloadSession::TellHistoryNotices() {
  if (!FOptions.History || FAsk.Stopped()) return;
  for (const HistoryNotice& notice : FOptions.History->TakeNotices()) {
    const HistoryNoticeMessage m = NoticeMessageOf(notice);
    FAsk.Notice(m.Id, m.Text);
  }
}

DownloadRecord DownloadSession::Run(ITransferView& view) {
  DownloadRecord record = NewRecord();
  if (FAsk.Stopped()) {
    record.ExitCode = exitcode::kCancelled;
    return record;
  }
  if (FFileName.empty()) {
    Refuse(record, 4355, Str(4355), kIconInformation, 0, exitcode::kFileUnusable);
    return record;
  }
  std::error_code ec;
  if (!std::filesystem::exists(FFileName, ec)) {
    Refuse(record, 4352, Str(4352), kIconExclamation, 0, exitcode::kFileUnusable);
    return record;
  }
  // A file that failed to open, or that holds nothing to send, is never sent.
  if (!FDoc || FDoc->FError != 0 || (FDoc->FFormatValid != 1 && FDoc->FDataSize == 0)) {
    const std::uint16_t code = (FDoc && FDoc->FError != 0) ? FDoc->FError : rc::kFileOpen;
    const ResultMessage m = ResultMessageOf(code);
    std::string text = m.Text();
    if (FDoc && !FDoc->FErrorFile.empty()) text += "\n" + FDoc->FErrorFile;
    Refuse(record, m.id, text, m.style, m.help, exitcode::kFileUnusable);
    return record;
  }
  if (FTarget.Name.empty()) {
    Refuse(record, 4356, Str(4356), kIconInformation, 0, exitcode::kNoPrinter);
    return record;
  }
  const int confirmed = ConfirmDownload();
  record.StoppedBy = FStoppedBy;
  // A stop that ended a confirmation sends nothing.
  if (confirmed != 1 || FAsk.Stopped()) {
    record.ExitCode = exitcode::kCancelled;
    return record;
  }

  TransferJob job;
  job.Target = FTarget.Name;
  job.Doc = FDoc;
  job.Wrap = FOptions.EnableCommand && printerfit::IsCommandModel(FModels, FTarget.Info.Driver);
  job.InitMemory = FOptions.InitMemory;
  job.TempDir = FOptions.TempDir;
  TPrintThread thread(std::move(job), &view, FOptions.Timings);
  VersionBefore(record);
  const std::int64_t historyId = BeginHistory(record);
  const auto start = std::chrono::steady_clock::now();
  view.Follow(thread);
  // The result is read only once the thread has ended; a thread that never ran sent nothing and
  // counts as interrupted, never as a success.
  const std::uint16_t code = thread.isFinished() ? thread.Result() : rc::kAborted;
  record.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  record.Ended = std::chrono::system_clock::now();
  record.Transferred = true;
  record.Code = code;
  record.Bytes = code == rc::kSuccess ? thread.Size() : 0;
  const ResultMessage m = ResultMessageOf(code);
  record.MessageId = m.id;
  record.Message = m.Text();
  record.State = RecordState::Done;
  record.ExitCode = exitcode::OfResult(code);
  // With a version check the row is completed once the check has its answer.
  const bool verify = code == rc::kSuccess && FOptions.Verify;
  if (!verify) CompleteHistory(historyId, record);
  // Nobody waits for the result boxes of a run that is being stopped.
  if (!FAsk.Stopped()) ReportDownloadResult(code);
  if (code == rc::kSuccess) WriteDownloadLog(record);
  if (verify) {
    VersionAfter(record);
    CompleteHistory(historyId, record);
  }
  TellHistoryNotices();
  return record;
}

int DownloadSession::ConfirmDownload() {
  FStoppedBy = 0;
  const TPrnInfo model = printerfit::ModelOf(FModels, FTarget.Info.Driver);
  if (!printerfit::IsFileForPrinter(FDoc, model, FModels)) {
    if (Confirm(4103, Str(4103) + Str(4102), 0x4121, 1011) != kIdOk) return 2;
  }
  if (FTarget.PortFlags & kPortSeveral) {
    if (Confirm(4104, Str(4104) + Str(4102), 0x4121, 1012) != kIdOk) return 2;
  }
  if (!model.Command) {
    if (FTarget.PortFlags & kPortParallel) {
      if (Confirm(4107, Str(4107), 0x4041, 1020) != kIdOk) return 2;
      if (Confirm(4106, Str(4106), 0x4041, 1015) != kIdOk) return 2;
    } else {
      if (Confirm(4105, Str(4105), 0x4121, 1012) != kIdOk) return 2;
    }
  }
  if (FOptions.EnableCommand && model.Command) {
    if (ConfirmMemoryInit() != kIdOk) return 2;
  }
  return 1;
}

int DownloadSession::ConfirmMemoryInit() {
  bool checked = FOptions.InitMemory != 0;
  if (!FOptions.InitMemoryPreset) {
    // Asked even when confirmations are off: the answer cannot be guessed.
    const int answer = FAsk.Stopped()
                           ? kIdCancel
                           : FAsk.AskMemoryInit(Str(kMsgMemoryQuestion), Str(4124), 1031, checked);
    if (answer != kIdOk) {
      FStoppedBy = kMsgMemoryQuestion;
      return answer;
    }
  }
  // The choice counts from here, also when the follow-up box is cancelled.
  FOptions.InitMemory = checked ? 1 : 0;
  const int id = checked ? 4193 : 4194;
  std::string text = Str(id) + "\n" + (FDoc ? FDoc->FBeginMessage : std::string());
  return Confirm(id, text, 0x4041, checked ? 1031 : 1032);
}

int DownloadSession::ReportDownloadResult(std::uint16_t code) {
  const ResultMessage m = ResultMessageOf(code);
  const int answer = Report(m.id, m.Text(), m.style | kHelp, m.help);
  if (code == rc::kSuccess) {
    if (!FOptions.EnableCommand) return Report(4122, Str(4122), 0x4040, 1016);
    if (FDoc && !FDoc->FDoneMessage.empty()) return Report(0, FDoc->FDoneMessage, 0x4040, 1016);
    return Report(4121, Str(4121), 0x4040, 1016);
  }
  if (code == rc::kDirectoryChange) return answer;
  return Report(4120, Str(4120), 0x4040, m.help);
}

void DownloadSession::WriteDownloadLog(const DownloadRecord& record) const {
  if (FOptions.LogFile.empty()) return;
  const std::string key = record.File.string() + "," + FShownState;
  const std::string value = record.Target + "," + record.Port;
  const QDateTime now = QDateTime::currentDateTime();
  if (FOptions.LogKeepsEveryEntry) {
    downloadlog::Append(FOptions.LogFile, now, key, value);
  } else {
    downloadlog::Write(FOptions.LogFile, now, key, value);
  }
}

void DownloadSession::GetResultMessage(std::uint16_t code, std::string& text, unsigned& style,
                                       int& help) {
  const ResultMessage m = ResultMessageOf(code);
  text = m.Text();
  style = m.style;
  help = m.help;
}

int DownloadSession::Confirm(int messageId, const std::string& text, unsigned style, int help) {
  int answer = kIdOk;
  if (FAsk.Stopped()) {
    answer = kIdCancel;
  } else if (FOptions.ShowMessage) {
    answer = FAsk.Confirm(messageId, text, style, help);
  }
  if (answer != kIdOk) FStoppedBy = messageId;
  return answer;
}

int DownloadSession::Report(int messageId, const std::string& text, unsigned style, int help) {
  if (FAsk.Stopped()) return kIdCancel;
  if (FOptions.ShowMessage) FAsk.Tell(messageId, text, style, help);
  return kIdOk;
}

void DownloadSession::Refuse(DownloadRecord& record, int messageId, const std::string& text,
                             unsigned style, int help, int exitCode) {
  if (!FAsk.Stopped()) FAsk.Tell(messageId, text, style, help);
  record.ExitCode = exitCode;
}
