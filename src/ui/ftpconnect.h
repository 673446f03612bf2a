#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class TFtpConnect;
}

class QLabel;
class QLineEdit;
class QPushButton;
class TFWLOADApp;
class TdlgPrnModel;

// The dialog in which the user names an FTP printer: its address and directory. Created once;
// the two fields keep their texts from one use to the next. OK first reads the address
// (host[:port], "ftp://" before and "/" after allowed): a directory in it or an address that is no
// host is refused with a message, and the dialog stays. Then it asks the printer for its model:
// the dialog ends with 1 (printer and model known, stored with SetFtpPrinterInfo), 2 (cancelled,
// also when the user cancels the model choice) or 3 (the printer cannot be reached). On 1 the
// caller selects Target().
class TFtpConnect : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;
  static constexpr int kResultAbort = 3;

  explicit TFtpConnect(QWidget* parent = nullptr);
  ~TFtpConnect() override;

  // The application model that receives the printer's model and version; Myapp unless set.
  void SetApp(TFWLOADApp* app) { FApp = app; }
  // The model choice dialog for a printer that names no model; dlgPrnModel unless set.
  void SetModelDialog(TdlgPrnModel* dialog) { FModelDialog = dialog; }

  QLabel* Label1() const;
  QLabel* Label2() const;
  QLineEdit* editFtpAddr() const;
  QLineEdit* editFtpDir() const;
  QPushButton* btnOk() const;
  QPushButton* Button2() const;

  // "ftp://" host[:port] "/" directory of the two fields; empty when the address is no host.
  std::string Target() const;

  void btnOkClick();
  // Esc and the close box cancel, as the cancel button does.
  void reject() override;

 private:
  std::unique_ptr<Ui::TFtpConnect> ui;
  TFWLOADApp* FApp = nullptr;
  TdlgPrnModel* FModelDialog = nullptr;
};
