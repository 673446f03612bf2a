#pragma once

#include <chrono>
#include <string>
#include <vector>

// Running another program and waiting for it a bounded time.
namespace platform {

struct ProgramRun {
  bool started = false;   // the program was found and started
  bool finished = false;  // it ended by itself before the polls ran out
  int exitCode = -1;      // its exit status when it exited normally, else -1
};

// Starts `argv[0]` (looked up on the search path) with the arguments as they are, without a shell,
// in the caller's environment and folder, with its output discarded. Looks at it up to `polls`
// times, `interval` apart; it is seen to end at once, not at the next poll. A program still
// running after the last poll is killed, with anything it started, and reaped.
ProgramRun RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds interval,
                      int polls);

}  // namespace platform
