#include "ui/frmhistory.h"

#include "ui_frmhistory.h"

#include "common/boxstyle.h"
#include "common/history.h"
#include "common/historynotice.h"
#include "ui/historymodel.h"
#include "ui/messagebox.h"
#include "ui/uilook.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

namespace {

// Each column as wide as what the first page holds, within these bounds: a long address or
// path is cut rather than pushing the result out of sight (its tip shows it whole).
struct Bounds {
  int Least;
  int Most;
};
constexpr Bounds kColumn{60, 130};
constexpr Bounds kResultColumn{60, 200};
// The smallest the window may be made.
constexpr QSize kMinSize(480, 240);

}  // namespace

TfrmHistory::TfrmHistory(HistoryStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmHistory>()), FStore(store) {
  ui->setupUi(this);
  setWindowFlags(uilook::kDialogFrame | Qt::WindowMaximizeButtonHint);
  setFont(uilook::UiFont(12));
  QFont listFont(QStringLiteral("Noto Sans Mono CJK JP"));
  listFont.setPixelSize(12);
  ui->lstvwHistory->setFont(listFont);
  setMinimumSize(kMinSize);
  setSizeGripEnabled(true);

  FModel = new THistoryModel(store, THistoryModel::kPageRows, this);
  FModel->Reload();
  ui->lstvwHistory->setModel(FModel);
  QHeaderView* header = ui->lstvwHistory->header();
  header->setSectionsMovable(false);
  header->setStretchLastSection(true);
  for (int i = 0; i < THistoryModel::kColumnCount; ++i) {
    ui->lstvwHistory->resizeColumnToContents(i);
    const Bounds b = i == THistoryModel::kResult ? kResultColumn : kColumn;
    ui->lstvwHistory->setColumnWidth(i,
                                     std::clamp(ui->lstvwHistory->columnWidth(i), b.Least, b.Most));
  }
  connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmHistory::~TfrmHistory() = default;

QTreeView* TfrmHistory::lstvwHistory() const { return ui->lstvwHistory; }
QPushButton* TfrmHistory::btnClose() const { return ui->btnClose; }

void TfrmHistory::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Over the window, once it is up.
  if (!FNoticesTold) {
    FNoticesTold = true;
    QTimer::singleShot(0, this, &TfrmHistory::TellNotices);
  }
}

void TfrmHistory::TellNotices() {
  for (const HistoryNotice& notice : FStore.TakeNotices()) {
    platform::MessageBoxes().Show(NoticeMessageOf(notice).Text, platform::mb::kIconExclamation, 0);
  }
}
