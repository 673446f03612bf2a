#pragma once

#include <QDialog>

// The progress window that accompanies a download.
class TfrmPrntView : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmPrntView(QWidget* parent = nullptr);
};
