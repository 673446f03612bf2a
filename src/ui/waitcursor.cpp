#include "ui/waitcursor.h"

#include <QCursor>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace {

// Watches every window that opens: a modal one puts the override cursors aside until it closes.
class BoxWatch : public QObject {
 public:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Show && event->type() != QEvent::Hide) return false;
    if (!object->isWidgetType()) return false;
    auto* w = static_cast<QWidget*>(object);
    if (!w->isWindow()) return false;
    if (event->type() == QEvent::Show && w->isModal()) {
      Paused paused{w, {}};
      while (const QCursor* c = QApplication::overrideCursor()) {
        paused.cursors.push_back(*c);
        QApplication::restoreOverrideCursor();
      }
      paused_.push_back(std::move(paused));
    } else if (event->type() == QEvent::Hide) {
      for (auto it = paused_.rbegin(); it != paused_.rend(); ++it) {
        if (it->box != w) continue;
        // Back in the order they were set.
        for (auto c = it->cursors.rbegin(); c != it->cursors.rend(); ++c)
          QApplication::setOverrideCursor(*c);
        paused_.erase(std::next(it).base());
        break;
      }
    }
    return false;
  }

 private:
  struct Paused {
    QPointer<QWidget> box;
    std::vector<QCursor> cursors;
  };
  std::vector<Paused> paused_;
};

void WatchBoxes() {
  static QPointer<BoxWatch> watch;
  if (watch || !QApplication::instance()) return;
  watch = new BoxWatch;
  watch->setParent(QApplication::instance());
  QApplication::instance()->installEventFilter(watch);
}

}  // namespace

WaitCursor::WaitCursor() {
  WatchBoxes();
  QApplication::setOverrideCursor(Qt::WaitCursor);
}
