// The transfer thread against a fake spooler and access library: the cases a real print
// server or FTP printer cannot be made to show on demand (a server that stops answering, a write
// the server refuses, the library's every code), and the exact calls the thread makes.
#include "common/codes.h"
#include "download/appjob.h"
#include "download/printthread.h"
#include "download/transfer_support.h"
#include "firmware/dwndoc.h"
#include "platform/paths.h"
#include "platform/spooler.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "support/fakeaccess.h"
#include "support/fakespooler.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::SpoolJobData;
using platform::SpoolStatus;
using testsupport::FakeAccessLibrary;
using testsupport::FakePrinter;
using testsupport::FakeSpooler;
using testsupport::SpoolScript;
using testsupport::TempEnv;
using transfertest::RecordingView;
using Clock = std::chrono::steady_clock;

class PrintThread : public ::testing::Test {
 protected:
  PrintThread() {
    platform::SpoolPrinterData scripted;
    scripted.Name = "scripted";
    spooler_.Add(scripted);
    app_ = std::make_unique<TFWLOADApp>(std::vector<std::string>{}, env_.SettingsFile());
    app_->SelectedPrinter = "scripted";
    app_->EnableCommand = 0;
  }
  void TearDown() override {
    EXPECT_TRUE(transfertest::WaitUntilNoTransferThread());
    EXPECT_EQ(transfertest::LeftoverDownloadFiles(env_.TmpDir()), std::vector<std::string>{});
  }
  void SetData(const std::string& data) { app_->Doc = transfertest::MakeDoc(data, 1, 1); }
  std::uint16_t Run(RecordingView* view = nullptr, TransferTimings timings = Short()) {
    TPrintThread thread(TransferJobOf(*app_), view, timings);
    EXPECT_TRUE(transfertest::RunToEnd(thread, 20s));
    return thread.Result();
  }
  static TransferTimings Short() {
    TransferTimings t;
    t.JobPoll = 5ms;
    t.NoAnswerLimit = 300ms;
    return t;
  }
  static SpoolStatus Completed(int, SpoolJobData& job) {
    job.Status = platform::kJobStatusPrinted;
    job.State = 9;
    return SpoolStatus::Ok;
  }

  TempEnv env_;
  FakeSpooler spooler_;
  SpoolScript& script_ = spooler_.Script;
  std::unique_ptr<TFWLOADApp> app_;
};

TEST_F(PrintThread, TheFileGoesOutInBlocksOf512AndAFullLastBlockIsFollowedByAnEmptyWrite) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> writes;
  };
  const Case cases[] = {
      {512, {512, 0}},
      {1024, {512, 512, 0}},
      {513, {512, 1}},
      {100, {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    script_ = SpoolScript();
    script_.JobAnswer = Completed;
    const std::string data = transfertest::TestData(c.size);
    SetData(data);
    RecordingView view;
    EXPECT_EQ(Run(&view), 0);
    EXPECT_EQ(script_.Writes, c.writes);
    EXPECT_TRUE(script_.Bytes == data);
    EXPECT_EQ(script_.Starts, 1);
    EXPECT_EQ(script_.Ends, 1);
    EXPECT_EQ(script_.Aborts, 0);
    EXPECT_EQ(script_.DocumentName, "ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱﾃﾞｰﾀ");
    EXPECT_EQ(view.Labels(), (std::vector<int>{4130, 4131}));
    EXPECT_EQ(view.Positions().back(), 100);
  }
}

TEST_F(PrintThread, EveryByteMustReachTheSpoolerOrTheJobIsAborted) {
  SetData(transfertest::TestData(5000));
  script_.JobAnswer = Completed;
  script_.FailWrite = 3;
  EXPECT_EQ(Run(), rc::kSendFailed);
  EXPECT_EQ(script_.Writes.size(), 4u);
  EXPECT_EQ(script_.Aborts, 1);
  EXPECT_EQ(script_.Ends, 0);
  EXPECT_EQ(script_.Polls, 0);

  // A job the spooler refused fails at its first write.
  script_ = SpoolScript();
  script_.JobToGive = 0;
  EXPECT_EQ(Run(), rc::kSendFailed);
  EXPECT_EQ(script_.Writes.size(), 1u);
  EXPECT_EQ(script_.Aborts, 1);
  EXPECT_EQ(script_.Ends, 0);

  // The server does not accept the finished document.
  script_ = SpoolScript();
  script_.EndFails = true;
  script_.JobAnswer = Completed;
  EXPECT_EQ(Run(), rc::kSendFailed);
  EXPECT_EQ(script_.Ends, 1);
  EXPECT_EQ(script_.Polls, 0);
}

TEST_F(PrintThread, TheJobIsFollowedUntilADefiniteAnswer) {
  SetData(transfertest::TestData(700));
  struct Case {
    const char* name;
    std::function<SpoolStatus(int, SpoolJobData&)> answer;
    std::uint16_t result;
    int polls;
  };
  const Case cases[] = {
      {"completed at the third look",
       [](int poll, SpoolJobData& job) {
         job.State = poll < 3 ? 5 : 9;
         job.Status = poll < 3 ? 0 : platform::kJobStatusPrinted;
         return SpoolStatus::Ok;
       },
       rc::kSuccess, 3},
      {"the server no longer knows the job",
       [](int, SpoolJobData&) { return SpoolStatus::NotFound; }, rc::kSuccess, 1},
      {"the answer is about another job",
       [](int, SpoolJobData& job) {
         job.JobId = 7;
         return SpoolStatus::Ok;
       },
       rc::kSuccess, 1},
      {"canceled on the server",
       [](int, SpoolJobData& job) {
         job.State = 7;
         job.Status = platform::kJobStatusPrinted | platform::kJobStatusError;
         return SpoolStatus::Ok;
       },
       rc::kJobFailed, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script_ = SpoolScript();
    script_.JobAnswer = c.answer;
    RecordingView view;
    EXPECT_EQ(Run(&view), c.result);
    EXPECT_EQ(script_.Polls, c.polls);
    EXPECT_EQ(script_.Cancels, std::vector<int>{});
    if (c.result == rc::kSuccess) {
      EXPECT_EQ(view.Positions().back(), 100);
    }
  }
}

TEST_F(PrintThread, AServerThatStopsAnsweringIsAskedAgainAndGivenUpAfterTheLimit) {
  SetData(transfertest::TestData(700));
  for (SpoolStatus silence : {SpoolStatus::Unreachable, SpoolStatus::Failed}) {
    script_ = SpoolScript();
    script_.JobAnswer = [silence](int, SpoolJobData&) { return silence; };
    const auto start = Clock::now();
    EXPECT_EQ(Run(), rc::kSendFailed);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 5s);
    EXPECT_GT(script_.Polls, 10);
    EXPECT_EQ(script_.Cancels, std::vector<int>{});
  }

  // Each answer starts the limit afresh: silent spells shorter than it do not end the transfer.
  script_ = SpoolScript();
  const auto start = Clock::now();
  script_.JobAnswer = [start](int, SpoolJobData& job) {
    const auto t = Clock::now() - start;
    if (t < 200ms || (t >= 220ms && t < 420ms)) return SpoolStatus::Unreachable;
    job.State = t < 420ms ? 5 : 9;
    job.Status = t < 420ms ? 0 : platform::kJobStatusPrinted;
    return SpoolStatus::Ok;
  };
  EXPECT_EQ(Run(), rc::kSuccess);
}

TEST_F(PrintThread, AnAbortCancelsTheFollowedJobAlsoWhileTheServerIsSilent) {
  SetData(transfertest::TestData(700));
  for (SpoolStatus answer : {SpoolStatus::Ok, SpoolStatus::Unreachable}) {
    script_ = SpoolScript();
    TPrintThread* running = nullptr;
    script_.JobAnswer = [&](int poll, SpoolJobData& job) {
      job.State = 5;
      if (poll == 5) running->requestInterruption();
      return answer;
    };
    TPrintThread thread(TransferJobOf(*app_), nullptr, Short());
    running = &thread;
    ASSERT_TRUE(transfertest::RunToEnd(thread));
    EXPECT_EQ(thread.Result(), rc::kAborted);
    EXPECT_EQ(script_.Polls, 5);
    EXPECT_EQ(script_.Cancels, std::vector<int>{42});
  }
}

TEST_F(PrintThread, TheRealPollWaitsASecondAndAnAbortEndsTheWaitAtOnce) {
  SetData(transfertest::TestData(700));
  script_.JobAnswer = Completed;
  RecordingView view;
  std::atomic<bool> following{false};
  view.OnLabel = [&](int id) { following = following || id == 4131; };
  TPrintThread thread(TransferJobOf(*app_), &view);  // the real waits
  thread.start();
  const auto start = Clock::now();
  while (!following && Clock::now() - start < 10s) QThread::msleep(1);
  ASSERT_TRUE(following);
  const auto since = Clock::now();
  QThread::msleep(100);
  thread.requestInterruption();
  ASSERT_TRUE(thread.wait(QDeadlineTimer(5000)));
  // Stopped within the first wait, before the job was looked at.
  EXPECT_LT(Clock::now() - since, 900ms);
  EXPECT_EQ(thread.Result(), rc::kAborted);
  EXPECT_EQ(script_.Polls, 0);
  EXPECT_EQ(script_.Cancels, std::vector<int>{42});
}

TEST_F(PrintThread, TheFastPollLooksOftenRightAfterTheLastWriteThenBacksOff) {
  // The window keeps its one look a second; a front end without a window looks every 100 ms for
  // the first two seconds after the last write.
  EXPECT_EQ(TransferTimings::Window().PollAfter(0ms), 1000ms);
  EXPECT_EQ(TransferTimings::Fast().PollAfter(0ms), 100ms);
  EXPECT_EQ(TransferTimings::Fast().PollAfter(1999ms), 100ms);
  EXPECT_EQ(TransferTimings::Fast().PollAfter(2000ms), 1000ms);

  // The same shape, ten times quicker, against the thread's own loop.
  SetData(transfertest::TestData(700));
  TransferTimings timings = Short();
  timings.FastJobPoll = 10ms;
  timings.FastPollFor = 200ms;
  timings.JobPoll = 100ms;
  std::vector<Clock::time_point> looks;
  script_.JobAnswer = [&](int, SpoolJobData& job) {
    looks.push_back(Clock::now());
    const bool done = looks.size() > 1 && looks.back() - looks.front() > 450ms;
    job.State = done ? 9 : 5;
    job.Status = done ? platform::kJobStatusPrinted : 0;
    return SpoolStatus::Ok;
  };
  EXPECT_EQ(Run(nullptr, timings), rc::kSuccess);
  ASSERT_GT(looks.size(), 10u);
  int fast = 0;
  int slow = 0;
  for (std::size_t i = 1; i < looks.size(); ++i) {
    const auto gap = looks[i] - looks[i - 1];
    const auto since = looks[i - 1] - looks.front();
    if (since < 150ms) fast += gap < 60ms;
    if (since > 250ms) {
      EXPECT_GE(gap, 90ms);
      ++slow;
    }
  }
  EXPECT_GE(fast, 8);
  EXPECT_GE(slow, 2);
}

TEST_F(PrintThread, TargetsAreUsedWholeAndAnUnknownOneIsNotOpened) {
  SetData(transfertest::TestData(10));
  const std::string longName(600, 'p');
  app_->SelectedPrinter = longName;
  EXPECT_EQ(Run(), rc::kPrinterOpen);
  EXPECT_EQ(spooler_.Opened, std::vector<std::string>{longName});
}

TEST_F(PrintThread, NothingIsSentWhenNoFileCanBeBuilt) {
  // No document at all.
  app_->Doc.reset();
  EXPECT_EQ(Run(), rc::kTempFile);
  // Too large for the download command: refused before a printer is touched.
  auto doc = transfertest::MakeDoc(std::string(16, 'x'), 1, 1);
  doc->FDataSize = 100'000'000;
  app_->Doc = std::move(doc);
  app_->EnableCommand = 1;
  app_->PrinterInfo.Driver = "PX-E3000";
  EXPECT_EQ(Run(), rc::kTooLarge);
  EXPECT_EQ(spooler_.Opened, std::vector<std::string>{});
  EXPECT_EQ(script_.Starts, 0);
}

TEST_F(PrintThread, NoTemporaryFileMeansNothingIsSent) {
  SetData(transfertest::TestData(10));
  // The private temporary folder is gone and no new one can be made.
  platform::RemoveTempDir();
  ::setenv("TMPDIR", (env_.Root() / "missing" / "deeper").c_str(), 1);
  EXPECT_EQ(Run(), rc::kTempFile);
  EXPECT_EQ(spooler_.Opened, std::vector<std::string>{});
}

TEST_F(PrintThread, AFileThatCannotBeReadOrDoesNotHoldItsSizeStartsNoJob) {
  SetData(transfertest::TestData(10));
  FakePrinter printer(script_, "scripted");
  TPrintThread thread(TransferJobOf(*app_), nullptr, Short());
  int job = -1;
  EXPECT_EQ(thread.SpoolFile(printer, env_.Root() / "no-such-file", 10, job), rc::kFileOpen);
  EXPECT_EQ(job, 0);
  const auto file = env_.Root() / "dwn-short";
  testsupport::WriteFile(file, "123456789");
  EXPECT_EQ(thread.SpoolFile(printer, file, 10, job), rc::kSendFailed);
  EXPECT_EQ(script_.Starts, 0);
  std::filesystem::remove(file);
}

TEST_F(PrintThread, FtpTargetsAreTakenApartByTheirOneForm) {
  struct Case {
    std::string target;
    std::string host;
    std::string directory;
  };
  const Case cases[] = {
      {"ftp://192.0.2.7/ketora0", "192.0.2.7", "ketora0"},
      {"ftp://printer:2121/ketora0", "printer:2121", "ketora0"},
      {"ftp://A/B/C", "A", "B/C"},
      {"ftp://[::1]:2121/ketora0", "[::1]:2121", "ketora0"},
      {"ftp://h/", "h", ""},
      {"ftp://ftp://printer:2121/ketora0", "", ""},
      {"queue-ftp://h/d", "", ""},
  };
  for (const Case& c : cases) {
    const FtpTargetParts parts = TPrintThread::SplitFtpTarget(c.target);
    EXPECT_EQ(parts.Host, c.host) << c.target;
    EXPECT_EQ(parts.Directory, c.directory) << c.target;
  }
}

TEST_F(PrintThread, TheFtpPathHandsTheFileToTheLibraryAndMapsItsCode) {
  FakeAccessLibrary library;
  const std::string data = transfertest::TestData(333);
  SetData(data);
  app_->SelectedPrinter = "ftp://192.0.2.7:2121/ketora0";
  const std::pair<std::uint32_t, std::uint16_t> codes[] = {
      {0, 0},           {0x20000003, 35}, {0x20000009, 18}, {0x20001000, 4096},
      {0x2000000A, 33}, {0x20000011, 33}, {1, 33},
  };
  for (const auto& [code, result] : codes) {
    library.Code = code;
    RecordingView view;
    EXPECT_EQ(Run(&view), result) << std::hex << code;
  }
  EXPECT_EQ(library.Calls, 7);
  EXPECT_EQ(library.Host, "192.0.2.7:2121");
  EXPECT_EQ(library.Directory, "ketora0");
  EXPECT_TRUE(library.FileBytes == data);
  // The spooler is never asked on this path.
  EXPECT_EQ(spooler_.Opened, std::vector<std::string>{});
}

TEST_F(PrintThread, TheFtpPathPassesNotificationsAndAnswersToTheView) {
  FakeAccessLibrary library;
  library.Code = 0;
  SetData(transfertest::TestData(72));
  app_->SelectedPrinter = "ftp://printer/ketora0";
  RecordingView view;
  view.Answer = [](int notification, std::uint64_t) { return notification == 6 ? 1 : 0; };
  EXPECT_EQ(Run(&view), 0);
  EXPECT_EQ(view.Notifications(), (std::vector<int>{4, 5, 6, 6}));
  EXPECT_EQ(library.Answers, (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(view.Labels(), std::vector<int>{});
  EXPECT_EQ(view.Total(), 72u);

  // Once the thread is asked to stop, the library hears so whatever the view answers.
  TPrintThread thread(TransferJobOf(*app_), &view, Short());
  library.Answers.clear();
  library.DuringUpload = [&]() { thread.requestInterruption(); };
  library.Code = 0x20001000;
  view.Answer = nullptr;
  ASSERT_TRUE(transfertest::RunToEnd(thread));
  EXPECT_EQ(library.Answers, (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(thread.Result(), rc::kAborted);
}

TEST_F(PrintThread, AnFtpTargetWithoutAHostOrDirectoryFailsWithoutConnecting) {
  FakeAccessLibrary library;
  SetData(transfertest::TestData(10));
  for (const char* target : {"ftp://", "ftp:///ketora0", "ftp://:21/ketora0", "ftp://a b/x"}) {
    app_->SelectedPrinter = target;
    EXPECT_EQ(Run(), rc::kSendFailed) << target;
  }
  // Nothing goes into the login directory.
  for (const char* target : {"ftp://printer/", "ftp://printer//", "ftp://printer/./"}) {
    app_->SelectedPrinter = target;
    EXPECT_EQ(Run(), rc::kDirectoryChange) << target;
  }
  EXPECT_EQ(library.Calls, 0);
}

}  // namespace
