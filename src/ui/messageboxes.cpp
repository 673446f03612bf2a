#include "ui/messageboxes.h"

#include "ui/help.h"
#include "ui/uilook.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

QPointer<QWidget> owner;

QMessageBox::Icon IconOf(unsigned style) {
  switch (style & platform::mb::kIconMask) {
    case platform::mb::kIconStop:
      return QMessageBox::Critical;
    case platform::mb::kIconQuestion:
      return QMessageBox::Question;
    case platform::mb::kIconExclamation:
      return QMessageBox::Warning;
    case platform::mb::kIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

void SetMessageBoxOwner(QWidget* w) { owner = w; }

int QtMessageBoxes::Show(const std::string& text, unsigned style, int helpContext) {
  QWidget* parent = QApplication::activeModalWidget();
  if (!parent) parent = owner;
  QMessageBox box(parent);
  box.setWindowTitle(uilook::AppTitle());
  box.setText(uilook::BoxText(text));
  box.setTextFormat(Qt::PlainText);
  box.setIcon(IconOf(style));

  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  QPushButton* cancel = nullptr;
  if ((style & platform::mb::kButtonsMask) == platform::mb::kOkCancel) {
    cancel = box.addButton(QStringLiteral("ｷｬﾝｾﾙ"), QMessageBox::RejectRole);
    box.setEscapeButton(cancel);
  } else {
    box.setEscapeButton(ok);
  }
  box.setDefaultButton((cancel && (style & platform::mb::kDefaultButton2)) ? cancel : ok);
  if (style & platform::mb::kHelp) {
    QPushButton* helpButton = box.addButton(QStringLiteral("ﾍﾙﾌﾟ"), QMessageBox::HelpRole);
    // The box's own handler would close it: Help only opens the topic.
    helpButton->disconnect();
    QObject::connect(helpButton, &QPushButton::clicked, &box,
                     [&box, helpContext]() { help::ShowTopic(helpContext, &box); });
  }
  box.exec();
  return box.clickedButton() == cancel && cancel ? platform::kIdCancel : platform::kIdOk;
}
