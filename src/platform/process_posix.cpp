#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

extern char** environ;

namespace platform {

namespace {

// Reaps the child if it has ended. True with its status when it has.
bool Reap(pid_t pid, int& status) {
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno == EINTR) continue;
    return false;
  }
}

// Waits up to `timeout` for the child to end; true with its status when it did.
bool WaitFor(pid_t pid, int pidfd, std::chrono::milliseconds timeout, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Reap(pid, status)) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (pidfd >= 0) {
      // The descriptor becomes readable when the process ends.
      pollfd p{pidfd, POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left.count()));
      if (r < 0 && errno != EINTR) {
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
      }
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds interval,
                      int polls) {
  ProgramRun run;
  if (argv.empty()) return run;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return run;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return run;
  }
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // A group of its own, so that ending it also ends whatever it started.
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return run;
  run.started = true;

  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  int status = 0;
  for (int i = 0; i < polls && !run.finished; ++i) {
    run.finished = WaitFor(pid, pidfd, interval, status);
  }
  if (!run.finished) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  } else if (WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
  }
  if (pidfd >= 0) ::close(pidfd);
  return run;
}

}  // namespace platform
