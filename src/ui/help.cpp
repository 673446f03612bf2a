#include "ui/help.h"

#include "ui/uilook.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

namespace help {

namespace {

std::filesystem::path helpFile;
QPointer<QTextBrowser> window;
int lastTopic = 0;
const QString kOutliveBox = QStringLiteral("OutliveBox");

// When the box the help window was opened from closes, the help window becomes a window of its
// own (beside the box's owner), so the person can read on: a box may tell them to read help
// afterwards.
class OutliveBox : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* box, QEvent* event) override {
    if (event->type() == QEvent::Hide && window && window->parentWidget() == box) {
      QWidget* owner = static_cast<QWidget*>(box)->parentWidget();
      const QRect where = window->geometry();
      const bool shown = window->isVisible();
      window->setParent(owner ? owner->window() : nullptr, Qt::Window);
      window->setGeometry(where);
      if (shown) window->show();
    }
    if (event->type() == QEvent::Hide) {
      // Once: the next showing of a reused box gets a watcher of its own.
      box->removeEventFilter(this);
      setObjectName(QString());
      deleteLater();
    }
    return false;
  }
};

}  // namespace

void SetHelpFile(const std::filesystem::path& path) { helpFile = path; }

const std::filesystem::path& HelpFile() { return helpFile; }

int LastTopic() { return lastTopic; }

void ShowTopic(int context, QWidget* parent) {
  lastTopic = context;
  if (!parent) parent = QApplication::activeModalWidget();
  // The window follows the box it was opened from, so it stays usable next to a modal dialog.
  if (window && window->parentWidget() != parent) {
    const QRect where = window->geometry();
    window->setParent(parent, Qt::Window);
    window->setGeometry(where);
  }
  if (parent && parent->isModal() &&
      !parent->findChild<QObject*>(kOutliveBox, Qt::FindDirectChildrenOnly)) {
    auto* outlive = new OutliveBox(parent);
    outlive->setObjectName(kOutliveBox);
    parent->installEventFilter(outlive);
  }
  if (!window) {
    window = new QTextBrowser(parent);
    window->setObjectName("HelpWindow");
    window->setWindowFlags(Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setOpenExternalLinks(false);
    window->setWindowTitle(uilook::AppTitle());
    window->resize(560, 480);
  }
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(helpFile.string()));
  url.setFragment(QString::number(context));
  // The file's name does not end in .html: say what it holds.
  window->document()->setMetaInformation(QTextDocument::DocumentUrl, url.toString());
  window->setSource(url, QTextDocument::HtmlResource);
  window->scrollToAnchor(QString::number(context));
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace help
