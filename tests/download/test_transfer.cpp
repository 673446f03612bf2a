// The transfer thread end to end: the download file as a RAW job through the private print
// server to the printer simulator's raw port, and the job followed in the server's queue.
#include "download/appjob.h"
#include "download/printthread.h"
#include "download/transfer_support.h"
#include "firmware/dwndoc.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/run.h"
#include "support/privateserver.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::Simulator;
using testsupport::TempEnv;
using transfertest::ExpectedStream;
using transfertest::kCommandModel;
using transfertest::kDownloading;
using transfertest::kSpooling;
using transfertest::RecordingView;
using transfertest::TestQueue;

constexpr int kCanceled = 7;
constexpr int kAborted = 8;
constexpr int kCompleted = 9;

class SpoolTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(printerstest::sandbox::Dir().empty())
        << "run through ctest: the print server is a fixture";
    app_ = std::make_unique<TFWLOADApp>(std::vector<std::string>{}, env_.SettingsFile());
  }
  void TearDown() override {
    // No transfer thread is left behind.
    EXPECT_TRUE(transfertest::WaitUntilNoTransferThread());
    // Whatever way a transfer ended, its download file is gone.
    EXPECT_EQ(transfertest::LeftoverDownloadFiles(env_.TmpDir()), std::vector<std::string>{});
  }

  std::unique_ptr<Simulator> StartSimulator(const std::vector<std::string>& args = {}) {
    return std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                       env_.Root() / ("printer" + std::to_string(++printers_)),
                                       args);
  }
  // Selects the queue as the main window does and gives the transfer `data`.
  void Prepare(const std::string& queue, const std::string& data, int enableCommand, int reboot) {
    app_->SelectPrinter(queue);
    app_->Doc = transfertest::MakeDoc(data, enableCommand, reboot);
  }

  TempEnv env_;
  std::unique_ptr<TFWLOADApp> app_;
  int printers_ = 0;
};

struct Shape {
  const char* name;
  int setting;  // EnableCommand of the settings
  int enableCommand;
  int reboot;
  bool command;
  bool trailer;
  const char* reported;  // the simulator's name for the shape
};

TEST_F(SpoolTransfer, EveryShapeAndMemoryChoiceArrivesByteForByte) {
  const Shape shapes[] = {
      {"command switched off in the settings", 0, 1, 1, false, false, "plain"},
      {"prefix, size record, data, trailer", 1, 1, 1, true, true, "wrapped+trailer"},
      {"prefix, size record, data", 1, 1, 0, true, false, "wrapped"},
      {"data and trailer", 1, 0, 1, false, true, "data+trailer"},
      {"header asks for neither", 1, 0, 0, false, false, "plain"},
  };
  auto sim = StartSimulator();
  TestQueue queue("dl-shapes", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  const std::string data = transfertest::TestData(70001);
  std::size_t received = 0;
  for (const Shape& shape : shapes) {
    for (int memory : {0, 1}) {
      SCOPED_TRACE(std::string(shape.name) + ", memory " + std::to_string(memory));
      app_->EnableCommand = shape.setting;
      app_->InitMemory = memory;
      Prepare(queue.Name(), data, shape.enableCommand, shape.reboot);
      const std::string expected = ExpectedStream(data, shape.command, shape.trailer, memory);

      RecordingView view;
      TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
      ASSERT_TRUE(transfertest::RunToEnd(thread));
      EXPECT_EQ(thread.Result(), 0);
      EXPECT_EQ(view.Labels(), (std::vector<int>{kSpooling, kDownloading}));
      EXPECT_EQ(view.Total(), expected.size());
      const std::vector<int> positions = view.Positions();
      ASSERT_FALSE(positions.empty());
      EXPECT_EQ(positions.front(), 0);
      EXPECT_EQ(positions.back(), 100);
      // One update per percent step of the blocks, then 0 and 100 for the job.
      EXPECT_LE(positions.size(), 103u);
      EXPECT_EQ(transfertest::JobState(queue.Name(), thread.JobId()), kCompleted);

      const auto records = sim->WaitForRecords(++received, 20s);
      ASSERT_EQ(records.size(), received);
      const auto& record = records.back();
      EXPECT_TRUE(record.Complete);
      EXPECT_EQ(record.Shape, shape.reported);
      EXPECT_EQ(record.Errors, std::vector<std::string>{});
      EXPECT_EQ(record.Memory, shape.trailer ? memory : -1);
      EXPECT_TRUE(ReadFile(sim->Dir() / record.File) == expected)
          << "received " << record.Bytes << " bytes, expected " << expected.size();
    }
  }
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
}

TEST_F(SpoolTransfer, BlockBoundariesAndAnEmptyDataBlock) {
  struct Case {
    const char* name;
    std::size_t dataSize;
    int setting;
    bool command;
    bool trailer;
    std::size_t streamSize;
  };
  const Case cases[] = {
      // A download file of exactly one block: one full block, one write of 0 bytes, the end.
      {"512-byte download file", 440, 1, true, true, 512},
      {"empty data block with the command", 0, 1, true, true, 72},
      {"two full blocks of plain data", 1024, 0, false, false, 1024},
      {"one byte", 1, 0, false, false, 1},
  };
  auto sim = StartSimulator();
  TestQueue queue("dl-blocks", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  std::size_t received = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = transfertest::TestData(c.dataSize, 7);
    app_->EnableCommand = c.setting;
    app_->InitMemory = 1;
    Prepare(queue.Name(), data, 1, 1);
    const std::string expected = ExpectedStream(data, c.command, c.trailer, 1);
    ASSERT_EQ(expected.size(), c.streamSize);

    RecordingView view;
    TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
    ASSERT_TRUE(transfertest::RunToEnd(thread));
    EXPECT_EQ(thread.Result(), 0);
    const auto records = sim->WaitForRecords(++received, 20s);
    ASSERT_EQ(records.size(), received);
    EXPECT_TRUE(records.back().Complete);
    EXPECT_TRUE(ReadFile(sim->Dir() / records.back().File) == expected);
  }
}

TEST_F(SpoolTransfer, AJobThePrinterBreaksOffEndsAbortedOnTheServer) {
  // The printer resets the line early in a download too large for the socket buffers; the
  // queue's error policy then aborts the job.
  auto sim = StartSimulator({"--raw-fault", "drop:65536"});
  TestQueue queue("dl-dropped", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  app_->EnableCommand = 0;
  Prepare(queue.Name(), transfertest::TestData(16u << 20, 3), 1, 1);

  RecordingView view;
  TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
  ASSERT_TRUE(transfertest::RunToEnd(thread));
  EXPECT_EQ(thread.Result(), 34);
  EXPECT_EQ(transfertest::JobState(queue.Name(), thread.JobId()), kAborted);
  EXPECT_NE(view.Positions().back(), 100);
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
}

TEST_F(SpoolTransfer, AQueueThatNeverDeliversIsFollowedUntilTheAbortCancelsTheJob) {
  // Nothing listens at the queue's printer: the server keeps the job and retries.
  TestQueue queue("dl-silent", TestQueue::SocketUri(testsupport::UnusedPort()), kCommandModel);
  Prepare(queue.Name(), transfertest::TestData(20000, 4), 1, 1);

  RecordingView view;
  TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
  thread.start();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (view.LastLabel() != kDownloading && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(view.LastLabel(), kDownloading);
  // Many polls later the transfer still waits; the bar has not moved from 0.
  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(thread.isRunning());
  EXPECT_FALSE(transfertest::WaitUntilNoTransferThread(10ms));
  EXPECT_EQ(view.Positions().back(), 0);
  const int stateBefore = transfertest::JobState(queue.Name(), thread.JobId());
  EXPECT_GE(stateBefore, 3);
  EXPECT_LE(stateBefore, 6);

  thread.requestInterruption();
  ASSERT_TRUE(thread.wait(QDeadlineTimer(10000)));
  EXPECT_EQ(thread.Result(), 4096);
  EXPECT_EQ(transfertest::WaitForEndState(queue.Name(), thread.JobId()), kCanceled);
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
}

TEST_F(SpoolTransfer, AJobThatLeavesTheQueueCountsAsTaken) {
  // A paused queue keeps the job pending; it is then cancelled and purged from the server's
  // history in one request while it is followed, so the server no longer knows it.
  TestQueue queue("dl-purged", TestQueue::SocketUri(testsupport::UnusedPort()), kCommandModel);
  ASSERT_EQ(testsupport::Run({"cupsdisable", queue.Name()}), 0);
  Prepare(queue.Name(), transfertest::TestData(3000, 5), 1, 1);

  RecordingView view;
  TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
  int stateWhileFollowed = -1;
  view.OnLabel = [&](int id) {
    if (id != kDownloading) return;
    stateWhileFollowed = transfertest::JobState(queue.Name(), thread.JobId());
    testsupport::Run({"cancel", "-a", "-x", queue.Name()});
  };
  ASSERT_TRUE(transfertest::RunToEnd(thread, 20s));
  EXPECT_EQ(stateWhileFollowed, 3);  // pending
  EXPECT_EQ(thread.Result(), 0);
  EXPECT_EQ(view.Positions().back(), 100);
  EXPECT_EQ(transfertest::JobState(queue.Name(), thread.JobId()), 0);
}

TEST_F(SpoolTransfer, AnAbortWhileBlocksAreWrittenAbortsTheJob) {
  auto sim = StartSimulator();
  TestQueue queue("dl-cut", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  Prepare(queue.Name(), transfertest::TestData(1u << 20, 6), 1, 1);

  RecordingView view;
  TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
  view.OnProgress = [&](int position) {
    if (position == 3) thread.requestInterruption();
  };
  ASSERT_TRUE(transfertest::RunToEnd(thread));
  EXPECT_EQ(thread.Result(), 4096);
  EXPECT_EQ(view.Labels(), std::vector<int>{kSpooling});
  EXPECT_EQ(view.Positions().back(), 3);
  const int state = transfertest::WaitForEndState(queue.Name(), thread.JobId());
  EXPECT_TRUE(state == kCanceled || state == kAborted) << state;
  // Nothing of it reaches the printer.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(sim->Records().size(), 0u);
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
}

TEST_F(SpoolTransfer, APrinterThatCannotBeOpenedSendsNothing) {
  for (const std::string& name : {std::string("no-such-queue"), std::string(600, 'q')}) {
    Prepare(name, transfertest::TestData(100), 1, 1);
    RecordingView view;
    TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
    ASSERT_TRUE(transfertest::RunToEnd(thread));
    EXPECT_EQ(thread.Result(), 32);
    EXPECT_EQ(view.Labels(), std::vector<int>{});
    EXPECT_EQ(thread.JobId(), 0);
  }
}

TEST_F(SpoolTransfer, AnAbortWhileTheServerHoldsBackAWriteEndsAsAnAbort) {
  testsupport::PrivateServer server(testsupport::PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("dl-held", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  Prepare("dl-held", transfertest::TestData(32u << 20, 8), 1, 1);

  RecordingView view;
  TPrintThread thread(TransferJobOf(*app_), &view, transfertest::ShortTimings());
  thread.start();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!server.ReceivingDocument() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(server.ReceivingDocument());
  // The server stops reading; the write waits until it gives way to the abort.
  server.Pause();
  std::this_thread::sleep_for(300ms);
  const auto abortedAt = std::chrono::steady_clock::now();
  thread.requestInterruption();
  // The cancel, too, waits for the silent server at most 3 s.
  const bool ended = thread.wait(QDeadlineTimer(6000));
  const auto held = std::chrono::steady_clock::now() - abortedAt;
  server.Resume();
  ASSERT_TRUE(ended || thread.wait(QDeadlineTimer(60000)));
  EXPECT_EQ(thread.Result(), 4096);
  EXPECT_GE(held, 2500ms);
  EXPECT_LT(held, 4s);
  EXPECT_EQ(view.Labels(), std::vector<int>{kSpooling});
}

}  // namespace
