// The download command without a window: checks, confirmations answered by a script, the
// transfer through the private print server or over FTP to the printer simulator, and the log.
#include "printers/accesslib.h"
#include "download/downloadsession.h"
#include "download/transfer_support.h"
#include "firmware/dwndoc.h"
#include "printers/printers_support.h"
#include "support/scriptedask.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <QDeadlineTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::ScriptedAsk;
using testsupport::Simulator;
using transfertest::ExpectedStream;
using transfertest::kCommandModel;
using transfertest::TestQueue;

class Session : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }
  void SetUp() override {
    ASSERT_FALSE(printerstest::sandbox::Dir().empty())
        << "run through ctest: the print server is a fixture";
    // The command model of the queues, and the model the file below is meant for.
    models_.Add({kCommandModel, "3000", 3000, 1});
    models_.Add({"TORVA PX-OTHER", "9000", 9000, 1});
  }
  void TearDown() override {
    EXPECT_TRUE(transfertest::WaitUntilNoTransferThread());
    // Each session's download file is gone from its private folder.
    for (const auto& dir : tempDirs_) {
      EXPECT_EQ(transfertest::LeftoverDownloadFiles(dir), std::vector<std::string>{});
    }
  }

  std::unique_ptr<Simulator> StartSimulator(const std::string& name) {
    return std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                       env_.Root() / name);
  }
  // A firmware file on disk (only its existence is checked) and its data.
  std::filesystem::path File(const std::string& name) {
    const auto path = env_.Root() / name;
    testsupport::WriteFile(path, "firmware");
    return path;
  }
  DownloadOptions Options(const std::string& tmp) {
    DownloadOptions o;
    o.Timings = transfertest::ShortTimings();
    o.TempDir = env_.Root() / tmp;
    std::filesystem::create_directories(o.TempDir);
    tempDirs_.push_back(o.TempDir);
    o.LogFile = env_.Root() / "DownLoad.log";
    return o;
  }
  static DownloadTarget Target(const std::string& name, const std::string& port) {
    DownloadTarget t;
    t.Name = name;
    t.Info.Driver = kCommandModel;
    t.Info.Port = port;
    return t;
  }

  testsupport::TempEnv env_;
  TDLPrinterList models_;
  std::vector<std::filesystem::path> tempDirs_;
};

TEST_F(Session, AConfirmationStopsTheDownloadAndAnsweredItSendsAndLogs) {
  auto sim = StartSimulator("printer");
  TestQueue queue("ss-whole", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  const std::string data = transfertest::TestData(30000);
  auto doc = transfertest::MakeDoc(data, 1, 1);
  doc->FDownLoadPrinter = {"TORVA PX-OTHER"};  // not the queue's model
  doc->FBeginMessage = "Begin";
  const auto file = File("fw.FWB");
  const DownloadTarget target = Target(queue.Name(), "socket://printer");

  // Cancelled at the first question: nothing asked after it, nothing sent, nothing logged.
  {
    ScriptedAsk ask({{4103, 2}});
    DownloadSession session(doc.get(), file, "Main V2", target, models_, Options("t1"), ask);
    transfertest::RecordingView view;
    const DownloadRecord record = session.Run(view);
    EXPECT_EQ(ask.Ids(), std::vector<std::string>{"C4103"});
    EXPECT_EQ(ask.Unexpected(), std::vector<int>{});
    EXPECT_EQ(record.StoppedBy, 4103);
    EXPECT_EQ(record.ExitCode, 3);
    EXPECT_FALSE(record.Transferred);
    EXPECT_TRUE(view.Labels().empty());
    EXPECT_FALSE(std::filesystem::exists(env_.Root() / "DownLoad.log"));
  }

  // Answered: the settings-memory question (left unchecked), the stream, the result and the log.
  ScriptedAsk ask({{4103, 1}, {4101, 1, false}, {4194, 1}});
  DownloadSession session(doc.get(), file, "Main V2", target, models_, Options("t2"), ask);
  transfertest::RecordingView view;
  const DownloadRecord record = session.Run(view);
  EXPECT_EQ(ask.Unexpected(), std::vector<int>{});
  EXPECT_EQ(ask.Ids(), (std::vector<std::string>{"C4103", "M4101", "C4194", "T4113", "T4121"}));
  EXPECT_EQ(ask.AskedSoFar().at(2).text.substr(ask.AskedSoFar().at(2).text.size() - 6), "\nBegin");
  EXPECT_EQ(session.InitMemory(), 0);
  EXPECT_TRUE(record.Transferred);
  EXPECT_EQ(record.Code, 0);
  EXPECT_EQ(record.ExitCode, 0);
  EXPECT_EQ(record.StoppedBy, 0);
  EXPECT_EQ(record.MessageId, 4113);
  const std::string expected = ExpectedStream(data, true, true, 0);
  EXPECT_EQ(record.Bytes, expected.size());
  const auto received = sim->WaitForRecords(1, 20s);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_TRUE(ReadFile(sim->Dir() / received[0].File) == expected);
  const std::string log = ReadFile(env_.Root() / "DownLoad.log");
  EXPECT_NE(log.find(file.string() + ",Main V2=" + queue.Name() + ",socket://printer\n"),
            std::string::npos)
      << log;
}

TEST_F(Session, TwoSessionsRunAtOnceEachToItsOwnPrinter) {
  auto spooled = StartSimulator("spooled");
  auto ftp = StartSimulator("ftp");
  TestQueue queue("ss-both", TestQueue::SocketUri(spooled->RawPort()), kCommandModel);
  const std::string ftpTarget = "ftp://" + ftp->FtpHost() + "/ketora0";
  // Different data and memory answers: nothing of one may reach the other.
  const std::string data[2] = {transfertest::TestData(400000, 1),
                               transfertest::TestData(300001, 2)};
  std::unique_ptr<TDownDocFile> docs[2] = {transfertest::MakeDoc(data[0], 1, 1),
                                           transfertest::MakeDoc(data[1], 1, 1)};
  const DownloadTarget targets[2] = {Target(queue.Name(), "socket://spooled"),
                                     Target(ftpTarget, ftpTarget)};
  const std::filesystem::path files[2] = {File("a.FWB"), File("b.FWB")};
  DownloadRecord records[2];
  // Threads of Qt, so that the transfer threads they create are not foreign to it.
  std::unique_ptr<QThread> runs[2];
  for (int i = 0; i < 2; ++i) {
    DownloadOptions options = Options("tmp" + std::to_string(i));
    // Unattended: confirmations count as OK, the memory question is answered beforehand.
    options.ShowMessage = false;
    options.InitMemoryPreset = true;
    options.InitMemory = i;
    runs[i].reset(QThread::create([&, i, options] {
      ScriptedAsk ask(std::vector<ScriptedAsk::Answer>{});
      transfertest::RecordingView view;
      DownloadSession session(docs[i].get(), files[i], "V" + std::to_string(i), targets[i], models_,
                              options, ask);
      records[i] = session.Run(view);
      EXPECT_EQ(ask.Ids(), std::vector<std::string>{});
    }));
    runs[i]->start();
  }
  for (auto& run : runs) ASSERT_TRUE(run->wait(QDeadlineTimer(120000)));

  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(targets[i].Name);
    EXPECT_EQ(records[i].Code, 0);
    EXPECT_EQ(records[i].Target, targets[i].Name);
  }
  const auto spooledRecords = spooled->WaitForRecords(1, 20s);
  ASSERT_EQ(spooledRecords.size(), 1u);
  EXPECT_TRUE(ReadFile(spooled->Dir() / spooledRecords[0].File) ==
              ExpectedStream(data[0], true, true, 0));
  const auto ftpRecords = ftp->WaitForRecords(1, 20s);
  ASSERT_EQ(ftpRecords.size(), 1u);
  EXPECT_EQ(ftpRecords[0].Channel, "ftp");
  EXPECT_TRUE(ReadFile(ftp->Dir() / ftpRecords[0].File) == ExpectedStream(data[1], true, true, 1));
  // Both entries reached the one log.
  const std::string log = ReadFile(env_.Root() / "DownLoad.log");
  EXPECT_NE(log.find(files[0].string() + ",V0=" + queue.Name()), std::string::npos) << log;
  EXPECT_NE(log.find(files[1].string() + ",V1=" + ftpTarget), std::string::npos) << log;
}

}  // namespace
