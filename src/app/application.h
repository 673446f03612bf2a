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
// saved and temporary files removed.
void CloseMainWindowOnSignals(QWidget* mainWindow);
