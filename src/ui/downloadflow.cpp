// The download command: input checks, confirmations, the transfer under the progress window,
// the result messages, the download log and the history.
#include "ui/frmmain.h"

#include "ui_frmmain.h"

#include "common/downloadlog.h"
#include "download/downloadsession.h"
#include "printers/funcs.h"
#include "printers/myapp.h"
#include "ui/dlgmsgbox.h"
#include "ui/forms.h"
#include "ui/frmhistory.h"
#include "ui/frmprntview.h"
#include "ui/messagebox.h"

#include <QCheckBox>
#include <QFile>
#include <QScopeGuard>

#include <cstdio>

namespace {

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
  DownloadSession::GetResultMessage(code, text, style, help);
}

namespace {

// The window's way of asking: the confirmations and results as boxes (none once a close signal
// has come), the input checks on standard error in a run nobody watches, the settings-memory
// question as the message dialog with its check box.
class WindowAsk final : public IDownloadAsk {
 public:
  explicit WindowAsk(TfrmMain& window) : window_(window) {}
  int Confirm(int, const std::string& text, unsigned style, int helpContext) override {
    return window_.ShowConfirmBox(text, style, helpContext);
  }
  int AskMemoryInit(const std::string& text, const std::string& checkText, int helpContext,
                    bool& initialise) override {
    const int answer = DlgMsgBox->Execute(text, helpContext, 32, initialise ? 1 : 0, checkText);
    if (answer == platform::kIdOk) initialise = DlgMsgBox->CheckBox1()->isChecked();
    return answer;
  }
  void Tell(int, const std::string& text, unsigned style, int helpContext) override {
    window_.ShowMessageBox(text, style, helpContext);
  }
  bool Stopped() const override { return window_.ClosingOnSignal(); }

 private:
  TfrmMain& window_;
};

// Without a progress window the transfer runs unseen: started and waited for.
class UnseenTransfer final : public ITransferView {
 public:
  void SetLabel(int) override {}
  void SetProgress(int) override {}
  void SetTotalSize(std::uint64_t) override {}
  int Notify(int, std::uint64_t) override { return 0; }
  void Follow(TPrintThread& thread) override {
    thread.start();
    thread.wait();
  }
};

}  // namespace

DownloadSession TfrmMain::MakeSession(IDownloadAsk& ask, const std::string& printer,
                                      bool withPorts) const {
  DownloadTarget target;
  target.Name = printer;
  // The selected printer counts with the model it was selected with (one the user chose, say).
  if (target.Name == FApp.SelectedPrinter) {
    target.Info = FApp.PrinterInfo;
  } else if (!target.Name.empty()) {
    target.Info.Driver = FApp.DriverNameOf(target.Name);
  }
  target.Info.Port = ui->pnlSelPort->text().toStdString();
  if (withPorts && !target.Name.empty()) target.PortFlags = GetPortFlags(target.Name);

  DownloadOptions options;
  options.ShowMessage = FApp.ShowMessage != 0;
  options.EnableCommand = FApp.EnableCommand != 0;
  options.InitMemory = FApp.InitMemory;
  options.InitMemoryPreset = FApp.InitMemoryPreset;
  if (frmPrntView) options.Timings = frmPrntView->Timings();
  options.LogFile = downloadlog::DefaultFile();
  options.History = FHistory.get();
  return DownloadSession(FApp.GetDoc(), FileNamed(ui->edtFileName->text(), FApp.GetFileName()),
                         ui->pnlFileState->text().toStdString(), std::move(target), FApp.ModelTable,
                         std::move(options), ask);
}

void TfrmMain::ExecDownload() {
  if (FClosingOnSignal) return;
  // A close signal that comes meanwhile closes the window once the command has ended.
  FInDownload = true;
  const auto ended = qScopeGuard([this] {
    FInDownload = false;
    if (FClosingOnSignal) CloseAndQuit();
  });
  WindowAsk ask(*this);
  DownloadSession session = MakeSession(ask, ui->pnlSelected->text().toStdString(), true);
  UnseenTransfer unseen;
  const DownloadRecord record =
      session.Run(frmPrntView ? static_cast<ITransferView&>(*frmPrntView) : unseen);
  FApp.InitMemory = session.InitMemory();
  if (record.Transferred) FApp.LastResult = record.Code;
  FDownloadCode = record.ExitCode;
}

int TfrmMain::ConfirmDownload(const std::string& p) {
  WindowAsk ask(*this);
  DownloadSession session = MakeSession(ask, p, true);
  const int answer = session.ConfirmDownload();
  FApp.InitMemory = session.InitMemory();
  return answer;
}

int TfrmMain::ConfirmMemoryInit() {
  WindowAsk ask(*this);
  DownloadSession session = MakeSession(ask, ui->pnlSelected->text().toStdString(), false);
  const int answer = session.ConfirmMemoryInit();
  FApp.InitMemory = session.InitMemory();
  return answer;
}

int TfrmMain::ReportDownloadResult() {
  WindowAsk ask(*this);
  return MakeSession(ask, ui->pnlSelected->text().toStdString(), false)
      .ReportDownloadResult(FApp.LastResult);
}

void TfrmMain::WriteDownloadLog() {
  WindowAsk ask(*this);
  DownloadSession session = MakeSession(ask, ui->pnlSelected->text().toStdString(), false);
  DownloadRecord record;
  record.File = FileNamed(ui->pnlFileName->text(), FApp.GetFileName());
  record.Target = ui->pnlSelected->text().toStdString();
  record.Port = ui->pnlSelPort->text().toStdString();
  session.WriteDownloadLog(record);
}

void TfrmMain::MV_HistoryClick() {
  TfrmHistory history(*FHistory, this);
  history.exec();
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
