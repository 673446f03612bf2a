#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace clitest {

// fwload-cli run as a child process with its standard input closed (nothing may wait for it),
// without a display or a toolkit platform in its environment,
// its standard output and error kept in files of `dir`; with `readerGone`, its standard output is
// a pipe whose reader has already closed it.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::filesystem::path& dir,
             bool readerGone = false);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // The exit code once it has ended, -1 when it did not end within `limit` (it is then killed)
  // or ended by a signal.
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(120));
  std::string Out() const;
  std::string Err() const;

 private:
  pid_t pid_ = -1;
  std::filesystem::path out_;
  std::filesystem::path err_;
};

// Runs fwload-cli to its end: exit code, standard output, standard error.
struct CliRun {
  int Code = -1;
  std::string Out;
  std::string Err;
};
CliRun RunCli(const std::vector<std::string>& args, const std::filesystem::path& dir);

// Waits until `done` holds or `limit` passed; its last answer.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace clitest
