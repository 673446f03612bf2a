#include "app/application.h"

#include "platform/messagebox.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <exception>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    platform::MessageBoxes().Show(e.what(), platform::mb::kIconStop, 0);
  } catch (...) {
    platform::MessageBoxes().Show("Unknown error", platform::mb::kIconStop, 0);
  }
  return false;
}

void CatchCloseSignals() {
  if (signalPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
}

void CloseMainWindowOnSignals(QWidget* mainWindow) {
  CatchCloseSignals();
  if (signalPipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, mainWindow);
  QPointer<QWidget> window(mainWindow);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [window]() {
    char buf[16];
    [[maybe_unused]] const auto n = ::read(signalPipe[0], buf, sizeof buf);
    if (!window) return;
    // Modal dialogs end first; the main window closes once their loops have returned.
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w != window && w->isModal() && w->isVisible()) w->close();
    }
    QTimer::singleShot(0, window, [window] {
      if (window) window->close();
    });
  });
}
