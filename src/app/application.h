#pragma once

#include <QApplication>

// The program's application object: an exception that escapes an event handler is shown in a
// message box with its text, and the program goes on.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// SIGTERM, SIGINT and SIGHUP close the main window as the user would, so that the settings are
// saved and temporary files removed. The signals are caught from the start; one that arrives
// before the window exists closes it as soon as it does.
void CatchCloseSignals();
void CloseMainWindowOnSignals(QWidget* mainWindow);
