#pragma once

#include <filesystem>

class QWidget;

// The program's help window: the help file "FWLOAD.HLP" beside the executable, an HTML document
// with one anchor per topic number.
namespace help {

void SetHelpFile(const std::filesystem::path& path);
const std::filesystem::path& HelpFile();

// Shows the help window at a topic. `parent` keeps it usable while a modal box is open.
void ShowTopic(int context, QWidget* parent = nullptr);

// The topic shown last, 0 before any (lets tests see that Help was reached).
int LastTopic();

}  // namespace help
