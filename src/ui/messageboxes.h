#pragma once

#include "ui/messagebox.h"

class QWidget;

// Message boxes on the screen: the style word's buttons, icon and default button mapped onto a
// Qt message box, with a Help button that opens the help window at the box's topic and leaves
// the box open.
class QtMessageBoxes : public platform::IMessageBoxes {
 public:
  int Show(const std::string& text, unsigned style, int helpContext) override;
};

// The window that owns the program's boxes (the main window once it exists).
void SetMessageBoxOwner(QWidget* owner);
