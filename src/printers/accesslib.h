#pragma once

#include "access/fwloadaccess.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

// The printer access library as the program sees it. The library is loaded at start; when it
// cannot be loaded every operation fails as the library itself would (nothing chosen, printer not
// reached, sending failed).
class IAccessLibrary {
 public:
  virtual ~IAccessLibrary() = default;
  // Nonzero with the chosen target in `target`; 0 when nothing was chosen.
  virtual int SelectNetworkPrinter(void* owner, std::string& target) = 0;
  // True with the printer's model and version; false with the library's last error.
  virtual bool GetFtpPrinterInfo(const std::string& host, std::string& model, std::string& version,
                                 std::uint32_t& lastError) = 0;
  virtual std::uint32_t SendFileToFtpPrinter(FwlNotifyProc notify, void* context,
                                             const std::string& host, const std::string& directory,
                                             const std::string& path) = 0;
};

// The library's C functions, wherever they come from: looked up in the shared library, or linked
// into a front end that shows no window (and so needs no dialog, nor the toolkit it brings).
struct AccessFunctions {
  int (*Select)(void*, char*, uint32_t, uint32_t*) = nullptr;
  int (*Info)(const char*, char*) = nullptr;
  uint32_t (*Send)(FwlNotifyProc, void*, const char*, const char*, const char*) = nullptr;
  uint32_t (*LastError)() = nullptr;
};

// The library that calls `functions`; an operation without its function fails as the library
// would (nothing chosen, printer not reached, sending failed).
std::unique_ptr<IAccessLibrary> MakeAccessLibrary(const AccessFunctions& functions);

// The library found by LoadAccessLibrary, or a stand-in that fails every call.
IAccessLibrary& AccessLibrary();
// Replaces the library in use (tests); nullptr restores the loaded one.
void SetAccessLibrary(IAccessLibrary* library);
// Loads libfwloadaccess.so from `file`. False when it cannot be loaded.
bool LoadAccessLibrary(const std::filesystem::path& file);
// The library's file name beside the executable.
inline constexpr const char* kAccessLibraryName = "libfwloadaccess.so";
