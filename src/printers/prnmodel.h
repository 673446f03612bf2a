#pragma once

#include <QDialog>

// The model choice dialog, shown when a printer does not report its model.
class TdlgPrnModel : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgPrnModel(QWidget* parent = nullptr);
};
