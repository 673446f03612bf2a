#include "app/help.h"

#include "app/uilook.h"

#include <QApplication>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

namespace help {

namespace {

std::filesystem::path helpFile;
QPointer<QTextBrowser> window;
int lastTopic = 0;

}  // namespace

void SetHelpFile(const std::filesystem::path& path) { helpFile = path; }

const std::filesystem::path& HelpFile() { return helpFile; }

int LastTopic() { return lastTopic; }

void ShowTopic(int context, QWidget* parent) {
  lastTopic = context;
  if (!parent) parent = QApplication::activeModalWidget();
  // The window follows the box it was opened from, so it stays usable next to a modal dialog.
  if (window && window->parentWidget() != parent) {
    window->deleteLater();
    window = nullptr;
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
