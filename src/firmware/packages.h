#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

// Unpacking firmware packages: compressed files are expanded, cabinets extracted into a folder of
// their own; afterwards the temporary file or folder is deleted again.

// Notifications of the cabinet walk to CabinetCallback.
inline constexpr unsigned kCabinetInfo = 0x10;    // the cabinet is announced; context = target
inline constexpr unsigned kFileInCabinet = 0x11;  // param1: the member's TCabinetFileInfo
inline constexpr unsigned kNeedNewCabinet = 0x12;
inline constexpr unsigned kFileExtracted = 0x13;  // param1: the member's TCabinetFileInfo

// Answers of CabinetCallback.
inline constexpr unsigned kCabinetNoError = 0;
inline constexpr unsigned kCabinetExtract = 1;  // to a file in the cabinet: extract it
inline constexpr unsigned kCabinetSkip = 2;     // to a file in the cabinet: leave it out

// One member of a cabinet as the callback sees it.
struct TCabinetFileInfo {
  std::string NameInCabinet;  // UTF-8, separators as stored
  std::uint32_t FileSize = 0;
  std::string FullTargetName;  // filled in by the callback: where the member is extracted to
  int Error = 0;               // with kFileExtracted: 0, or why the member is missing
};

// The command-line cabinet tool used when the cabinet walk fails.
struct TCabinetTool {
  std::string Program = "cabextract";
  std::chrono::milliseconds PollInterval{1000};
  int PollCount = 20;
};

// The tool ExtractCabinet falls back to; tests shorten the waits.
TCabinetTool& CabinetTool();

// Writes the expansion of `source` (or, when it is not compressed, its exact copy) to `target`.
// On failure sets `error` to 17 (the source cannot be opened) or 18 and leaves no target.
bool ExpandFile(const std::filesystem::path& source, const std::filesystem::path& target,
                std::uint16_t& error);

// Extracts a cabinet into `targetDir`: through IterateCabinet, else through the command-line
// tool. What could not be extracted is simply missing. False only when the cabinet needed the tool
// and the tool could not be started (it is not installed): nothing was extracted.
bool ExtractCabinet(const std::filesystem::path& cabinet, const std::filesystem::path& targetDir,
                    const TCabinetTool& tool = CabinetTool());

// Answers the cabinet walk's notifications; decides each member's target and whether it is
// extracted. Its remembered target folder is one value for the process.
unsigned CabinetCallback(void* context, unsigned notification, std::uintptr_t param1,
                         std::uintptr_t param2);

// Removes a file, or a folder with everything in it. True when it was there and is gone.
bool DeleteTemp(const std::filesystem::path& path);

// Extracts a cabinet into a folder, asking CabinetCallback about every member. 0 on success, else
// the reason the cabinet could not be read. Exported by the program under this name.
extern "C" __attribute__((visibility("default"))) int IterateCabinet(const char* cabinetPath,
                                                                     const char* targetDir);
