#pragma once

#include <cstdint>

// Result codes of opening a file and of a transfer (16-bit, 0 = success), and the codes of the
// printer access library. The main window turns result codes into messages.
namespace rc {

constexpr std::uint16_t kSuccess = 0;
constexpr std::uint16_t kFileOpen = 17;        // a file cannot be opened
constexpr std::uint16_t kTempFile = 18;        // a temporary file cannot be made
constexpr std::uint16_t kPrinterOpen = 32;     // the printer cannot be opened
constexpr std::uint16_t kSendFailed = 33;      // sending failed
constexpr std::uint16_t kJobFailed = 34;       // the spooler ended the job with an error
constexpr std::uint16_t kDirectoryChange = 35; // the FTP printer's directory cannot be entered
constexpr std::uint16_t kTooLarge = 36;        // the download command cannot describe the data size
constexpr std::uint16_t kUnrecognised = 64;    // the file's header is not recognised (a warning)
constexpr std::uint16_t kAborted = 4096;       // the user aborted

constexpr std::uint16_t kOutOfMemory = 14;     // the printer list could not be had

}  // namespace rc

// Codes of the printer access library (its last-error value and its transfer result).
namespace accesscode {

constexpr std::uint32_t kSuccess = 0;
constexpr std::uint32_t kDirectory = 0x20000003;     // the printer's directory cannot be entered
constexpr std::uint32_t kTempFile = 0x20000009;
constexpr std::uint32_t kSendFailed = 0x2000000A;
constexpr std::uint32_t kModelUnknown = 0x20000011;  // reached, but the printer names no model
constexpr std::uint32_t kAborted = 0x20001000;

}  // namespace accesscode
