#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace platform {

namespace {

std::filesystem::path HomeDir() {
  const char* home = std::getenv("HOME");
  return (home && *home) ? std::filesystem::path(home) : std::filesystem::path("/");
}

std::filesystem::path XdgDir(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  // The XDG rules ignore relative values.
  if (value && *value == '/') return std::filesystem::path(value);
  return HomeDir() / fallback;
}

std::mutex tempMutex;
std::filesystem::path tempDir;

}  // namespace

std::filesystem::path SettingsFilePath() {
  return XdgDir("XDG_CONFIG_HOME", ".config") / "fwload" / "FWLOAD.INI";
}

std::filesystem::path DataDir() { return XdgDir("XDG_DATA_HOME", ".local/share") / "fwload"; }

std::filesystem::path ProgramDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

std::filesystem::path TempDir() {
  std::lock_guard lock(tempMutex);
  std::error_code ec;
  if (!tempDir.empty() && std::filesystem::is_directory(tempDir, ec)) return tempDir;
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string((base && *base) ? base : "/tmp") + "/fwload-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) return {};
  tempDir = tmpl;
  return tempDir;
}

void RemoveTempDir() {
  std::lock_guard lock(tempMutex);
  if (tempDir.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(tempDir, ec);
  tempDir.clear();
}

}  // namespace platform
