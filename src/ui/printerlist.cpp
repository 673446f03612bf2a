// The printer list: rows, icons, ghosted printers, the selected printer's details and the
// status line.
#include "ui/frmmain.h"
#include "ui/waitcursor.h"

#include "ui_frmmain.h"

#include "app/codes.h"
#include "app/icons.h"
#include "app/strings.h"
#include "platform/messagebox.h"
#include "platform/paths.h"
#include "platform/spooler.h"
#include "platform/spooler.h"
#include "platform/text.h"
#include "printers/funcs.h"
#include "printers/myapp.h"

#include <QApplication>
#include <QCollator>
#include <QFileInfo>
#include <QTimer>
#include <QTreeWidgetItem>

#include <algorithm>

namespace {

// The undisplayed model-code text of a row.
constexpr int kCodeRole = Qt::UserRole + 1;

// Rows sort by caption in the user's locale.
class PrinterItem : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    static const QCollator collator;
    return collator.compare(text(0), other.text(0)) < 0;
  }
};

QIcon Dimmed(const QIcon& icon) { return QIcon(icon.pixmap(32, 32, QIcon::Disabled)); }

}  // namespace

void TfrmMain::LoadPrinterIcons() {
  FIcons.clear();
  FIcons << icons::SystemPrinterIcon();
  for (int i = 1; i <= 254; ++i) {
    const QIcon icon = icons::ProgramIcon(1040 + i);
    if (icon.isNull()) break;
    FIcons << icon;
  }
  // Rows whose code names an icon file brought by a package get that icon's index as code.
  for (int i = 0; i < FApp.ModelTable.Count(); ++i) {
    TDLPrinter* row = FApp.ModelTable.Get(i);
    if (text::ParseIniInteger(row->CodeText).value_or(0) != 0 || row->CodeText.empty()) continue;
    const std::filesystem::path file = platform::DataDir() / row->CodeText;
    const QString path = QString::fromStdString(file.string());
    if (!QFileInfo(path).isFile()) continue;
    const QIcon icon(path);
    if (icon.availableSizes().isEmpty() && icon.pixmap(32, 32).isNull()) continue;
    row->Code = static_cast<int>(FIcons.size());
    FIcons << icon;
  }
}

void TfrmMain::lstvwPrintersPaint() {
  // A rebuild asked for while a modal window or a transfer is open waits for it to end.
  if (FRebuilding) {
    FRebuildPending = true;
    return;
  }
  FRebuilding = true;
  QTreeWidget* list = ui->lstvwPrinters;
  const bool visible = list->isVisibleTo(this);
  WaitCursor wait;
  QTreeWidgetItem* again = nullptr;
  {
    const QSignalBlocker block(list);
    list->hide();
    list->setSortingEnabled(false);
    list->clear();

    // One request to the server for the whole rebuild.
    const platform::SpoolerSnapshot snapshot;
    std::vector<std::string> names;
    const int failure = EnumPrinterNames(names);
    if (failure == rc::kOutOfMemory) {
      ShowMessageBox(std::string(strings::Load(4354)), platform::mb::kIconInformation, 0);
    } else if (failure == kEnumSpoolerUnreachable) {
      ShowMessageBox(std::string(strings::Load(4359)), platform::mb::kIconExclamation, 0);
    }

    const TDownDocFile* doc = FApp.GetDoc();
    for (const std::string& name : names) {
      auto* item = new PrinterItem(list);
      item->setText(0, QString::fromStdString(name));
      TPrnInfo info;
      std::string codeText = "0";
      if (FApp.QueryPrinter(name, info) == 1) {
        item->setText(1, QString::fromStdString(info.Driver));
        item->setText(2, QString::fromStdString(info.Port));
        item->setText(3, QString::fromStdString(info.Location));
        item->setText(4, QString::fromStdString(info.Comment));
        codeText = info.Code != 0 ? std::to_string(info.Code) : info.CodeText;
      }
      item->setData(0, kCodeRole, QString::fromStdString(codeText));
      int index = text::ParseIniInteger(codeText).value_or(0);
      if (index < 0 || index >= FIcons.size()) index = 0;
      const bool ghosted = !FApp.IsUpgradable(name) || (doc && !FApp.IsFileForPrinter(name));
      item->setIcon(0, ghosted ? Dimmed(FIcons[index]) : FIcons[index]);
      item->setData(0, Qt::UserRole + 2, ghosted);
      if (ghosted) {
        for (int c = 0; c < 5; ++c)
          item->setForeground(c, palette().brush(QPalette::Disabled, QPalette::Text));
      }
    }

    // The selected printer is remembered by name: the first row of that name, letter case aside.
    const std::string selected = ui->pnlSelected->text().toStdString();
    for (int i = 0; i < list->topLevelItemCount() && !again; ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      if (text::EqualsNoCase(item->text(0).toStdString(), selected)) again = item;
    }
    list->setSortingEnabled(true);
    list->sortItems(0, Qt::AscendingOrder);
    list->setVisible(visible);
    // What the list now shows, for noticing later changes (answered from the same snapshot).
    if (const auto print = PrintersFingerprint()) {
      FPrintersFingerprint = *print;
      FPrintersSeen = true;
    }
  }
  FRebuilding = false;
  // Selecting it runs the change handler, as a click would.
  if (again) list->setCurrentItem(again);
}

void TfrmMain::lstvwPrintersChange(QTreeWidgetItem* item) {
  if (!item || FRebuilding) return;
  ui->pnlSelected->setText(item->text(0));
  FApp.SelectPrinter(item->text(0).toStdString());
  ShowSelectedPrinter();
}

void TfrmMain::ShowSelectedPrinter() {
  const TPrnInfo& info = FApp.PrinterInfo;
  ui->pnlSelDrv->setText(QString::fromStdString(info.Driver));
  ui->pnlSelPort->setText(QString::fromStdString(info.Port));
  ui->pnlSelPlace->setText(QString::fromStdString(info.Location));
  ui->pnlSelComment->setText(QString::fromStdString(info.Comment));
  ui->pnlSelVer->setText(QString::fromStdString(info.Version));
  const int index = (info.Code >= 0 && info.Code < FIcons.size()) ? info.Code : 0;
  ui->imgSelIcon->setPixmap(FIcons.value(index).pixmap(32, 32));
  UpdateStatusText();
}

void TfrmMain::UpdateStatusText() {
  std::string status;
  const std::string p = ui->pnlSelected->text().toStdString();
  if (!p.empty()) {
    if (!FApp.IsUpgradable(p)) status = strings::Load(4179);
    if (!FApp.IsTargetModel(p)) status = strings::Load(4177);
    if (FApp.GetDoc() && !FApp.IsFileForPrinter(p)) status = strings::Load(4178);
  }
  ui->StatusBar->showMessage(QString::fromStdString(status));
}

void TfrmMain::WatchPrinters() {
  // Printers added, deleted or changed on the server show without a refresh: a cheap look at the
  // server every few seconds, skipped while a modal window or a transfer is open.
  if (QApplication::activeModalWidget() || FRebuilding || FAutoRunning || !isVisible()) return;
  const std::optional<std::string> now = PrintersFingerprint();
  if (!now) return;
  if (FPrintersSeen && *now != FPrintersFingerprint) PrintersChanged();
  FPrintersFingerprint = *now;
  FPrintersSeen = true;
}

void TfrmMain::PrintersChanged() {
  // Coalesced: one rebuild once no modal window (a box, the progress window) is open.
  if (FRebuildPending) return;
  FRebuildPending = true;
  RunDeferredRebuild();
}

void TfrmMain::RunDeferredRebuild() {
  if (!FRebuildPending) return;
  if (QApplication::activeModalWidget() || FRebuilding || FAutoRunning) {
    QTimer::singleShot(500, this, &TfrmMain::RunDeferredRebuild);
    return;
  }
  FRebuildPending = false;
  lstvwPrintersPaint();
}
