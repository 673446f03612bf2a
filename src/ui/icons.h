#pragma once

#include <QIcon>

// The program's own pictures, drawn rather than shipped as image files.
namespace icons {

// Printer icons: 1040 is the plain printer, 1041 to 1050 the models of codes 1 to 10.
// A null icon for any other id.
QIcon ProgramIcon(int id);

// The plain printer picture that stands for a printer of unknown model.
QIcon SystemPrinterIcon();

// The window icon.
QIcon AppIcon();

}  // namespace icons
