#include "support/simulator.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr auto kStopLimit = std::chrono::seconds(10);

std::string Text(const QJsonValue& v) { return v.isString() ? v.toString().toStdString() : ""; }
std::int64_t Number(const QJsonValue& v, std::int64_t absent) {
  return v.isDouble() ? static_cast<std::int64_t>(v.toDouble()) : absent;
}

}  // namespace

Simulator::Simulator(const std::filesystem::path& script, const std::filesystem::path& dir,
                     const std::vector<std::string>& args)
    : dir_(dir) {
  std::filesystem::create_directories(dir_);
  std::vector<std::string> argv = {"/usr/bin/python3", script.string(), "--dir", dir_.string(),
                                   "--exit-on-stdin-eof"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  if (pid < 0) {
    ::close(in[1]);
    ::close(out[0]);
    throw std::runtime_error("fork failed");
  }
  pid_ = pid;
  stdin_ = in[1];

  // Reads the announcement up to READY.
  std::string text;
  bool ready = false;
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (!ready && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    ready = text.find("READY\n") != std::string::npos;
  }
  ::close(out[0]);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("RAW_PORT=", 0) == 0) rawPort_ = std::stoi(line.substr(9));
    if (line.rfind("FTP_PORT=", 0) == 0) ftpPort_ = std::stoi(line.substr(9));
    if (line.rfind("REPORT=", 0) == 0) report_ = line.substr(7);
    if (line.rfind("IPP_PID=", 0) == 0) ippPid_ = std::stoi(line.substr(8));
    if (line.rfind("IPP_PORT=", 0) == 0) ippPort_ = std::stoi(line.substr(9));
  }
  if (!ready) {
    Stop();
    throw std::runtime_error("the printer simulator did not start: " + text);
  }
}

Simulator::~Simulator() { Stop(); }

void Simulator::Stop() {
  if (stdin_ >= 0) {
    ::close(stdin_);
    stdin_ = -1;
  }
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

std::vector<SimRecord> Simulator::Records() const {
  std::ifstream in(report_, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string bytes = s.str();
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  std::vector<SimRecord> records;
  for (const QJsonValue& value : doc.array()) {
    const QJsonObject o = value.toObject();
    SimRecord r;
    r.Seq = static_cast<int>(Number(o["seq"], 0));
    r.Channel = Text(o["channel"]);
    r.File = Text(o["file"]);
    r.Name = Text(o["name"]);
    r.Bytes = Number(o["bytes"], 0);
    r.Sha256 = Text(o["sha256"]);
    r.Complete = o["complete"].toBool();
    r.Fault = Text(o["fault"]);
    r.Shape = Text(o["shape"]);
    r.DataLength = Number(o["data_length"], -1);
    r.SizeRecord = Number(o["size_record"], -1);
    r.Memory = static_cast<int>(Number(o["memory"], -1));
    for (const QJsonValue& e : o["errors"].toArray()) r.Errors.push_back(Text(e));
    r.Deleted = o["deleted"].toBool();
    r.VersionAfter = Text(o["version_after"]);
    records.push_back(std::move(r));
  }
  return records;
}

std::vector<SimRecord> Simulator::WaitForRecords(std::size_t count,
                                                 std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto records = Records();
    if (records.size() >= count || std::chrono::steady_clock::now() >= deadline) return records;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<std::string> Simulator::IppLog() const {
  std::ifstream in(dir_ / "ipp.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> SimIdentity::Args() const {
  std::vector<std::string> args;
  if (!Model.empty()) args.insert(args.end(), {"--model", Model});
  if (!Version.empty()) args.insert(args.end(), {"--version", Version});
  if (!ApplyVersion.empty()) args.insert(args.end(), {"--apply-version", ApplyVersion});
  if (RestartSeconds > 0)
    args.insert(args.end(), {"--restart-seconds", std::to_string(RestartSeconds)});
  if (!Fault.empty()) args.insert(args.end(), {"--ipp-fault", Fault});
  return args;
}

int UnusedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
    port = ntohs(a.sin_port);
  }
  // Kept bound, never listening, while this process runs: a connection is refused, and no
  // program started meanwhile (another test's server) is given the port.
  if (port == 0) ::close(s);
  return port;
}

bool SendToRawPort(int port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ok;
}

}  // namespace testsupport
