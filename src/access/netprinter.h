#pragma once

#include <QDialog>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace Ui {
class TdlgNetworkPrinter;
}

namespace fwlaccess {

// The library's network printer dialog: the print server's queues that reach a printer over the
// network, and the address and directory of an FTP printer. The target is a queue name, or the
// FTP target "ftp://" host[:port] "/" directory when an address is typed.
class TdlgNetworkPrinter : public QDialog {
  Q_OBJECT
 public:
  // `limit`: the bytes the caller can take, the terminating zero included; a longer target
  // cannot be confirmed, since it is never cut.
  TdlgNetworkPrinter(QWidget* parent, std::size_t limit);
  ~TdlgNetworkPrinter() override;

  // Fills the list from the print server.
  void LoadPrinters();
  // The chosen target; empty when there is none, or when the typed address is no host[:port] or
  // the directory cannot receive a file.
  std::string Target() const;

 private slots:
  void lstvwPrintersSelectionChanged();
  void edtFtpAddrChange();
  void UpdateOk();

 private:
  std::unique_ptr<Ui::TdlgNetworkPrinter> ui;
  std::size_t limit_;
};

}  // namespace fwlaccess
