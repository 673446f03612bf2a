#include "platform/processinfo.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace platform {

namespace {

// A process's state letter and start time (clock ticks since boot) from /proc/PID/stat. The
// command name in parentheses may hold blanks and ")", so the fields are counted after the last
// ")".
struct StatFields {
  char State = '?';
  std::string StartTicks;
};

std::optional<StatFields> ReadStat(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const auto close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 1));
  StatFields result;
  std::string field;
  // Fields 3 (state) to 22 (starttime).
  for (int index = 3; index <= 22 && fields >> field; ++index) {
    if (index == 3) result.State = field.empty() ? '?' : field[0];
    if (index == 22) result.StartTicks = field;
  }
  if (result.StartTicks.empty()) return std::nullopt;
  return result;
}

// Tick counts restart at every boot; the boot's id tells one boot from the next.
std::string BootId() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id;
}

std::string StartText(const StatFields& stat) { return BootId() + "/" + stat.StartTicks; }

}  // namespace

ProcessIdentity ThisProcess() {
  ProcessIdentity self;
  self.Pid = ::getpid();
  if (const auto stat = ReadStat("self")) self.Start = StartText(*stat);
  return self;
}

bool IsProcessRunning(const ProcessIdentity& process) {
  if (process.Pid <= 0 || process.Pid > static_cast<std::int64_t>(INT32_MAX)) return false;
  // EPERM: the id is in use by a process of another user.
  if (::kill(static_cast<pid_t>(process.Pid), 0) != 0 && errno == ESRCH) return false;
  if (process.Start.empty()) return true;
  const auto stat = ReadStat(std::to_string(process.Pid));
  if (!stat) return ::kill(static_cast<pid_t>(process.Pid), 0) == 0 || errno != ESRCH;
  if (stat->State == 'Z' || stat->State == 'X') return false;
  return StartText(*stat) == process.Start;
}

}  // namespace platform
