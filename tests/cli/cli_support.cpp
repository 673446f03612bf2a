#include "cli/cli_support.h"

#include "support/tempenv.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <thread>

extern char** environ;

namespace clitest {

CliProcess::CliProcess(const std::vector<std::string>& args, const std::filesystem::path& dir,
                       bool readerGone) {
  static int serial = 0;
  const std::string n = std::to_string(++serial);
  out_ = dir / ("cli-out-" + n);
  err_ = dir / ("cli-err-" + n);
  std::vector<std::string> argv = {(testsupport::BinDir() / "fwload-cli").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, 0);
  int pipeFds[2] = {-1, -1};
  if (readerGone && ::pipe2(pipeFds, O_CLOEXEC) == 0) {
    ::close(pipeFds[0]);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // As on a print server reached over SSH: no display, no toolkit platform.
  std::vector<char*> environment;
  for (char** e = environ; *e; ++e) {
    const std::string_view v(*e);
    if (v.starts_with("DISPLAY=") || v.starts_with("WAYLAND_DISPLAY=") ||
        v.starts_with("QT_QPA_PLATFORM=")) {
      continue;
    }
    environment.push_back(*e);
  }
  environment.push_back(nullptr);
  if (::posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environment.data()) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (pipeFds[1] >= 0) ::close(pipeFds[1]);
}

CliProcess::~CliProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

int CliProcess::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CliProcess::Out() const { return testsupport::ReadFile(out_); }
std::string CliProcess::Err() const { return testsupport::ReadFile(err_); }

CliRun RunCli(const std::vector<std::string>& args, const std::filesystem::path& dir) {
  CliProcess p(args, dir);
  CliRun run;
  run.Code = p.Wait();
  run.Out = p.Out();
  run.Err = p.Err();
  return run;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace clitest
