#include "ui/frmmain.h"
#include "ui/waitcursor.h"

#include "ui_frmmain.h"

#include "common/strings.h"
#include "firmware/dwndoc.h"
#include "printers/accesslib.h"
#include "printers/funcs.h"
#include "printers/myapp.h"
#include "ui/forms.h"
#include "ui/frmprntview.h"
#include "ui/ftpconnect.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/messagebox.h"
#include "ui/uilook.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QTimer>

TfrmMain::TfrmMain(TFWLOADApp& app, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TfrmMain>()), FApp(app) {
  ui->setupUi(this);
  InitControls();
}

TfrmMain::~TfrmMain() {
  // A look at the server still under way ends before the window it reports to.
  if (FGather.joinable()) FGather.join();
  RememberBounds();
  // The window keeps its own place in the settings file.
  WindowPos{FBounds.x(), FBounds.y(), FBounds.width(), FBounds.height()}.Write(FApp.SettingsFile());
  for (int i = 0; i < 5; ++i) FApp.SetColumnWidth(i, ui->lstvwPrinters->columnWidth(i));
  FApp.ViewLocal = ui->lstvwPrinters->isVisibleTo(this) ? 1 : 0;
}

void TfrmMain::InitControls() {
  setFont(uilook::UiFont(12));
  QFont listFont(QStringLiteral("Noto Sans Mono CJK JP"));
  listFont.setPixelSize(12);
  ui->lstvwPrinters->setFont(listFont);

  setWindowTitle(uilook::AppTitle());
  setWindowIcon(icons::AppIcon());
  // Resizable, minimisable, no maximise box.
  setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint |
                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) &
                 ~Qt::WindowMaximizeButtonHint);

  ui->SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  ui->SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  ui->spbtnUpdate->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  ui->SpeedButton4->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));

  // Separators carry the names the menus are known by.
  ui->MENU_FILE->insertSeparator(ui->MF_Exit)->setObjectName(QStringLiteral("MF_Sep1"));
  ui->MENU_View->insertSeparator(ui->MV_NET)->setObjectName(QStringLiteral("MV_SEP1"));
  ui->MENU_View->insertSeparator(ui->MV_Update)->setObjectName(QStringLiteral("MV_SEP2"));
  ui->MENU_View->insertSeparator(ui->MV_History)->setObjectName(QStringLiteral("MV_SEP3"));

  FPopupMenu1 = new QMenu(this);
  FPopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  FPopupMenu1->addAction(ui->PM_Local);
  FPopupMenu1->addSeparator()->setObjectName(QStringLiteral("N2"));
  FPopupMenu1->addAction(ui->PM_Network);
  FPopupMenu1->addAction(ui->PM_Ftp);

  ui->lblFileName->setText(QStringLiteral("ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱ"));
  ui->lblSelected->setText(QStringLiteral("出力先"));
  ui->pnlSelected->setText(QString::fromStdString(FApp.SelectedPrinter));
  ui->edtFileName->setText(QString::fromStdString(FApp.GetFileName()));
  edtFileNameChange();
  ui->pnlFileState->clear();
  ui->btnBrowse->setText(QStringLiteral("参照(&B)"));
  ui->btnExec->setText(QStringLiteral("実行(&E)"));
  for (QLabel* panel :
       {ui->pnlSelDrv, ui->pnlSelPort, ui->pnlSelPlace, ui->pnlSelComment, ui->pnlSelVer}) {
    panel->clear();
  }

  QHeaderView* header = ui->lstvwPrinters->header();
  header->setSectionsClickable(false);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  for (int i = 0; i < 5; ++i) ui->lstvwPrinters->setColumnWidth(i, FApp.GetColumnWidth(i));

  connect(ui->SpeedButton1, &QToolButton::clicked, this, &TfrmMain::FileOpen);
  connect(ui->btnBrowse, &QPushButton::clicked, this, &TfrmMain::FileOpen);
  connect(ui->MF_Open, &QAction::triggered, this, &TfrmMain::FileOpen);
  connect(ui->SpeedButton2, &QToolButton::clicked, this, &TfrmMain::ExecDownload);
  connect(ui->btnExec, &QPushButton::clicked, this, &TfrmMain::ExecDownload);
  connect(ui->MF_Execute, &QAction::triggered, this, &TfrmMain::ExecDownload);
  connect(ui->spbtnUpdate, &QToolButton::clicked, this, &TfrmMain::OnUpdate);
  connect(ui->MV_Update, &QAction::triggered, this, &TfrmMain::OnUpdate);
  connect(ui->MV_History, &QAction::triggered, this, &TfrmMain::MV_HistoryClick);
  connect(ui->SpeedButton4, &QToolButton::clicked, this, &TfrmMain::DisplayVersion);
  connect(ui->MA_Version, &QAction::triggered, this, &TfrmMain::DisplayVersion);
  connect(ui->MA_Help, &QAction::triggered, this, &TfrmMain::MA_HelpClick);
  connect(ui->MF_Exit, &QAction::triggered, this, &TfrmMain::MF_ExitClick);
  connect(ui->PM_Local, &QAction::triggered, this, &TfrmMain::PM_LocalClick);
  connect(ui->MV_LOCAL, &QAction::triggered, this, &TfrmMain::PM_LocalClick);
  connect(ui->PM_Network, &QAction::triggered, this, &TfrmMain::PM_NetworkClick);
  connect(ui->MV_NET, &QAction::triggered, this, &TfrmMain::PM_NetworkClick);
  connect(ui->PM_Ftp, &QAction::triggered, this, &TfrmMain::PM_FtpClick);
  connect(ui->MV_FTP, &QAction::triggered, this, &TfrmMain::PM_FtpClick);
  connect(ui->btnPrinters, &QPushButton::clicked, this, &TfrmMain::btnPrintersClick);
  connect(ui->edtFileName, &QLineEdit::textChanged, this, &TfrmMain::edtFileNameChange);
  // The highlighted row, not the current one: focus alone may make a row current without
  // highlighting it, and a row can stay current after a printer was chosen elsewhere.
  connect(ui->lstvwPrinters, &QTreeWidget::itemSelectionChanged, this,
          &TfrmMain::ListSelectionChanged);
  // Checking happens in SetLocalView, not by the actions themselves.
  ui->PM_Local->setCheckable(true);
  ui->MV_LOCAL->setCheckable(true);

  setMinimumSize(kMinTrackWidth, kMinTrackHeight);
  RestoreBounds();
  if (FApp.ViewLocal == 0) SetLocalView(2);
  ui->imgSelIcon->setFixedSize(32, 32);
  LoadPrinterIcons();

  // The status line is a label of its own: the bar's message is temporary, and hovering a menu
  // item replaces it with the item's tip.
  FStatusText = new QLabel(ui->StatusBar);
  FStatusText->setObjectName(QStringLiteral("StatusText"));
  ui->StatusBar->addPermanentWidget(FStatusText, 1);
}

void TfrmMain::FormShow() {
  lstvwPrintersPaint();
  auto* watch = new QTimer(this);
  watch->setObjectName(QStringLiteral("PrinterWatch"));
  connect(watch, &QTimer::timeout, this, &TfrmMain::WatchPrinters);
  watch->start(kPrinterWatchMs);
  ShowFileState(FApp.GetDoc());
  if (!FApp.SelectedPrinter.empty()) {
    FApp.SelectPrinter(ui->pnlSelected->text().toStdString());
    ShowSelectedPrinter();
  }
  // An unattended run starts once the window is up and its printer is selected.
  if (FApp.Interactive == 0) {
    QMetaObject::invokeMethod(this, &TfrmMain::WMAutoRun, Qt::QueuedConnection);
  }
}

void TfrmMain::OnUpdate() {
  WaitCursor wait;
  const std::string selected = ui->pnlSelected->text().toStdString();
  if (IsFtpTarget(selected)) {
    if (const auto host = GetFtpHost(selected)) {
      std::string model, version;
      std::uint32_t lastError = 0;
      if (AccessLibrary().GetFtpPrinterInfo(*host, model, version, lastError)) {
        FApp.SetFtpPrinterInfo(model, version, *host);
        // The details below show what the printer just said.
        if (selected == FApp.SelectedPrinter)
          FApp.QueryPrinter(FApp.SelectedPrinter, FApp.PrinterInfo);
      }
    }
  }
  lstvwPrintersPaint();
  ShowSelectedPrinter();
}

void TfrmMain::btnPrintersClick() {
  FPopupMenu1->popup(ui->btnPrinters->mapToGlobal(QPoint(0, 0)));
}

void TfrmMain::PM_NetworkClick() {
  std::string target;
  if (!AccessLibrary().SelectNetworkPrinter(this, target)) return;
  ForgetListSelection();
  FApp.SelectPrinter(target);
  ui->pnlSelected->setText(QString::fromStdString(FApp.SelectedPrinter));
  ShowSelectedPrinter();
  SetLocalView(2);
}

void TfrmMain::PM_FtpClick() {
  if (!FtpConnect) return;
  const int result = FtpConnect->exec();
  if (result == 1) {
    // The dialog read the address before it asked the printer: the target is in its one form.
    const std::string name = FtpConnect->Target();
    if (name.empty()) return;
    ForgetListSelection();
    FApp.SelectPrinter(name);
    ui->pnlSelected->setText(QString::fromStdString(FApp.SelectedPrinter));
    ShowSelectedPrinter();
    SetLocalView(2);
  } else if (result == 3) {
    ShowMessageBox(std::string(strings::Load(4160)), platform::mb::kIconStop, 0);
  }
}

void TfrmMain::MA_HelpClick() { help::ShowTopic(0, this); }

void TfrmMain::DisplayVersion() { help::ShowTopic(1001, this); }

void TfrmMain::WMHelp(int context) { help::ShowTopic(context, this); }

void TfrmMain::RestoreBounds() {
  const WindowPos pos = WindowPos::Read(FApp.SettingsFile());
  FBounds = QRect(pos.Left, pos.Top, pos.Width, pos.Height);
  // Before the window has a frame, position and client size are all there is; showEvent
  // corrects the size once the frame is known.
  move(FBounds.topLeft());
  resize(std::max(FBounds.width(), kMinTrackWidth), std::max(FBounds.height(), kMinTrackHeight));
}

void TfrmMain::RememberBounds() {
  if (isVisible()) FBounds = frameGeometry();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!FShown) {
    FShown = true;
    // After the window is on the screen: filling the list may take a while or ask something.
    QMetaObject::invokeMethod(this, &TfrmMain::FormShow, Qt::QueuedConnection);
  }
  if (FBoundsRestored) return;
  FBoundsRestored = true;
  // The stored bounds and the minimum are outer sizes, as the window manager sees them.
  const QSize frame = frameGeometry().size() - size();
  setMinimumSize(kMinTrackWidth - frame.width(), kMinTrackHeight - frame.height());
  resize(std::max(FBounds.width(), kMinTrackWidth) - frame.width(),
         std::max(FBounds.height(), kMinTrackHeight) - frame.height());
  move(FBounds.topLeft());
}

void TfrmMain::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (FBoundsRestored) RememberBounds();
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (FBoundsRestored) RememberBounds();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  RememberBounds();
  QMainWindow::closeEvent(event);
}

void TfrmMain::CloseOnSignal() {
  if (FClosingOnSignal) return;
  FClosingOnSignal = true;
  FStoppedBySignal = FInDownload || (FApp.Interactive == 0 && !FAutoRunStarted);
  // A box answers as cancelled when it is closed; the progress window refuses, and is stopped
  // instead: it closes once its thread has ended.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w != this && w != frmPrntView && w->isModal() && w->isVisible()) w->close();
  }
  if (frmPrntView && frmPrntView->Running()) frmPrntView->Abort();
  // The download command's own loops run until it has ended; it closes the window then.
  if (!FInDownload) CloseAndQuit();
}

void TfrmMain::CloseAndQuit() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        close();
        // A hidden window (an unattended run) does not end the program by closing.
        QCoreApplication::quit();
      },
      Qt::QueuedConnection);
}

void TfrmMain::RaiseToFront() {
  if (FAutoRunning) {
    // The window of an unattended run stays hidden; only a box it waits on is brought forward.
    if (QWidget* box = QApplication::activeModalWidget()) {
      box->raise();
      box->activateWindow();
    }
    return;
  }
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TfrmMain::MF_ExitClick() { close(); }

void TfrmMain::PM_LocalClick() { SetLocalView(0); }

void TfrmMain::SetLocalView(int mode) {
  bool show = true;
  // A click on a checkable item has flipped it already, so the toggle reads the list itself,
  // which always agrees with the items' state before the click.
  if (mode == 0)
    show = !ui->lstvwPrinters->isVisibleTo(this);
  else if (mode == 2)
    show = false;
  ui->PM_Local->setChecked(show);
  ui->MV_LOCAL->setChecked(ui->PM_Local->isChecked());
  ui->lstvwPrinters->setVisible(show);
}
