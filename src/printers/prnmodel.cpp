#include "printers/prnmodel.h"

TdlgPrnModel::TdlgPrnModel(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlgPrnModel"));
  setWindowTitle(QStringLiteral("プリンタ機種の決定"));
}
