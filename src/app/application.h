#pragma once

#include <QApplication>

class TfrmMain;

// The program's application object: an exception that escapes an event handler is shown in a
// message box with its text, and the program goes on.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// SIGTERM, SIGINT and SIGHUP are caught from the start; one that arrives before the main window
// exists acts as soon as it does. A second signal ends the program at once with exit code 40,
// still removing the temporary folder.
void CatchCloseSignals();
// The first close signal goes to `mainWindow` (TfrmMain::CloseOnSignal) on the window's thread;
// nullptr hands it to nobody again (before the window is destroyed).
void CloseMainWindowOnSignals(TfrmMain* mainWindow);

// The program's exit code once its event loop has ended with `loopCode`. A close signal that
// stopped a run decides it (40), in an interactive run as in an unattended one; otherwise the
// loop's own code, else what the main window's run came to.
int ProgramExitCode(int loopCode, const TfrmMain& mainWindow);
