#pragma once

#include <QFont>
#include <QString>
#include <Qt>

#include <string>
#include <string_view>

class QDialog;

// What the program's windows have in common: their font, their title, the frame of a dialog, and
// the program's UTF-8 text turned into the toolkit's.
namespace uilook {

// The program's Japanese UI font at `pixels` pixels.
QFont UiFont(int pixels);

// The program's text (UTF-8) for a control.
QString Qs(std::string_view text);

// The application title that every window and message box carries.
QString AppTitle();

// A message for a box: line breaks of the texts are carriage returns as often as line feeds.
QString BoxText(const std::string& text);

// A dialog frame with a title, a system menu and a close box, nothing else.
inline constexpr Qt::WindowFlags kDialogFrame = Qt::Dialog | Qt::CustomizeWindowHint |
                                                Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                Qt::WindowCloseButtonHint;

// Fixes a dialog at its design size, grown only where its texts need more room.
void FixDesignSize(QDialog& dialog, int designWidth, int designHeight);

}  // namespace uilook
