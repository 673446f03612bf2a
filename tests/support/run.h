#pragma once

// Running a helper program (a server script, a reference tool) from a test or a benchmark.
// Header only, so that the benchmarks and the fuzz seed writer use it without the test library.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

// Where a program's standard streams come from and go to. By default it reads nothing, its
// output is thrown away and its errors appear on ours.
struct RunIo {
  std::filesystem::path Dir{};      // the folder it runs in; empty: ours
  std::filesystem::path Input{};    // standard input from this file; empty: /dev/null
  std::filesystem::path Output{};   // standard output into this file; empty: /dev/null
  std::string* Captured = nullptr;  // standard output kept here instead
  bool ErrorsToOutput = false;      // standard error goes where standard output goes
};

// Runs a program (found on PATH when its name has no "/") without a shell and waits for it.
// Its exit code, or -1 when it could not be started or did not exit.
inline int Run(const std::vector<std::string>& argv, const RunIo& io = {}) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int pipefd[2] = {-1, -1};
  if (io.Captured && ::pipe2(pipefd, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The folder first: relative stream files are taken from it.
  if (!io.Dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, io.Dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, io.Input.empty() ? "/dev/null" : io.Input.c_str(),
                                   O_RDONLY, 0);
  if (io.Captured) {
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1,
                                     io.Output.empty() ? "/dev/null" : io.Output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (io.ErrorsToOutput) posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);

  if (io.Captured) {
    ::close(pipefd[1]);
    io.Captured->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) io.Captured->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipefd[0]);
  }
  if (spawned != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testsupport
