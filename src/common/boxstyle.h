#pragma once

// Style words and answers of message boxes (the values the messages are specified with). The core
// names a box's style and reads its answer; only the windows show boxes. The names keep the
// namespace they have always had, so that every caller reads as before.
namespace platform {

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

}  // namespace platform
