#include "ui/uilook.h"

#include "common/strings.h"

#include <QDialog>

#include <algorithm>

namespace uilook {

QFont UiFont(int pixels) {
  QFont font(QStringLiteral("Noto Sans CJK JP"));
  font.setPixelSize(pixels);
  return font;
}

QString Qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString AppTitle() { return Qs(strings::kAppTitle); }

QString BoxText(const std::string& text) {
  QString body = QString::fromStdString(text);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
  return body;
}

void FixDesignSize(QDialog& dialog, int designWidth, int designHeight) {
  dialog.adjustSize();
  const QSize hint = dialog.sizeHint();
  dialog.setFixedSize(std::max(designWidth, hint.width()), std::max(designHeight, hint.height()));
}

}  // namespace uilook
