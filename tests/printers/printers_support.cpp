#include "printers/printers_support.h"

#include "common/codes.h"
#include "support/run.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace printerstest {

namespace {
std::filesystem::path FromEnv(const char* name) {
  const char* dir = std::getenv(name);
  return dir ? std::filesystem::path(dir) : std::filesystem::path();
}
}  // namespace

namespace sandbox {

namespace {
std::string Script() { return (testsupport::SourceDir() / "tools" / "cups-sandbox.sh").string(); }
}  // namespace

std::filesystem::path Dir() { return FromEnv("FWLOAD_CUPS_SANDBOX"); }
std::filesystem::path EmptyDir() { return FromEnv("FWLOAD_CUPS_EMPTY"); }
std::filesystem::path Socket(const std::filesystem::path& dir) {
  std::ifstream in(dir / "socket");
  std::string socket;
  std::getline(in, socket);
  return socket;
}

void AddQueue(const std::string& name, const std::string& uri, const std::string& model,
              const std::string& info) {
  std::vector<std::string> argv = {Script(), "add-queue", Dir().string(), name, uri, model};
  if (!info.empty()) argv.push_back(info);
  ASSERT_EQ(testsupport::Run(argv), 0) << "cannot add queue " << name;
}

void Remove(const std::string& name) {
  ASSERT_EQ(testsupport::Run({Script(), "remove", Dir().string(), name}), 0)
      << "cannot remove " << name;
}

}  // namespace sandbox

namespace ipp {

std::filesystem::path Dir() { return FromEnv("FWLOAD_IPP_IDENTITY"); }

int PortOf(const std::string& name) {
  std::ifstream in(Dir() / (name + ".port"));
  int port = 0;
  in >> port;
  return port;
}

void UseIppPort(const testsupport::TempEnv& env, int port) {
  testsupport::WriteFile(env.SettingsFile(),
                         "[Access]\nIppPort=" + std::to_string(port) + "\nIppPath=/ipp/print\n");
}

namespace {
std::string Script() { return (testsupport::SourceDir() / "tools" / "ipp-identity.sh").string(); }
}  // namespace

OwnPrinter::OwnPrinter(const std::string& model, const std::string& version) {
  // The name is announced over DNS-SD: unique among the tests that run at once.
  static int count = 0;
  name_ = "own" + std::to_string(::getpid()) + "-" + std::to_string(++count);
  std::string out;
  EXPECT_EQ(testsupport::Run({Script(), "printer", Dir().string(), name_, "0", model, version},
                             {.Captured = &out}),
            0)
      << "the printer " << name_ << " did not start";
  port_ = std::atoi(out.c_str());
}

OwnPrinter::~OwnPrinter() { testsupport::Run({Script(), "stop-printer", Dir().string(), name_}); }

int OwnPrinter::Requests() const {
  std::string out;
  EXPECT_EQ(testsupport::Run({Script(), "requests", Dir().string(), name_}, {.Captured = &out}), 0);
  return std::atoi(out.c_str());
}

}  // namespace ipp

bool RecordingChooser::ChooseModel(std::string& modelName) {
  ++Asked;
  if (!answer_) return false;
  modelName = *answer_;
  return true;
}

// ---- TcpSink ----

TcpSink::TcpSink() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(listener_, 8);
  socklen_t len = sizeof addr;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

TcpSink::~TcpSink() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::vector<std::string> TcpSink::Received() {
  std::lock_guard guard(lock_);
  return received_;
}

void TcpSink::Serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string bytes;
    char buf[65536];
    while (!stop_) {
      pollfd c{fd, POLLIN, 0};
      if (::poll(&c, 1, 50) <= 0) continue;
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      bytes.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::lock_guard guard(lock_);
    received_.push_back(std::move(bytes));
  }
}

}  // namespace printerstest
