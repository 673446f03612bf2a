#include "ui/frmmain.h"

#include "ui_frmmain.h"

#include "app/icons.h"
#include "app/strings.h"
#include "printers/myapp.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>

namespace {

QString Qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

TfrmMain::TfrmMain(TFWLOADApp& app, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TfrmMain>()), FApp(app) {
  ui->setupUi(this);
  InitControls();
}

TfrmMain::~TfrmMain() {
  RememberBounds();
  FApp.WindowLeft = FBounds.x();
  FApp.WindowTop = FBounds.y();
  FApp.WindowWidth = FBounds.width();
  FApp.WindowHeight = FBounds.height();
  for (int i = 0; i < 5; ++i) FApp.SetColumnWidth(i, ui->lstvwPrinters->columnWidth(i));
  FApp.ViewLocal = ui->lstvwPrinters->isVisibleTo(this) ? 1 : 0;
}

void TfrmMain::InitControls() {
  QFont uiFont(QStringLiteral("Noto Sans CJK JP"));
  uiFont.setPixelSize(12);
  setFont(uiFont);
  QFont listFont(QStringLiteral("Noto Sans Mono CJK JP"));
  listFont.setPixelSize(12);
  ui->lstvwPrinters->setFont(listFont);

  setWindowTitle(Qs(strings::kAppTitle));
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
  ui->pnlFileName->setText(ui->edtFileName->text());
  ui->pnlFileState->clear();
  ui->btnBrowse->setText(QStringLiteral("参照(&B)"));
  ui->btnExec->setText(QStringLiteral("実行(&E)"));
  for (QLabel* panel : {ui->pnlSelDrv, ui->pnlSelPort, ui->pnlSelPlace, ui->pnlSelComment,
                        ui->pnlSelVer}) {
    panel->clear();
  }

  QHeaderView* header = ui->lstvwPrinters->header();
  header->setSectionsClickable(false);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  for (int i = 0; i < 5; ++i) ui->lstvwPrinters->setColumnWidth(i, FApp.GetColumnWidth(i));

  connect(ui->MF_Exit, &QAction::triggered, this, &TfrmMain::MF_ExitClick);
  connect(ui->PM_Local, &QAction::triggered, this, &TfrmMain::PM_LocalClick);
  connect(ui->MV_LOCAL, &QAction::triggered, this, &TfrmMain::PM_LocalClick);
  // Checking happens in SetLocalView, not by the actions themselves.
  ui->PM_Local->setCheckable(true);
  ui->MV_LOCAL->setCheckable(true);

  setMinimumSize(kMinTrackWidth, kMinTrackHeight);
  RestoreBounds();
  if (FApp.ViewLocal == 0) SetLocalView(2);
}

void TfrmMain::RestoreBounds() {
  FBounds = QRect(FApp.WindowLeft, FApp.WindowTop, FApp.WindowWidth, FApp.WindowHeight);
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

void TfrmMain::RaiseToFront() {
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
  if (mode == 0) show = !ui->lstvwPrinters->isVisibleTo(this);
  else if (mode == 2) show = false;
  ui->PM_Local->setChecked(show);
  ui->MV_LOCAL->setChecked(ui->PM_Local->isChecked());
  ui->lstvwPrinters->setVisible(show);
}
