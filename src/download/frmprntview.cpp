#include "download/frmprntview.h"

#include "app/strings.h"

TfrmPrntView::TfrmPrntView(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmPrntView"));
  setWindowTitle(QString::fromUtf8(strings::kAppTitle.data(),
                                   static_cast<int>(strings::kAppTitle.size())));
}
