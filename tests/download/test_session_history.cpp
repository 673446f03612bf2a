// The history a download command writes: one row for each transfer, none for a command that sent
// nothing, its trouble told once; and two processes downloading at once.
#include "common/codes.h"
#include "common/history.h"
#include "common/strings.h"
#include "download/fakedownload.h"
#include "support/scriptedask.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <set>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using testsupport::ScriptedAsk;
using transfertest::FakeDownloads;
namespace fs = std::filesystem;

class SessionHistory : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(transfertest::WaitUntilNoTransferThread()); }

  testsupport::TempEnv env_;
  fs::path file_ = env_.Root() / "history.sqlite";
};

TEST_F(SessionHistory, ATransferIsOneRowPendingWhileItRunsAndDoneWithItsResult) {
  struct Case {
    const char* name;
    std::string versionBefore;  // as the printer reported it; none: unknown
    int jobToGive;              // 0: the spooler refuses the job
    std::uint16_t code;
  };
  for (const Case& c : {Case{"success", "V1.00", 42, rc::kSuccess},
                        Case{"refused by the spooler", "", 0, rc::kSendFailed}}) {
    SCOPED_TRACE(c.name);
    fs::remove(file_);
    FakeDownloads downloads(env_.Root());
    downloads.Target.Info.Version = c.versionBefore;
    downloads.Spooler.Script.JobToGive = c.jobToGive;
    // What another reader sees while the printer takes the job.
    HistoryRows during;
    downloads.Spooler.Script.JobAnswer = [&, completed = downloads.Spooler.Script.JobAnswer](
                                             int poll, platform::SpoolJobData& job) {
      if (poll == 1) during = HistoryStore(file_).List();
      return completed(poll, job);
    };
    HistoryStore store(file_);
    ScriptedAsk ask({});
    const fs::path fw = downloads.File("M3 V2.10.FWB");
    const DownloadRecord record = downloads.Run(fw, &store, ask);
    EXPECT_EQ(record.Code, c.code);
    EXPECT_EQ(ask.Ids(), std::vector<std::string>{});
    if (c.code == rc::kSuccess) {
      ASSERT_EQ(during.Rows.size(), 1u) << during.Error;
      EXPECT_EQ(during.Rows[0].Record.State, RecordState::Pending);
    }

    const HistoryRows rows = store.List();
    ASSERT_EQ(rows.Rows.size(), 1u) << rows.Error;
    const DownloadRecord& row = rows.Rows[0].Record;
    EXPECT_EQ(row.File, fw);
    EXPECT_EQ(row.Description, "M3 制御ソフトウェア");
    EXPECT_EQ(row.VersionBefore,
              c.versionBefore.empty() ? std::nullopt : std::optional(c.versionBefore));
    EXPECT_LT(std::chrono::abs(row.Started - record.Started), 1ms);
    ASSERT_TRUE(row.Ended && record.Ended);
    EXPECT_LT(std::chrono::abs(*row.Ended - *record.Ended), 1ms);
    // The rest as the command returned it; what an unattended run ends with is not kept.
    DownloadRecord kept = record;
    kept.Started = row.Started;
    kept.Ended = row.Ended;
    kept.Transferred = false;
    kept.ExitCode = 0;
    EXPECT_EQ(row, kept);
  }
}

TEST_F(SessionHistory, ACommandThatSentNothingWritesNoRow) {
  struct Case {
    const char* name;
    bool withFile;
    const char* printer;
    std::vector<ScriptedAsk::Answer> script;
  };
  const Case cases[] = {
      {"no file", false, "px", {}},
      {"no printer", true, "", {}},
      {"confirmation cancelled", true, "px", {{4193, 2}}},
      {"settings-memory question cancelled", true, "px", {{4101, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDownloads downloads(env_.Root());
    downloads.Options.ShowMessage = true;
    downloads.Options.InitMemoryPreset = c.script.empty() || c.script[0].id != 4101;
    downloads.Target.Name = c.printer;
    HistoryStore store(file_);
    ScriptedAsk ask(c.script);
    downloads.Run(c.withFile ? downloads.File("a.FWB") : fs::path(), &store, ask);
    EXPECT_EQ(ask.Unexpected(), std::vector<int>{});
    EXPECT_EQ(downloads.Spooler.Script.Starts, 0);
    EXPECT_EQ(store.List().Rows.size(), 0u);
  }
}

TEST_F(SessionHistory, AHistoryThatCannotBeWrittenIsToldOnceAndTheDownloadsGoOn) {
  // Its folder cannot be made: a file stands where it would be.
  testsupport::WriteFile(env_.Root() / "data-file", "");
  HistoryStore store(env_.Root() / "data-file" / "history.sqlite");
  FakeDownloads downloads(env_.Root());
  for (int run = 0; run < 2; ++run) {
    ScriptedAsk ask({});
    EXPECT_EQ(downloads.Run(downloads.File("a.FWB"), &store, ask).ExitCode, 0);
    const auto told = ask.AskedSoFar();
    ASSERT_EQ(told.size(), run == 0 ? 1u : 0u) << "told once";
    if (run == 0) {
      EXPECT_EQ(told[0].kind, 'N');
      EXPECT_EQ(told[0].id, 4365);
      EXPECT_EQ(told[0].text.rfind(std::string(strings::Load(4365)) + "\n", 0), 0u);
      EXPECT_NE(told[0].text.find("data-file"), std::string::npos) << told[0].text;
    }
  }
  // The log is written as ever.
  const std::string log = testsupport::ReadFile(env_.Root() / "DownLoad.log");
  EXPECT_NE(log.find("a.FWB,state=px,socket://192.0.2.9:9100"), std::string::npos) << log;
}

TEST_F(SessionHistory, TwoProcessesDownloadingAtOnceLoseNoRowWhileAThirdReads) {
  {
    // One row for the reader to stop at.
    FakeDownloads downloads(env_.Root());
    HistoryStore store(file_);
    ScriptedAsk ask({});
    ASSERT_EQ(downloads.Run(downloads.File("first.FWB"), &store, ask).Code, 0);
  }
  // This process is the third: its read stays open while the two others write.
  sqlite3* db = nullptr;
  sqlite3_stmt* all = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_prepare_v2(db, "SELECT * FROM downloads ORDER BY id DESC", -1, &all, nullptr);
  int rc = sqlite3_step(all);
  std::vector<pid_t> writers;
  for (std::string tag : {"a", "b"}) {
    fs::create_directories(env_.Root() / tag);
    std::vector<std::string> args = {(testsupport::BinDir() / "history_downloads").string(),
                                     file_.string(), (env_.Root() / tag).string(), "50", tag};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(
        ::posix_spawn(&writers.emplace_back(), argv[0], nullptr, nullptr, argv.data(), environ), 0);
  }
  for (const pid_t writer : writers) {
    int status = -1;
    ::waitpid(writer, &status, 0);
    EXPECT_EQ(status, 0);
  }
  while (rc == SQLITE_ROW) rc = sqlite3_step(all);
  EXPECT_EQ(rc, SQLITE_DONE);
  sqlite3_finalize(all);
  sqlite3_close(db);

  std::set<std::string> files;
  for (const HistoryEntry& e : HistoryStore(file_).List().Rows) {
    EXPECT_EQ(e.Record.State, RecordState::Done);
    EXPECT_EQ(e.Record.Code, 0);
    files.insert(e.Record.File.filename().string());
  }
  EXPECT_EQ(files.size(), 101u);
  EXPECT_TRUE(files.count("a-49.FWB") && files.count("b-0.FWB"));
}

}  // namespace
