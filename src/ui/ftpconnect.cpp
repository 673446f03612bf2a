#include "ui/ftpconnect.h"

#include "ui_ftpconnect.h"

#include "common/codes.h"
#include "common/ftpaddress.h"
#include "common/strings.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "ui/forms.h"
#include "ui/messagebox.h"
#include "ui/prnmodel.h"
#include "ui/uilook.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdint>
#include <string>

namespace {

constexpr int kDesignWidth = 308;
constexpr int kDesignHeight = 118;
constexpr int kMsgDirectoryInAddress = 4360;
constexpr int kMsgNoAddress = 4361;

}  // namespace

TFtpConnect::TFtpConnect(QWidget* parent) : QDialog(parent), ui(new Ui::TFtpConnect) {
  ui->setupUi(this);
  setWindowFlags(uilook::kDialogFrame);
  setFont(uilook::UiFont(12));
  connect(ui->btnOk, &QPushButton::clicked, this, &TFtpConnect::btnOkClick);
  connect(ui->Button2, &QPushButton::clicked, this, [this]() { done(kResultCancel); });

  uilook::FixDesignSize(*this, kDesignWidth, kDesignHeight);
}

TFtpConnect::~TFtpConnect() = default;

QLabel* TFtpConnect::Label1() const { return ui->Label1; }
QLabel* TFtpConnect::Label2() const { return ui->Label2; }
QLineEdit* TFtpConnect::editFtpAddr() const { return ui->editFtpAddr; }
QLineEdit* TFtpConnect::editFtpDir() const { return ui->editFtpDir; }
QPushButton* TFtpConnect::btnOk() const { return ui->btnOk; }
QPushButton* TFtpConnect::Button2() const { return ui->Button2; }

void TFtpConnect::reject() { done(kResultCancel); }

std::string TFtpConnect::Target() const {
  ftpaddress::ParsedAddress parsed =
      ftpaddress::ParseAddressField(ui->editFtpAddr->text().toStdString());
  if (!parsed.Ok()) return std::string();
  parsed.Address.Directory = ftpaddress::NormalDirectory(ui->editFtpDir->text().toStdString());
  return parsed.Address.Target();
}

void TFtpConnect::btnOkClick() {
  TFWLOADApp* app = FApp ? FApp : Myapp;
  TdlgPrnModel* modelDialog = FModelDialog ? FModelDialog : dlgPrnModel;

  const ftpaddress::ParsedAddress parsed =
      ftpaddress::ParseAddressField(ui->editFtpAddr->text().toStdString());
  if (!parsed.Ok()) {
    // Said before anybody is asked; the person corrects the field and tries again.
    const int id = parsed.Error == ftpaddress::AddressError::DirectoryGiven ? kMsgDirectoryInAddress
                                                                            : kMsgNoAddress;
    platform::MessageBoxes().Show(std::string(strings::Load(id)), platform::mb::kIconExclamation,
                                  0);
    ui->editFtpAddr->setFocus();
    ui->editFtpAddr->selectAll();
    return;
  }
  const std::string host = parsed.Address.Authority();

  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::string model;
  std::string version;
  std::uint32_t lastError = 0;
  const bool known = AccessLibrary().GetFtpPrinterInfo(host, model, version, lastError);
  QApplication::restoreOverrideCursor();

  int result = kResultAbort;
  if (known) {
    if (app) app->SetFtpPrinterInfo(model, version, host);
    result = kResultOk;
  } else if (lastError == accesscode::kModelUnknown) {
    // Reached, but it names no model: the user chooses one, or cancels the whole dialog.
    result = modelDialog ? modelDialog->exec() : kResultCancel;
    if (result == TdlgPrnModel::kResultOk && app && modelDialog) {
      app->SetFtpPrinterInfo(modelDialog->ModelName, std::string(), host);
    }
  }
  done(result);
}
