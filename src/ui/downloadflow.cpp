// The download command: input checks, confirmations, the transfer under the progress window,
// the result messages and the download log.
#include "ui/frmmain.h"

#include "ui_frmmain.h"

#include "common/codes.h"
#include "common/downloadlog.h"
#include "common/resultmessages.h"
#include "common/strings.h"
#include "firmware/dwndoc.h"
#include "printers/funcs.h"
#include "printers/myapp.h"
#include "ui/dlgmsgbox.h"
#include "ui/forms.h"
#include "ui/frmprntview.h"
#include "ui/messagebox.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QScopeGuard>

#include <cstdio>
#include <filesystem>

using namespace platform::mb;

namespace {

std::string Str(int id) { return std::string(strings::Load(id)); }

// The file a box of the window names: the application model's own path while the box shows it,
// so that a name that is not valid UTF-8 (shown with replacement characters) keeps its bytes;
// otherwise what the box holds.
std::string FileNamed(const QString& shown, const std::string& modelFileName) {
  if (!modelFileName.empty() && shown == QString::fromStdString(modelFileName)) {
    return modelFileName;
  }
  return QFile::encodeName(shown).toStdString();
}

}  // namespace

bool TfrmMain::Unattended() const { return FApp.Unattended(); }

int TfrmMain::ShowConfirmBox(const std::string& text, unsigned style, int helpContext) {
  // Once a close signal has come, no box waits for a person, and none answers OK.
  if (FClosingOnSignal) return platform::kIdCancel;
  if (!FApp.ShowMessage) return platform::kIdOk;
  return platform::MessageBoxes().Show(text, style, helpContext);
}

int TfrmMain::ShowMessageBox(const std::string& text, unsigned style, int helpContext) {
  if (FClosingOnSignal) return platform::kIdCancel;
  // A run nobody watches must never wait on a box nobody sees.
  if (Unattended()) {
    std::fprintf(stderr, "fwload: %s\n", text.c_str());
    return platform::kIdOk;
  }
  return platform::MessageBoxes().Show(text, style, helpContext);
}

void TfrmMain::GetResultMessage(std::uint16_t code, std::string& text, unsigned& style, int& help) {
  const ResultMessage m = ResultMessageOf(code);
  text = m.Text();
  style = m.style;
  help = m.help;
}

void TfrmMain::ExecDownload() {
  if (FClosingOnSignal) return;
  // A close signal that comes meanwhile closes the window once the command has ended.
  FInDownload = true;
  const auto ended = qScopeGuard([this] {
    FInDownload = false;
    if (FClosingOnSignal) CloseAndQuit();
  });
  const std::string fileName = FileNamed(ui->edtFileName->text(), FApp.GetFileName());
  if (fileName.empty()) {
    ShowMessageBox(Str(4355), kIconInformation, 0);
    FDownloadCode = exitcode::kFileUnusable;
    return;
  }
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(fileName), ec)) {
    ShowMessageBox(Str(4352), kIconExclamation, 0);
    FDownloadCode = exitcode::kFileUnusable;
    return;
  }
  // A file that failed to open, or that holds nothing to send, is never sent.
  const TDownDocFile* doc = FApp.GetDoc();
  if (!doc || doc->FError != 0 || (doc->FFormatValid != 1 && doc->FDataSize == 0)) {
    const std::uint16_t code = (doc && doc->FError != 0) ? doc->FError : rc::kFileOpen;
    std::string text;
    unsigned style = 0;
    int help = 0;
    GetResultMessage(code, text, style, help);
    if (doc && !doc->FErrorFile.empty()) text += "\n" + doc->FErrorFile;
    ShowMessageBox(text, style, help);
    FDownloadCode = exitcode::kFileUnusable;
    return;
  }
  const std::string printer = ui->pnlSelected->text().toStdString();
  if (printer.empty()) {
    ShowMessageBox(Str(4356), kIconInformation, 0);
    FDownloadCode = exitcode::kNoPrinter;
    return;
  }
  if (ConfirmDownload(printer) != 1) {
    FDownloadCode = exitcode::kCancelled;
    return;
  }
  // A close signal that ended a confirmation sends nothing.
  if (FClosingOnSignal) return;

  if (frmPrntView) {
    frmPrntView->exec();
    // The window closes only after its thread has ended, unless the application quit meanwhile:
    // the result is read only once the transfer has ended.
    frmPrntView->Finish();
  }
  // Nobody waits for the result boxes of a run a close signal stopped.
  if (!FClosingOnSignal) ReportDownloadResult();
  FDownloadCode = exitcode::OfResult(FApp.LastResult);
  if (FApp.LastResult == rc::kSuccess) WriteDownloadLog();
}

int TfrmMain::ConfirmDownload(const std::string& p) {
  if (!FApp.IsFileForPrinter(p)) {
    if (ShowConfirmBox(Str(4103) + Str(4102), 0x4121, 1011) != platform::kIdOk) return 2;
  }
  const std::uint32_t ports = GetPortFlags(p);
  if (ports & kPortSeveral) {
    if (ShowConfirmBox(Str(4104) + Str(4102), 0x4121, 1012) != platform::kIdOk) return 2;
  }
  if (!FApp.IsCommandModel(p)) {
    if (GetPortFlags(p) & kPortParallel) {
      if (ShowConfirmBox(Str(4107), 0x4041, 1020) != platform::kIdOk) return 2;
      if (ShowConfirmBox(Str(4106), 0x4041, 1015) != platform::kIdOk) return 2;
    } else {
      if (ShowConfirmBox(Str(4105), 0x4121, 1012) != platform::kIdOk) return 2;
    }
  }
  if (FApp.EnableCommand && FApp.IsCommandModel(p)) {
    if (ConfirmMemoryInit() != platform::kIdOk) return 2;
  }
  return 1;
}

int TfrmMain::ConfirmMemoryInit() {
  bool checked = FApp.InitMemory != 0;
  if (!FApp.InitMemoryPreset) {
    // Shown even when confirmations are off: the answer cannot be guessed.
    const int answer = DlgMsgBox->Execute(Str(4101), 1031, 32, FApp.InitMemory, Str(4124));
    if (answer != platform::kIdOk) return answer;
    checked = DlgMsgBox->CheckBox1()->isChecked();
  }
  std::string text;
  int help = 0;
  if (checked) {
    FApp.InitMemory = 1;
    text = Str(4193);
    help = 1031;
  } else {
    FApp.InitMemory = 0;
    text = Str(4194);
    help = 1032;
  }
  const TDownDocFile* doc = FApp.GetDoc();
  text += "\n" + (doc ? doc->FBeginMessage : std::string());
  return ShowConfirmBox(text, 0x4041, help);
}

int TfrmMain::ReportDownloadResult() {
  std::string text;
  unsigned style = 0;
  int help = 0;
  GetResultMessage(FApp.LastResult, text, style, help);
  const int answer = ShowConfirmBox(text, style | kHelp, help);
  if (FApp.LastResult == rc::kSuccess) {
    std::string instruction;
    if (FApp.EnableCommand) {
      const TDownDocFile* doc = FApp.GetDoc();
      instruction = (doc && !doc->FDoneMessage.empty()) ? doc->FDoneMessage : Str(4121);
    } else {
      instruction = Str(4122);
    }
    return ShowConfirmBox(instruction, 0x4040, 1016);
  }
  if (FApp.LastResult == rc::kDirectoryChange) return answer;
  return ShowConfirmBox(Str(4120), 0x4040, help);
}

void TfrmMain::WriteDownloadLog() {
  const std::string key = FileNamed(ui->pnlFileName->text(), FApp.GetFileName()) + "," +
                          ui->pnlFileState->text().toStdString();
  const std::string value =
      ui->pnlSelected->text().toStdString() + "," + ui->pnlSelPort->text().toStdString();
  downloadlog::Write(downloadlog::DefaultFile(), QDateTime::currentDateTime(), key, value);
}

void TfrmMain::WMAutoRun() {
  FAutoRunStarted = true;
  const bool ready = FApp.GetDoc() && !FApp.SelectedPrinter.empty();
  if (!ready && !Unattended()) {
    // Nothing to run: the window stays, and from now on it is an interactive one.
    FApp.EndCommandLineRun();
    return;
  }
  FAutoRunning = true;
  hide();
  // Without a file or a printer the command's own checks say why (on standard error) and give
  // the code: a run nobody watches must end rather than leave a window nobody sees.
  ExecDownload();
  FAutoRunning = false;
  FExitCode = FDownloadCode;
  FApp.EndCommandLineRun();
  CloseAndQuit();
}
