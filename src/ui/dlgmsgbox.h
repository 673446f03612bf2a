#pragma once

#include <QDialog>

// A message box with a check box, for the settings-memory question.
class TDlgMsgBox : public QDialog {
  Q_OBJECT
 public:
  explicit TDlgMsgBox(QWidget* parent = nullptr);
};
