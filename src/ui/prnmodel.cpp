#include "ui/prnmodel.h"

#include "ui_prnmodel.h"

#include "ui/uilook.h"

#include <QComboBox>
#include <QPushButton>
#include <QStyle>

#include <cstdio>

namespace {

// Every name is also a key of the built-in model table, so a choice is always found there.
const char* const kModels[] = {"PX-1100", "PX-1200", "PX-1300",  "PX-1400", "PX-1500",
                               "PX-E3000", "M2",     "M2-212",   "M2-214",  "M3",
                               "PX-E3500"};

constexpr int kDesignWidth = 336;
constexpr int kDesignHeight = 145;

}  // namespace

TdlgPrnModel::TdlgPrnModel(QWidget* parent) : QDialog(parent), ui(new Ui::TdlgPrnModel) {
  ui->setupUi(this);
  setWindowFlags(uilook::kDialogFrame);
  setFont(uilook::UiFont(12));

  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  ui->Image1->setPixmap(
      style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize));
  for (const char* model : kModels) ui->cmbModel->addItem(QString::fromUtf8(model));
  ui->cmbModel->setCurrentIndex(-1);
  ui->btnOk->setEnabled(false);
  ModelName.clear();

  connect(ui->cmbModel, &QComboBox::currentIndexChanged, this, &TdlgPrnModel::cmbModelChange);
  connect(ui->btnOk, &QPushButton::clicked, this, &TdlgPrnModel::btnOkClick);

  uilook::FixDesignSize(*this, kDesignWidth, kDesignHeight);
}

TdlgPrnModel::~TdlgPrnModel() = default;

QComboBox* TdlgPrnModel::cmbModel() const { return ui->cmbModel; }
QPushButton* TdlgPrnModel::btnOk() const { return ui->btnOk; }
QPushButton* TdlgPrnModel::btnCancel() const { return ui->btnCancel; }

void TdlgPrnModel::cmbModelChange() { ui->btnOk->setEnabled(ui->cmbModel->currentIndex() >= 0); }

void TdlgPrnModel::btnOkClick() {
  ModelName = ui->cmbModel->currentText().toStdString();
  done(kResultOk);
}

void TdlgPrnModel::reject() { done(kResultCancel); }

bool TPrnModelChooser::ChooseModel(std::string& modelName) {
  if (!FDialog) return false;
  if (Unattended()) {
    std::fputs("fwload: 接続先のﾌﾟﾘﾝﾀ機種が取得できませんでした。"
               " (model choice cancelled: unattended run)\n",
               stderr);
    return false;
  }
  if (FDialog->exec() != TdlgPrnModel::kResultOk) return false;
  modelName = FDialog->ModelName;
  return true;
}
