#include "app/application.h"

#include "common/resultmessages.h"
#include "platform/closesignals.h"
#include "ui/frmmain.h"
#include "ui/messagebox.h"

#include <exception>

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

void CatchCloseSignals() { platform::CatchCloseSignals(exitcode::kAborted); }

void CloseMainWindowOnSignals(TfrmMain* mainWindow) {
  CatchCloseSignals();
  if (!mainWindow) {
    platform::OnCloseSignal({});
    return;
  }
  // The window outlives the handler: it is removed before the window goes, and an event still
  // queued for a window that has gone is dropped with it.
  platform::OnCloseSignal([mainWindow] {
    QMetaObject::invokeMethod(mainWindow, &TfrmMain::CloseOnSignal, Qt::QueuedConnection);
  });
}

int ProgramExitCode(int loopCode, const TfrmMain& mainWindow) {
  if (mainWindow.StoppedBySignal()) return exitcode::kAborted;
  if (loopCode != 0) return loopCode;
  return mainWindow.ExitCode();
}
