#pragma once

#include <cstdint>
#include <string>

// Which process wrote something, in a form that survives the process: its id alone is not
// enough, as the system gives a finished process's id to a later one.
namespace platform {

struct ProcessIdentity {
  std::int64_t Pid = 0;
  // When the process started, as an opaque text that only this system compares (here the boot
  // and the clock tick since boot). Empty when it could not be read.
  std::string Start;
};

// The calling process.
ProcessIdentity ThisProcess();

// True while the process that `process` names still runs: its id is in use, by a process that
// started at the same time (a reused id is another process), and that is not a zombie. A process
// that cannot be looked at closer than its id counts as running.
bool IsProcessRunning(const ProcessIdentity& process);

}  // namespace platform
