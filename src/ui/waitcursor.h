#pragma once

#include <QApplication>

// The hourglass for the length of a scope. A window that waits for the person (a message box, any
// modal dialog) takes every hourglass away while it is open and gives it back when it closes: the
// person is asked then, not kept waiting.
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};
