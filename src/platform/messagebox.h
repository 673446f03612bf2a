#pragma once

#include <string>

// Every message box the program shows goes through this interface, so that tests can answer the
// boxes and record what was shown.
namespace platform {

// Style words of message boxes (the values the messages are specified with).
namespace mb {
constexpr unsigned kOk = 0x0000;
constexpr unsigned kOkCancel = 0x0001;
constexpr unsigned kButtonsMask = 0x000F;
constexpr unsigned kIconStop = 0x0010;
constexpr unsigned kIconQuestion = 0x0020;
constexpr unsigned kIconExclamation = 0x0030;
constexpr unsigned kIconInformation = 0x0040;
constexpr unsigned kIconMask = 0x00F0;
constexpr unsigned kDefaultButton2 = 0x0100;
constexpr unsigned kHelp = 0x4000;
}  // namespace mb

// Answers of a box.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

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
