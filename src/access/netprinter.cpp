// SelectNetworkPrinter and its dialog.
#include "access/netprinter.h"

#include "access/addresses.h"
#include "access/fwloadaccess.h"
#include "common/ftpaddress.h"
#include "platform/spooler.h"
#include "platform/text.h"

#include "ui_netprinter.h"

#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QPushButton>

#include <cstring>

namespace fwlaccess {

TdlgNetworkPrinter::TdlgNetworkPrinter(QWidget* parent, std::size_t limit)
    : QDialog(parent), ui(new Ui::TdlgNetworkPrinter), limit_(limit) {
  ui->setupUi(this);
  QFont uiFont(QStringLiteral("Noto Sans CJK JP"));
  uiFont.setPixelSize(12);
  setFont(uiFont);
  ui->lstvwPrinters->header()->setStretchLastSection(true);
  connect(ui->lstvwPrinters, &QTreeWidget::itemSelectionChanged, this,
          &TdlgNetworkPrinter::lstvwPrintersSelectionChanged);
  connect(ui->lstvwPrinters, &QTreeWidget::itemDoubleClicked, this, [this]() {
    if (ui->btnOk->isEnabled()) accept();
  });
  connect(ui->edtFtpAddr, &QLineEdit::textChanged, this, &TdlgNetworkPrinter::edtFtpAddrChange);
  connect(ui->edtFtpDir, &QLineEdit::textChanged, this, &TdlgNetworkPrinter::UpdateOk);
  connect(ui->btnOk, &QPushButton::clicked, this, &QDialog::accept);
  UpdateOk();
}

TdlgNetworkPrinter::~TdlgNetworkPrinter() = default;

void TdlgNetworkPrinter::LoadPrinters() {
  ui->lstvwPrinters->clear();
  // One request for the whole list.
  platform::SpoolerSnapshot snapshot;
  std::vector<std::string> names;
  if (platform::Spooler().EnumPrinters(names) != platform::SpoolStatus::Ok) return;
  for (const auto& name : names) {
    const auto printer = platform::Spooler().OpenPrinter(name);
    if (!printer) continue;
    const auto data = printer->GetData();
    if (!data || data->IsClass || !IsNetworkDeviceUri(data->DeviceUri)) continue;
    auto* item = new QTreeWidgetItem(ui->lstvwPrinters);
    item->setText(0, QString::fromStdString(data->Name));
    item->setText(1, QString::fromStdString(data->DeviceUri));
    item->setText(2, QString::fromStdString(data->Driver));
  }
  for (int c = 0; c < ui->lstvwPrinters->columnCount(); ++c) {
    ui->lstvwPrinters->resizeColumnToContents(c);
  }
}

std::string TdlgNetworkPrinter::Target() const {
  const std::string address = ui->edtFtpAddr->text().trimmed().toStdString();
  if (!address.empty()) {
    // Read as the program's FTP printer dialog reads it: the directory has its own field.
    ftpaddress::ParsedAddress parsed = ftpaddress::ParseAddressField(address);
    if (!parsed.Ok()) return std::string();
    parsed.Address.Directory = ftpaddress::NormalDirectory(ui->edtFtpDir->text().toStdString());
    if (ftpaddress::CheckDirectory(parsed.Address.Directory) != ftpaddress::AddressError::None) {
      return std::string();
    }
    return parsed.Address.Target();
  }
  const QList<QTreeWidgetItem*> selected = ui->lstvwPrinters->selectedItems();
  return selected.isEmpty() ? std::string() : selected.front()->text(0).toStdString();
}

void TdlgNetworkPrinter::lstvwPrintersSelectionChanged() {
  // A queue chosen in the list replaces a typed address, and the other way round.
  if (!ui->lstvwPrinters->selectedItems().isEmpty()) {
    const QSignalBlocker block(ui->edtFtpAddr);
    ui->edtFtpAddr->clear();
  }
  UpdateOk();
}

void TdlgNetworkPrinter::edtFtpAddrChange() {
  if (!ui->edtFtpAddr->text().trimmed().isEmpty()) {
    const QSignalBlocker block(ui->lstvwPrinters);
    ui->lstvwPrinters->clearSelection();
  }
  UpdateOk();
}

void TdlgNetworkPrinter::UpdateOk() {
  const std::string target = Target();
  ui->btnOk->setEnabled(!target.empty() && target.size() < limit_);
}

}  // namespace fwlaccess

extern "C" FWL_API int SelectNetworkPrinter(void* owner, char* buffer, uint32_t size,
                                            uint32_t* /*reserved*/) {
  // The dialog needs the program's running toolkit.
  if (!buffer || size == 0 || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
    return 0;
  }
  fwlaccess::TdlgNetworkPrinter dialog(static_cast<QWidget*>(owner), size);
  dialog.LoadPrinters();
  if (dialog.exec() != QDialog::Accepted) return 0;
  const std::string target = dialog.Target();
  if (target.empty() || target.size() >= size) return 0;
  std::memcpy(buffer, target.data(), target.size());
  buffer[target.size()] = '\0';
  return 1;
}
