// The printer simulator's verdicts, which the transfer tests rely on: what it reports for each
// shape of download it receives on its raw port, and how its faults behave.
#include "download/printthread.h"
#include "firmware/dwndoc.h"
#include "platform/tempfiles.h"
#include "printers/funcs.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::Simulator;
using testsupport::TempEnv;

std::filesystem::path Script() { return Simulator::ScriptIn(testsupport::SourceDir()); }

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    throw std::runtime_error("cannot connect");
  }
  return fd;
}

// Sends the bytes as a socket printer's sender does; false when the printer broke off.
bool SendRaw(int port, const std::string& bytes) {
  const int fd = Connect(port);
  std::size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ok;
}

std::string Sha256(const std::string& bytes) {
  return QCryptographicHash::hash(
             QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
             QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

std::string Stream(const std::string& data, int wrap, int enableCommand, int reboot, int memory) {
  TDownDocFile doc;
  doc.FDataSize = static_cast<std::uint32_t>(data.size());
  doc.FData = std::make_unique<std::uint8_t[]>(data.size() + 1);
  std::memcpy(doc.FData.get(), data.data(), data.size());
  doc.FEnableCommand = enableCommand;
  doc.FReboot = reboot;
  const auto file = MakeTempFileName("dwn");
  if (!file || !TPrintThread::MakeDownloadFile(*file, &doc, wrap, memory).Ok()) {
    throw std::runtime_error("stream not built");
  }
  return ReadFile(*file);
}

TEST(Simulator, RecognisesEveryShapeOnItsRawPort) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const std::string data = std::string("\x00\x1A\xFF", 3) + std::string(5000, '\x42');
  struct Case {
    std::string bytes;
    const char* shape;
    int sizeRecord;
    int memory;
  };
  const std::vector<Case> cases = {
      {Stream(data, 1, 1, 1, 1), "wrapped+trailer", 5003, 1},
      {Stream(data, 1, 1, 1, 0), "wrapped+trailer", 5003, 0},
      {Stream(data, 1, 1, 0, 1), "wrapped", 5003, -1},
      {Stream(data, 1, 0, 1, 1), "data+trailer", -1, 1},
      {Stream(data, 0, 1, 1, 1), "plain", -1, -1},
      {Stream("", 1, 1, 1, 1), "wrapped+trailer", 0, 1},
  };
  for (const auto& c : cases) ASSERT_TRUE(SendRaw(sim.RawPort(), c.bytes));

  const auto records = sim.WaitForRecords(cases.size(), 10s);
  ASSERT_EQ(records.size(), cases.size());
  // Connections end in their own order; match by content.
  for (const auto& c : cases) {
    const std::string sha = Sha256(c.bytes);
    const auto it = std::find_if(records.begin(), records.end(),
                                 [&](const auto& r) { return r.Sha256 == sha; });
    ASSERT_NE(it, records.end()) << c.shape;
    EXPECT_EQ(it->Channel, "raw");
    EXPECT_EQ(it->Shape, c.shape);
    EXPECT_EQ(it->SizeRecord, c.sizeRecord) << c.shape;
    EXPECT_EQ(it->Memory, c.memory) << c.shape;
    EXPECT_EQ(it->Bytes, static_cast<std::int64_t>(c.bytes.size()));
    EXPECT_TRUE(it->Complete);
    EXPECT_TRUE(it->Errors.empty()) << c.shape << ": " << it->Errors.front();
    EXPECT_EQ(ReadFile(sim.Dir() / it->File), c.bytes) << c.shape;
  }
}

TEST(Simulator, ReportsASizeRecordThatDoesNotMatchTheData) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const std::string good = Stream(std::string(100, 'x'), 1, 1, 1, 1);
  // One data byte lost on the way.
  std::string shortened = good;
  shortened.erase(70, 1);
  ASSERT_TRUE(SendRaw(sim.RawPort(), shortened));
  // A damaged prefix.
  std::string damaged = good;
  damaged[20] = 'X';
  ASSERT_TRUE(SendRaw(sim.RawPort(), damaged));

  const auto records = sim.WaitForRecords(2, 10s);
  ASSERT_EQ(records.size(), 2u);
  for (const auto& r : records) {
    ASSERT_FALSE(r.Errors.empty()) << r.File;
  }
  const auto& lost =
      records[0].Bytes == static_cast<std::int64_t>(shortened.size()) ? records[0] : records[1];
  const auto& other = &lost == &records[0] ? records[1] : records[0];
  EXPECT_EQ(lost.SizeRecord, 100);
  EXPECT_EQ(lost.DataLength, 99);
  EXPECT_NE(lost.Errors.front().find("size record"), std::string::npos);
  EXPECT_NE(other.Errors.front().find("prefix"), std::string::npos);
}

TEST(Simulator, DropsTheRawConnectionAfterTheGivenCount) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer", {"--raw-fault", "drop:100000"});
  const std::string bytes(8'000'000, 'd');
  EXPECT_FALSE(SendRaw(sim.RawPort(), bytes));
  const auto records = sim.WaitForRecords(1, 10s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].Complete);
  EXPECT_EQ(records[0].Bytes, 100000);
  EXPECT_EQ(records[0].Fault, "drop:100000");
}

TEST(Simulator, StallsTheRawConnectionAndStillStopsCleanly) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer", {"--raw-fault", "stall:4096"});
  const int fd = Connect(sim.RawPort());
  // The sender can only fill the buffers on the way, then it waits.
  const std::string block(1 << 20, 's');
  std::size_t sent = 0;
  for (int i = 0; i < 64; ++i) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 300) <= 0) break;
    const ssize_t n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  EXPECT_LT(sent, 64u << 20);
  EXPECT_TRUE(sim.Records().empty());

  // The stalled connection does not hold the stop, and the download is still reported.
  const auto start = std::chrono::steady_clock::now();
  sim.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ::close(fd);
  const auto records = sim.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].Complete);
  EXPECT_EQ(records[0].Bytes, 4096);
  EXPECT_EQ(records[0].Fault, "stall:4096");
}

TEST(Simulator, RefusesRawConnections) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer", {"--raw-fault", "refuse"});
  const int fd = Connect(sim.RawPort());
  char byte = 0;
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  // Closed by the printer: end of stream or a reset, never data.
  EXPECT_LE(::recv(fd, &byte, 1, 0), 0);
  ::close(fd);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(sim.Records().empty());
}

TEST(Simulator, EndsTheIdentityCommandWithItself) {
  TempEnv env;
  // Stopped at once, while it may still be writing READY: a few rounds to meet that moment.
  for (int round = 0; round < 5; ++round) {
    pid_t ipp = 0;
    {
      Simulator sim(Script(), env.Root() / "printer",
                    {"--no-raw", "--no-ftp", "--ipp-command", "/bin/sleep 60"});
      ipp = sim.IppPid();
      ASSERT_GT(ipp, 0);
      EXPECT_EQ(::kill(ipp, 0), 0);
    }
    // Stopped and reaped by the simulator: the process no longer exists.
    EXPECT_EQ(::kill(ipp, 0), -1) << "round " << round;
    EXPECT_EQ(errno, ESRCH);
    if (::kill(ipp, 0) == 0) ::kill(-ipp, SIGKILL);  // leave nothing behind
  }
}

}  // namespace
