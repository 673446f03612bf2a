#pragma once

#include <QDialog>

// The dialog in which the user names an FTP printer.
class TFtpConnect : public QDialog {
  Q_OBJECT
 public:
  explicit TFtpConnect(QWidget* parent = nullptr);
};
