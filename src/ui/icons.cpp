#include "ui/icons.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace icons {

namespace {

// A 32 x 32 page printer: body, paper tray and output sheet; `accent` marks the model.
QPixmap DrawPrinter(const QColor& accent, const QString& label) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(9.5, 2.5, 13, 9));  // sheet coming out
  p.setBrush(QColor(200, 200, 205));
  p.drawRoundedRect(QRectF(2.5, 10.5, 27, 15), 2, 2);  // body
  p.setBrush(accent);
  p.drawRect(QRectF(5.5, 13.5, 21, 5));  // model band
  p.setBrush(QColor(120, 120, 125));
  p.drawRect(QRectF(6.5, 25.5, 19, 4));  // tray
  if (!label.isEmpty()) {
    QFont f;
    f.setPixelSize(7);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(5.5, 13, 21, 6), Qt::AlignCenter, label);
  }
  return pm;
}

}  // namespace

QIcon ProgramIcon(int id) {
  if (id == 1040) return QIcon(DrawPrinter(QColor(90, 90, 95), QString()));
  if (id < 1041 || id > 1050) return QIcon();
  const int code = id - 1040;
  const QColor accent = QColor::fromHsv((code * 36) % 360, 180, 170);
  return QIcon(DrawPrinter(accent, QString::number(code)));
}

QIcon SystemPrinterIcon() { return ProgramIcon(1040); }

QIcon AppIcon() { return ProgramIcon(1047); }

}  // namespace icons
