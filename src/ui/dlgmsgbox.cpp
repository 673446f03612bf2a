#include "ui/dlgmsgbox.h"

#include "app/strings.h"

TDlgMsgBox::TDlgMsgBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DlgMsgBox"));
  setWindowTitle(QString::fromUtf8(strings::kAppTitle.data(),
                                   static_cast<int>(strings::kAppTitle.size())));
}
