#include "support/privateserver.h"

#include "support/run.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace testsupport {

namespace {

// The script's commands; the server's tree is not put into the test's TMPDIR, which tests expect
// to find empty.
int Sandbox(std::vector<std::string> args, std::string* out = nullptr) {
  const ScopedEnv tmp("TMPDIR", "/tmp");
  args.insert(args.begin(), (SourceDir() / "tools" / "cups-sandbox.sh").string());
  return Run(args, {.Captured = out});
}

std::string FirstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

PrivateServer::PrivateServer(Use use) {
  char tmpl[] = "/tmp/fwl.XXXXXX";
  if (!::mkdtemp(tmpl)) {
    ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    return;
  }
  dir_ = tmpl;
  if (Sandbox({"start", dir_.string()}) != 0) {
    ADD_FAILURE() << "the private print server did not start";
    return;
  }
  socket_ = FirstLine(dir_ / "socket");
  root_ = FirstLine(dir_ / "root");
  pid_ = std::atoi(FirstLine(dir_ / "pid").c_str());
  if (use == Use::Exported) exported_.emplace("CUPS_SERVER", socket_);
}

PrivateServer::~PrivateServer() {
  Resume();
  exported_.reset();
  if (dir_.empty()) return;
  Sandbox({"stop", dir_.string()});
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void PrivateServer::AddQueue(const std::string& name, const std::string& uri,
                             const std::string& model) {
  ASSERT_EQ(Sandbox({"add-queue", dir_.string(), name, uri, model}), 0)
      << "cannot add queue " << name;
}

std::size_t PrivateServer::Requests(std::chrono::milliseconds quiet) const {
  const auto count = [this] {
    std::ifstream log(root_ / "log" / "access_log");
    std::size_t lines = 0;
    for (std::string line; std::getline(log, line);) ++lines;
    return lines;
  };
  std::size_t now = count();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (auto still = std::chrono::steady_clock::now() + quiet;
       std::chrono::steady_clock::now() < still && still < limit;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (const std::size_t later = count(); later != now) {
      now = later;
      still = std::chrono::steady_clock::now() + quiet;
    }
  }
  return now;
}

void PrivateServer::Pause() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void PrivateServer::Resume() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

bool PrivateServer::ReceivingDocument() const {
  // An incoming document is a file named by digits only; it becomes a d-file once complete.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(root_ / "spool", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos && entry.is_regular_file(ec) &&
        entry.file_size(ec) > 0) {
      return true;
    }
  }
  return false;
}

}  // namespace testsupport
