// Close signals sent to the real program at each stage of an unattended download: the transfer
// is stopped as by the abort button (the job cancelled, a partial FTP file deleted), nothing is
// logged, no temporary file is left, and the program ends within 10 s with exit code 40.
#include "download/transfer_support.h"
#include "support/privateserver.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::Simulator;
using transfertest::TestQueue;

// A model whose row takes the download command, and a file made for it.
constexpr char kModel[] = "TORVA VELOXIA M3";

std::string FirmwareFile(std::size_t dataBytes) {
  return "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Test firmware\r\n"
         "DownLoadVersion=V1.00\r\nDownLoadPrinter=\"M3\"\r\n\x1a" +
         transfertest::TestData(dataBytes, 11);
}

class CloseSignal : public ::testing::Test {
 protected:
  void TearDown() override {
    if (fwload_.state() != QProcess::NotRunning) {
      fwload_.kill();
      fwload_.waitForFinished();
    }
  }

  std::unique_ptr<Simulator> StartSimulator(const std::vector<std::string>& args = {}) {
    return std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                       env_.Root() / "printer", args);
  }
  // Runs fwload FILE TARGET... /NO /NM /IM=1 with a file of `dataBytes` data bytes.
  void Start(const std::vector<std::string>& target, std::size_t dataBytes) {
    const auto file = env_.Root() / "fw.FWB";
    testsupport::WriteFile(file, FirmwareFile(dataBytes));
    QStringList args = {"-platform", "offscreen", QString::fromStdString(file.string())};
    for (const auto& t : target) args << QString::fromStdString(t);
    args.append({"/NO", "/NM", "/IM=1"});
    fwload_.start(QString::fromStdString((testsupport::BinDir() / "fwload").string()), args);
    ASSERT_TRUE(fwload_.waitForStarted());
  }
  // Checks `ready` every millisecond until it holds; false when the program ended first or the
  // time ran out.
  template <typename Ready>
  bool WaitFor(Ready ready, std::chrono::milliseconds limit = 30s) {
    const auto end = Clock::now() + limit;
    while (!ready()) {
      if (Clock::now() > end || fwload_.waitForFinished(0)) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  void Signal(int signal = SIGTERM) {
    signalled_ = Clock::now();
    ::kill(static_cast<pid_t>(fwload_.processId()), signal);
  }
  // The exit code once the program has ended, -1 when it had not within `limit` of the last
  // signal.
  int EndOfProgram(std::chrono::milliseconds limit = 10s) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(signalled_ + limit - Clock::now());
    if (!fwload_.waitForFinished(static_cast<int>(std::max<std::int64_t>(left.count(), 0))))
      return -1;
    return fwload_.exitStatus() == QProcess::NormalExit ? fwload_.exitCode() : -1;
  }
  bool BuildingDownloadFile() {
    return !transfertest::LeftoverDownloadFiles(env_.TmpDir()).empty();
  }
  void ExpectNoLogAndNoTemporaryFile() {
    EXPECT_FALSE(std::filesystem::exists(env_.DataHome() / "fwload" / "DownLoad.log"));
    EXPECT_EQ(testsupport::ListTree(env_.TmpDir()), std::vector<std::string>{});
  }

  testsupport::TempEnv env_;
  QProcess fwload_;
  Clock::time_point signalled_;
};

TEST_F(CloseSignal, WhileTheDownloadFileIsBuiltNothingIsSent) {
  auto sim = StartSimulator();
  TestQueue queue("sig-build", TestQueue::SocketUri(sim->RawPort()), kModel);
  Start({"/PR=" + queue.Name()}, 32u << 20);
  // The program is held the moment its download file appears, so the signal meets the building.
  ASSERT_TRUE(WaitFor([&] { return BuildingDownloadFile(); }));
  ::kill(static_cast<pid_t>(fwload_.processId()), SIGSTOP);
  Signal();
  ::kill(static_cast<pid_t>(fwload_.processId()), SIGCONT);
  EXPECT_EQ(EndOfProgram(), 40);
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
  EXPECT_EQ(sim->Records().size(), 0u);
  ExpectNoLogAndNoTemporaryFile();
}

TEST_F(CloseSignal, WhileTheServerHoldsBackAWriteTheJobIsCancelled) {
  testsupport::PrivateServer server(testsupport::PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("sig-spool", TestQueue::SocketUri(sim->RawPort()), kModel);
  Start({"/PR=sig-spool"}, 32u << 20);
  ASSERT_TRUE(WaitFor([&] { return server.ReceivingDocument(); }));
  server.Pause();
  // The socket fills within moments; the write then waits for the server.
  std::this_thread::sleep_for(300ms);
  Signal();
  // The server comes back while the cancel still waits for its answer.
  std::this_thread::sleep_for(700ms);
  server.Resume();
  EXPECT_EQ(EndOfProgram(), 40);
  EXPECT_EQ(transfertest::WaitForEndState("sig-spool", transfertest::NewestJob("sig-spool")), 7);
  EXPECT_EQ(sim->Records().size(), 0u);
  ExpectNoLogAndNoTemporaryFile();
}

TEST_F(CloseSignal, WhileTheJobIsFollowedItIsCancelledOnTheServer) {
  // Nothing listens at the printer: the server keeps the job processing.
  TestQueue queue("sig-follow", TestQueue::SocketUri(testsupport::UnusedPort()), kModel);
  Start({"/PR=" + queue.Name()}, 70000);
  int job = 0;
  ASSERT_TRUE(WaitFor([&] {
    job = transfertest::NewestJob(queue.Name());
    return job != 0 && transfertest::JobState(queue.Name(), job) == 5;
  }));
  Signal();
  EXPECT_EQ(EndOfProgram(), 40);
  EXPECT_EQ(transfertest::JobState(queue.Name(), job), 7);
  ExpectNoLogAndNoTemporaryFile();
}

TEST_F(CloseSignal, DuringAnFtpUploadThePartialFileIsDeleted) {
  // The printer stops reading: the upload would wait for its stall limit.
  auto sim = StartSimulator({"--ftp-fault", "stall:65536"});
  Start({"/HN=" + sim->FtpHost(), "/M=PX-E3000"}, 4u << 20);
  ASSERT_TRUE(WaitFor([&] { return !testsupport::ListTree(sim->FtpDir()).empty(); }));
  Signal(SIGINT);
  EXPECT_EQ(EndOfProgram(), 40);
  const auto records = sim->WaitForRecords(1, 5s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].Complete);
  EXPECT_TRUE(records[0].Deleted);
  EXPECT_EQ(testsupport::ListTree(sim->FtpDir()), std::vector<std::string>{});
  ExpectNoLogAndNoTemporaryFile();
}

TEST_F(CloseSignal, ASecondSignalWhileTheAbortWaitsEndsTheProgramAtOnce) {
  auto sim = StartSimulator({"--ftp-fault", "stall:65536"});
  Start({"/HN=" + sim->FtpHost(), "/M=PX-E3000"}, 4u << 20);
  ASSERT_TRUE(WaitFor([&] { return !testsupport::ListTree(sim->FtpDir()).empty(); }));
  // The printer stops answering altogether: removing the partial file waits its 3 s.
  ::kill(sim->Pid(), SIGSTOP);
  Signal(SIGHUP);
  std::this_thread::sleep_for(1500ms);
  Signal();
  const int code = EndOfProgram(1s);
  ::kill(sim->Pid(), SIGCONT);
  EXPECT_EQ(code, 40);
  ExpectNoLogAndNoTemporaryFile();
}

}  // namespace
