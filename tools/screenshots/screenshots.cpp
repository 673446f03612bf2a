// Takes the pictures of the program's windows for the documentation: each window as it is on the
// screen it runs on (run it under a virtual display). The printers come from the print server in
// CUPS_SERVER; tools/screenshots.sh sets one up.
//
//   fwload_screenshots OUTDIR FIRMWARE-FILE SILENT-QUEUE
#include "app/application.h"
#include "common/history.h"
#include "common/strings.h"
#include "platform/paths.h"
#include "printers/myapp.h"
#include "ui/dlgmsgbox.h"
#include "ui/forms.h"
#include "ui/frmmain.h"
#include "ui/frmprntview.h"
#include "ui/ftpconnect.h"
#include "ui/help.h"
#include "ui/messageboxes.h"
#include "ui/prnmodel.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QLabel>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

QString outDir;

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

// What the screen shows where the window is.
void Shoot(QWidget* w, const char* name) {
  Settle(300);
  const QRect r = w->frameGeometry();
  const QPixmap shot = w->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
  const QString file = outDir + "/" + name + ".png";
  std::printf("%s %s\n", shot.save(file) ? "saved" : "FAILED", qPrintable(file));
}

// Shoots the modal dialog `dialog` once it is up, then lets `finish` end it.
void ShootModal(QWidget* dialog, const char* name, std::function<void()> finish) {
  QTimer::singleShot(400, [=] {
    Shoot(dialog, name);
    finish();
  });
}

// A download `hoursAgo` hours ago, completed with `code` unless that is negative.
void Download(HistoryStore& store, double hoursAgo, const char* file, const char* version,
              const char* printer, const char* port, const char* model, int code,
              const char* checked = nullptr) {
  DownloadRecord r;
  r.Started = std::chrono::system_clock::now() -
              std::chrono::duration_cast<std::chrono::seconds>(std::chrono::hours(1) * hoursAgo);
  r.File = std::string("/home/nora/firmware/") + file;
  r.Version = version;
  r.Target = printer;
  r.Port = port;
  r.Model = model;
  const std::int64_t id = store.Begin(r).Id;
  if (code < 0) return;
  r.State = RecordState::Done;
  r.Code = static_cast<std::uint16_t>(code);
  r.MessageId = code == 0 ? 4113 : 4116;
  r.Message = std::string(strings::Load(r.MessageId));
  if (checked) {
    r.VersionAfter = checked;
    r.Verify = Verified::Updated;
  }
  store.Complete(id, r);
}

// A few downloads in the history: by the window, by a script that checked the version, one that
// failed, one whose program ended during the transfer, and one under way.
void FillHistory() {
  HistoryStore store;
  Download(store, 50, "px1300_v305.fw_", "V3.05", "Laser-1300", "LPT1:", "TORVA PX-1300", 0);
  Download(store, 26.5, "SAMPLE.FWB", "V2.10", "Office-M3", "socket://127.0.0.1:9/?snmp=false",
           "TORVA VELOXIA M3", 0, "V2.10");
  Download(store, 3.2, "PX-E3000_V110.FWB", "V1.10", "ftp://192.0.2.15/ketora0",
           "ftp://192.0.2.15/ketora0", "PX-E3000", 33);
  // A process that ends during its transfer (before the toolkit starts any thread).
  if (const pid_t child = ::fork(); child == 0) {
    HistoryStore own;
    Download(own, 1.1, "Veloxia-M2.FWV", "V5.02", "Colour-M2-212", "lpd://127.0.0.1:9/queue",
             "TORVA VELOXIA M2-212", -1);
    ::_exit(0);
  } else if (child > 0) {
    ::waitpid(child, nullptr, 0);
  }
  Download(store, 0, "SAMPLE.FWB", "V2.10", "Front-1100", "ipp://127.0.0.1:9/ipp/print",
           "TORVA PX-1100", -1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: fwload_screenshots OUTDIR FIRMWARE-FILE SILENT-QUEUE\n");
    return 2;
  }
  outDir = argv[1];
  const std::string firmware = argv[2];
  const std::string silentQueue = argv[3];

  FillHistory();
  TFWLOADApp model({firmware});
  Myapp = &model;
  TApplication app(argc, argv);
  QtMessageBoxes boxes;
  platform::SetMessageBoxes(&boxes);
  help::SetHelpFile(platform::ProgramDir() / "FWLOAD.HLP");
  frmMain = new TfrmMain(model);
  frmPrntView = new TfrmPrntView(frmMain);
  DlgMsgBox = new TDlgMsgBox(frmMain);
  FtpConnect = new TFtpConnect(frmMain);
  dlgPrnModel = new TdlgPrnModel(frmMain);
  SetMessageBoxOwner(frmMain);

  frmMain->move(20, 20);
  frmMain->show();
  Settle(1500);
  // The local view: pick an upgradable printer so its row is highlighted.
  auto* list = frmMain->findChild<QTreeWidget*>("lstvwPrinters");
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(0) == "Office-M3") list->setCurrentItem(list->topLevelItem(i));
  }
  Shoot(frmMain, "main-local");

  // The file dialog in the sample's folder: the kinds it offers.
  model.OpenFolder = std::filesystem::path(firmware).parent_path().string();
  QTimer::singleShot(800, [] {
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      Shoot(dialog, "dialog-open");
      dialog->close();
    }
  });
  frmMain->FileOpen();

  // The settings-memory question.
  ShootModal(DlgMsgBox, "dialog-memory",
             [] { DlgMsgBox->findChild<QPushButton*>("ButtonCancel")->click(); });
  DlgMsgBox->Execute(std::string(strings::Load(4101)), 1031, 32, 1,
                     std::string(strings::Load(4124)));

  // A confirmation box.
  QTimer::singleShot(400, [] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      Shoot(box, "box-confirm");
      box->close();
    }
  });
  frmMain->ShowMessageBox(std::string(strings::Load(4103)) + std::string(strings::Load(4102)),
                          0x4121, 1011);

  // The FTP printer dialog, with an address typed.
  FtpConnect->editFtpAddr()->setText("192.0.2.15");
  ShootModal(FtpConnect, "dialog-ftp", [] { FtpConnect->Button2()->click(); });
  FtpConnect->exec();

  // An address with a directory in it: refused, and the dialog stays for the correction.
  FtpConnect->editFtpAddr()->setText("192.0.2.15/ketora0");
  QTimer::singleShot(400, [] {
    QTimer::singleShot(400, [] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        Shoot(box, "box-ftp-address");
        box->close();
      }
      QTimer::singleShot(200, [] { FtpConnect->Button2()->click(); });
    });
    FtpConnect->btnOk()->click();
  });
  FtpConnect->exec();
  FtpConnect->editFtpAddr()->setText("192.0.2.15");

  // The model choice.
  ShootModal(dlgPrnModel, "dialog-model", [] { dlgPrnModel->reject(); });
  dlgPrnModel->cmbModel()->setCurrentIndex(5);
  dlgPrnModel->exec();

  // The progress window during a transfer to a printer that never answers; then abort.
  model.SelectPrinter(silentQueue);
  ShootModal(frmPrntView, "progress", [] { frmPrntView->btnAbort()->click(); });
  QTimer::singleShot(150, [] { QApplication::processEvents(); });
  frmPrntView->exec();

  // The details of an FTP printer that reported its model and version.
  model.SelectedPrinter = "ftp://192.0.2.15/ketora0";
  model.SetFtpPrinterInfo("PX-E3000", "V1.23", model.SelectedPrinter);
  model.SelectPrinter(model.SelectedPrinter);
  frmMain->findChild<QLabel*>("pnlSelected")
      ->setText(QString::fromStdString(model.SelectedPrinter));
  frmMain->ShowSelectedPrinter();
  frmMain->SetLocalView(2);
  Shoot(frmMain, "main-ftp");

  // The history window, from the menu.
  QTimer::singleShot(800, [] {
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      Shoot(dialog, "history-window");
      dialog->close();
    }
  });
  frmMain->MV_HistoryClick();

  SetMessageBoxOwner(nullptr);
  platform::SetMessageBoxes(nullptr);
  delete frmMain;
  frmMain = nullptr;
  Myapp = nullptr;
  return 0;
}
