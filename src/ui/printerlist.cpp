// The printer list: rows, icons, ghosted printers, the selected printer's details and the
// status line.
#include "ui/frmmain.h"
#include "ui/waitcursor.h"

#include "ui_frmmain.h"

#include "common/codes.h"
#include "common/strings.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "printers/funcs.h"
#include "printers/myapp.h"
#include "ui/icons.h"
#include "ui/messagebox.h"

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
  // The person waits for this one: the hourglass until its rows are shown.
  if (!FRebuildCursor) FRebuildCursor.emplace();
  if (FGathering) {
    // What is under way was asked for before: ask again once it is in.
    FRebuildQueued = true;
    return;
  }
  StartGather(true);
}

void TfrmMain::StartGather(bool rebuild) {
  FGathering = true;
  if (FGather.joinable()) FGather.join();  // the last one has ended: its answer came in
  // The server is asked away from the window's thread, so one that has stopped answering never
  // freezes the window; the answer comes back as an event to this window.
  FGather = std::thread([this, rebuild] {
    auto snapshot = std::make_shared<TPrinterSnapshot>(GatherPrinters());
    QMetaObject::invokeMethod(
        this, [this, snapshot, rebuild] { SnapshotArrived(snapshot, rebuild); },
        Qt::QueuedConnection);
  });
}

void TfrmMain::SnapshotArrived(std::shared_ptr<TPrinterSnapshot> snapshot, bool rebuild) {
  if (FGather.joinable()) FGather.join();
  FGathering = false;
  const bool changed =
      snapshot->Fingerprint && FPrintersSeen && *snapshot->Fingerprint != FPrintersFingerprint;
  if (snapshot->Fingerprint) {
    FPrintersFingerprint = *snapshot->Fingerprint;
    FPrintersSeen = true;
  }
  if (FRebuildQueued) {
    FRebuildQueued = false;
    StartGather(true);
    return;
  }
  // A newer answer replaces one that still waits to be shown, unless it only says that the
  // server could not be asked.
  if (rebuild || changed || (FPendingSnapshot && snapshot->Fingerprint)) {
    FPendingSnapshot = std::move(snapshot);
    ApplyPendingSnapshot();
  }
}

void TfrmMain::ApplyPendingSnapshot() {
  if (!FPendingSnapshot) return;
  // Rows change only when no modal window (a box, the progress window) is open.
  if (QApplication::activeModalWidget() || FAutoRunning) {
    if (!FApplyScheduled) {
      FApplyScheduled = true;
      QTimer::singleShot(500, this, [this] {
        FApplyScheduled = false;
        ApplyPendingSnapshot();
      });
    }
    return;
  }
  const std::shared_ptr<TPrinterSnapshot> snapshot = std::move(FPendingSnapshot);
  FPendingSnapshot.reset();
  // The person is no longer kept waiting, also not by a box the rebuild shows.
  if (!FGathering && !FRebuildQueued) FRebuildCursor.reset();
  ShowSnapshot(*snapshot);
}

void TfrmMain::ShowSnapshot(const TPrinterSnapshot& snapshot) {
  QTreeWidget* list = ui->lstvwPrinters;
  const bool visible = list->isVisibleTo(this);
  QTreeWidgetItem* again = nullptr;
  {
    const QSignalBlocker block(list);
    list->hide();
    list->setSortingEnabled(false);
    list->clear();

    if (snapshot.Result == rc::kOutOfMemory) {
      ShowMessageBox(std::string(strings::Load(4354)), platform::mb::kIconInformation, 0);
    } else if (snapshot.Result == kEnumSpoolerUnreachable) {
      ShowMessageBox(std::string(strings::Load(4359)), platform::mb::kIconExclamation, 0);
    }

    for (const TPrinterSnapshot::Printer& printer : snapshot.Printers) {
      const TPrinterRow row = FApp.PrinterRowOf(printer);
      auto* item = new PrinterItem(list);
      item->setText(0, QString::fromStdString(printer.Name));
      std::string codeText = "0";
      if (row.Read == 1) {
        const TPrnInfo& info = row.Info;
        item->setText(1, QString::fromStdString(info.Driver));
        item->setText(2, QString::fromStdString(info.Port));
        item->setText(3, QString::fromStdString(info.Location));
        item->setText(4, QString::fromStdString(info.Comment));
        codeText = info.Code != 0 ? std::to_string(info.Code) : info.CodeText;
      }
      item->setData(0, kCodeRole, QString::fromStdString(codeText));
      int index = text::ParseIniInteger(codeText).value_or(0);
      if (index < 0 || index >= FIcons.size()) index = 0;
      item->setIcon(0, row.Ghosted ? Dimmed(FIcons[index]) : FIcons[index]);
      item->setData(0, Qt::UserRole + 2, row.Ghosted);
      if (row.Ghosted) {
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
    if (again) list->setCurrentItem(again);
  }
  // Selecting it runs the change handler, as a click would.
  if (again) lstvwPrintersChange(again);
}

void TfrmMain::lstvwPrintersChange(QTreeWidgetItem* item) {
  if (!item) return;
  ui->pnlSelected->setText(item->text(0));
  FApp.SelectPrinter(item->text(0).toStdString());
  ShowSelectedPrinter();
}

void TfrmMain::ListSelectionChanged() {
  // Every row the person highlights, by mouse or keys, becomes the selected printer, also the
  // one that was current before a printer was chosen outside the list.
  const QList<QTreeWidgetItem*> rows = ui->lstvwPrinters->selectedItems();
  if (!rows.isEmpty()) lstvwPrintersChange(rows.first());
}

void TfrmMain::ForgetListSelection() {
  const QSignalBlocker block(ui->lstvwPrinters);
  ui->lstvwPrinters->clearSelection();
  ui->lstvwPrinters->setCurrentItem(nullptr);
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
  // A label of its own: a menu item's tip, shown while it is hovered, never wipes it out.
  FStatusText->setText(QString::fromStdString(status));
}

void TfrmMain::WatchPrinters() {
  // Printers added, deleted or changed on the server show without a refresh: a cheap look at the
  // server every few seconds, skipped while a modal window or a transfer is open.
  if (QApplication::activeModalWidget() || FGathering || FPendingSnapshot || FAutoRunning ||
      !isVisible()) {
    return;
  }
  StartGather(false);
}

void TfrmMain::PrintersChanged() {
  // Coalesced: one rebuild once no modal window (a box, the progress window) is open.
  if (FRebuildPending) return;
  FRebuildPending = true;
  RunDeferredRebuild();
}

void TfrmMain::RunDeferredRebuild() {
  if (!FRebuildPending) return;
  if (QApplication::activeModalWidget() || FAutoRunning) {
    QTimer::singleShot(500, this, &TfrmMain::RunDeferredRebuild);
    return;
  }
  FRebuildPending = false;
  if (FGathering) {
    FRebuildQueued = true;
    return;
  }
  StartGather(true);
}
