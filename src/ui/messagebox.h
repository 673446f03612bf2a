#pragma once

#include "common/boxstyle.h"

#include <string>

// Every message box the program shows goes through this interface, so that tests can answer the
// boxes and record what was shown.
namespace platform {

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // Shows `text` with the application title; returns the button pressed (kIdOk, kIdCancel).
  virtual int Show(const std::string& text, unsigned style, int helpContext) = 0;
};

// The interface in use; SetMessageBoxes(nullptr) restores the default, which answers OK to
// everything and writes the text to standard error.
IMessageBoxes& MessageBoxes();
void SetMessageBoxes(IMessageBoxes* boxes);

}  // namespace platform
