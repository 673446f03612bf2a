#include "common/history.h"

#include "support/tempenv.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>

using testsupport::ReadFile;
using testsupport::TempEnv;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

DownloadRecord Sample(const std::string& file) {
  DownloadRecord r;
  r.Started = DownloadRecord::Time(std::chrono::milliseconds(1717243200123));
  r.File = file;
  r.Description = "PX-1100 制御ソフト";
  r.Version = "V1.23";
  r.Target = "ftp://192.0.2.7:2121/ketora0";
  r.Port = "ftp://192.0.2.7:2121/ketora0";
  r.Model = "PX-1100";
  r.VersionBefore = "V1.20";
  return r;
}

DownloadRecord Finished(DownloadRecord r) {
  r.Ended = r.Started + std::chrono::milliseconds(4321);
  r.Code = 0;
  r.MessageId = 4113;
  r.Message = "ダウンロードが終了しました。";
  r.Bytes = 5'000'000'000;
  r.Seconds = 4.25;
  r.VersionAfter = "V1.23";
  r.Verify = Verified::Updated;
  r.State = RecordState::Done;
  return r;
}

// A child process running `body`; its exit code is what `body` returns.
pid_t Child(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `n` child processes that start `body(i)` at the same moment; their exit codes.
std::vector<int> Together(int n, const std::function<int(int)>& body) {
  int gate[2];
  if (::pipe(gate) != 0) return {};
  std::vector<pid_t> children;
  for (int i = 0; i < n; ++i) {
    children.push_back(Child([&, i] {
      ::close(gate[1]);
      char go;
      (void)!::read(gate[0], &go, 1);  // returns when the parent closes the gate
      return body(i);
    }));
  }
  ::close(gate[0]);
  ::close(gate[1]);
  std::vector<int> codes;
  for (const pid_t child : children) codes.push_back(ExitCode(child));
  return codes;
}

void Sql(const fs::path& file, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

}  // namespace

TEST(History, RecordsComeBackByteForByte) {
  TempEnv env;
  HistoryStore store;
  EXPECT_EQ(store.File(), env.DataHome() / "fwload" / "history.sqlite");
  // A file name in code page 932, as a package from the printers' home platform has it.
  DownloadRecord begun = Sample((env.Root() / "\x83\x74\x83\x40\x81\x5b\x83\x80.FWB").string());
  const HistoryBegun id = store.Begin(begun);
  ASSERT_TRUE(id.Ok()) << id.Error;

  HistoryRows rows = store.List();
  ASSERT_EQ(rows.Rows.size(), 1u) << rows.Error;
  EXPECT_EQ(rows.Rows[0].Id, id.Id);
  EXPECT_EQ(rows.Rows[0].Record, begun);  // pending, result not yet known

  DownloadRecord done = Finished(begun);
  EXPECT_TRUE(store.Complete(id.Id, done).Ok());
  EXPECT_FALSE(store.Complete(id.Id, done).Ok()) << "a row is completed once";
  rows = store.List();
  ASSERT_EQ(rows.Rows.size(), 1u);
  EXPECT_EQ(rows.Rows[0].Record, done);
  EXPECT_EQ(rows.Rows[0].Record.File.native(), begun.File.native());

  // Text columns hold UTF-8 only; the path alone keeps its bytes.
  done.Message = "bad \xff end";
  const HistoryBegun second = store.Begin(begun);
  ASSERT_TRUE(store.Complete(second.Id, done).Ok());
  EXPECT_EQ(store.List(1).Rows.at(0).Record.Message, "bad \xEF\xBF\xBD end");
  EXPECT_TRUE(store.TakeNotices().empty());
}

TEST(History, TwoProcessesWriteAtOnceWhileAReaderHoldsItsQuery) {
  TempEnv env;
  const fs::path file = HistoryStore::DefaultFile();
  {
    // One row for the reader to stop at; no connection may cross a fork.
    HistoryStore first(file);
    const DownloadRecord r = Sample("first");
    ASSERT_TRUE(first.Complete(first.Begin(r).Id, Finished(r)).Ok());
  }

  int readerReady[2], readerGo[2];
  ASSERT_EQ(::pipe(readerReady) | ::pipe(readerGo), 0);
  const pid_t reader = Child([&] {
    sqlite3* db = nullptr;
    sqlite3_stmt* all = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_prepare_v2(db, "SELECT * FROM downloads ORDER BY id DESC", -1, &all, nullptr);
    const int first = sqlite3_step(all);  // the read is now open
    char byte = 1;
    if (::write(readerReady[1], &byte, 1) != 1 || ::read(readerGo[0], &byte, 1) != 1) return 3;
    int rc = first;
    while (rc == SQLITE_ROW) rc = sqlite3_step(all);
    sqlite3_finalize(all);
    sqlite3_close(db);
    return rc == SQLITE_DONE ? 0 : 2;
  });
  char byte = 0;
  ASSERT_EQ(::read(readerReady[0], &byte, 1), 1);

  for (const int fd : {readerReady[0], readerReady[1], readerGo[0]}) ::close(fd);
  const std::vector<int> writers = Together(2, [&](int w) {
    HistoryStore store(file);
    for (int i = 0; i < 50; ++i) {
      const DownloadRecord r = Sample("w" + std::to_string(w) + "-" + std::to_string(i));
      const HistoryBegun id = store.Begin(r);
      if (!id.Ok() || !store.Complete(id.Id, Finished(r)).Ok()) return 1;
    }
    return 0;
  });
  EXPECT_EQ(writers, std::vector<int>({0, 0}));
  ASSERT_EQ(::write(readerGo[1], &byte, 1), 1);
  ::close(readerGo[1]);
  EXPECT_EQ(ExitCode(reader), 0);

  HistoryStore store(file);
  const HistoryRows all = store.List();
  std::set<std::string> files;
  std::set<std::int64_t> ids;
  for (const HistoryEntry& e : all.Rows) {
    EXPECT_EQ(e.Record.State, RecordState::Done);
    files.insert(e.Record.File.string());
    ids.insert(e.Id);
  }
  EXPECT_EQ(all.Rows.size(), 101u);
  EXPECT_EQ(files.size(), 101u);
  EXPECT_EQ(ids.size(), 101u);
  // Read page by page, the window sees the same rows in the same order.
  std::vector<std::int64_t> paged;
  for (HistoryPage page{30, 0};;) {
    const HistoryRows rows = store.List(page);
    if (rows.Rows.empty()) break;
    for (const HistoryEntry& e : rows.Rows) paged.push_back(e.Id);
    page.BeforeId = rows.Rows.back().Id;
  }
  std::vector<std::int64_t> newestFirst(ids.rbegin(), ids.rend());
  EXPECT_EQ(paged, newestFirst);
}

TEST(History, ProcessesStartingTogetherMakeOneHistory) {
  TempEnv env;
  const std::vector<int> codes = Together(4, [](int i) {
    HistoryStore store;
    const DownloadRecord r = Sample("p" + std::to_string(i));
    const HistoryBegun id = store.Begin(r);
    const bool ok = id.Ok() && store.Complete(id.Id, Finished(r)).Ok();
    return ok && store.TakeNotices().empty() ? 0 : 1;
  });
  EXPECT_EQ(codes, std::vector<int>({0, 0, 0, 0}));
  EXPECT_EQ(HistoryStore().List().Rows.size(), 4u);
}

TEST(History, ADownloadAfterTheFileWasMovedAwayGoesIntoANewFileInItsPlace) {
  TempEnv env;
  HistoryStore store;
  ASSERT_TRUE(store.Begin(Sample("a.FWB")).Ok());
  fs::rename(store.File(), store.File().string() + ".moved");
  ASSERT_TRUE(store.Begin(Sample("b.FWB")).Ok());
  HistoryStore nextStart;
  for (HistoryStore* reader : {&store, &nextStart}) {
    const HistoryRows rows = reader->List();
    ASSERT_EQ(rows.Rows.size(), 1u);
    EXPECT_EQ(rows.Rows[0].Record.File, "b.FWB");
  }
}

TEST(History, APendingRowReadsInterruptedOnceItsProcessIsGone) {
  TempEnv env;
  int idPipe[2];
  ASSERT_EQ(::pipe(idPipe), 0);
  const pid_t writer = Child([&]() -> int {
    HistoryStore store;
    const std::int64_t id = store.Begin(Sample("killed.FWB")).Id;
    (void)!::write(idPipe[1], &id, sizeof id);
    for (;;) ::pause();  // killed during its "transfer"
  });
  std::int64_t id = 0;
  ASSERT_EQ(::read(idPipe[0], &id, sizeof id), static_cast<ssize_t>(sizeof id));
  ::close(idPipe[0]);
  ::close(idPipe[1]);
  HistoryStore store;
  const auto stateOf = [&] { return store.List().Rows.at(0).Record.State; };
  EXPECT_EQ(store.List().Rows.at(0).Id, id);
  EXPECT_EQ(stateOf(), RecordState::Pending) << "its process still runs";
  ::kill(writer, SIGKILL);
  EXPECT_EQ(ExitCode(writer), -1);
  EXPECT_EQ(stateOf(), RecordState::Interrupted);
}

TEST(History, AFileOfANewerLayoutIsReadButNeverWritten) {
  TempEnv env;
  const fs::path file = HistoryStore::DefaultFile();
  std::int64_t id = 0;
  {
    HistoryStore older;
    id = older.Begin(Sample("a.FWB")).Id;
    ASSERT_TRUE(older.Complete(id, Finished(Sample("a.FWB"))).Ok());
  }
  // What a later program might do: a new column, a column dropped, a table of its own.
  Sql(file,
      "PRAGMA user_version = 2; ALTER TABLE downloads ADD COLUMN signature BLOB;"
      "ALTER TABLE downloads DROP COLUMN port; CREATE TABLE devices (serial TEXT)");
  const std::string bytes = ReadFile(file);

  HistoryStore store;
  const HistoryRows rows = store.List();
  ASSERT_EQ(rows.Rows.size(), 1u) << rows.Error;
  DownloadRecord expected = Finished(Sample("a.FWB"));
  expected.Port.clear();
  EXPECT_EQ(rows.Rows[0].Record, expected);
  EXPECT_FALSE(store.Begin(Sample("b.FWB")).Ok());
  const HistoryStatus complete = store.Complete(id, expected);
  EXPECT_NE(complete.Error.find("newer"), std::string::npos) << complete.Error;
  const auto notices = store.TakeNotices();
  ASSERT_EQ(notices.size(), 1u) << "told once";
  EXPECT_EQ(notices[0].What, HistoryNotice::Kind::NewerSchema);
  EXPECT_TRUE(store.TakeNotices().empty());
  EXPECT_EQ(ReadFile(file), bytes);
}

TEST(History, AFileThatIsNoHistoryIsSetAsideAndANewOneStarted) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;
  };
  const Case cases[] = {
      {"text", [](const fs::path& f) { WriteFile(f, "no database, just text\n"); }},
      {"another program's database",
       [](const fs::path& f) {
         Sql(f, "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES (1)");
       }},
      {"a history with a table of someone else's",
       [](const fs::path& f) {
         HistoryStore(f).List();
         Sql(f, "CREATE TABLE extra (x)");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempEnv env;
    const fs::path file = HistoryStore::DefaultFile();
    std::set<fs::path> asides;
    fs::create_directories(file.parent_path());
    // Twice in the same second: the second file set aside must not replace the first.
    for (int round = 0; round < 2; ++round) {
      fs::remove(file);
      c.make(file);
      const std::string before = ReadFile(file);
      HistoryStore store;
      EXPECT_TRUE(store.Begin(Sample("x.FWB")).Ok());
      const auto notices = store.TakeNotices();
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_EQ(notices[0].What, HistoryNotice::Kind::SetAside);
      EXPECT_FALSE(notices[0].Detail.empty());
      EXPECT_EQ(ReadFile(notices[0].MovedTo), before);
      asides.insert(notices[0].MovedTo);
      EXPECT_EQ(store.List().Rows.size(), 1u);
    }
    EXPECT_EQ(asides.size(), 2u);
    for (const fs::path& aside : asides) EXPECT_TRUE(fs::exists(aside)) << aside;
  }
}

TEST(History, WithoutWriteAccessDownloadsAreNotRecordedAndThatIsSaidOnce) {
  struct Case {
    const char* name;
    bool fileWithOneRow;  // else no file, in a folder that cannot be made
  };
  for (const Case c : {Case{"read-only data folder", false}, Case{"read-only file", true}}) {
    SCOPED_TRACE(c.name);
    TempEnv env;
    if (c.fileWithOneRow) {
      HistoryStore store;
      ASSERT_TRUE(store.Complete(store.Begin(Sample("a.FWB")).Id, Finished(Sample("a.FWB"))).Ok());
      fs::permissions(store.File(), fs::perms::owner_read, fs::perm_options::replace);
    } else {
      fs::permissions(env.DataHome(), fs::perms::owner_read | fs::perms::owner_exec,
                      fs::perm_options::replace);
    }
    const std::string failure = testsupport::AsUnprivilegedUser(env, [&] {
      HistoryStore store;
      const HistoryBegun first = store.Begin(Sample("b.FWB"));
      const HistoryStatus second = store.Complete(1, Finished(Sample("b.FWB")));
      const HistoryRows rows = store.List();
      const auto notices = store.TakeNotices();
      if (first.Ok() || second.Ok()) return std::string("a write succeeded");
      if (first.Error.find(env.DataHome().string()) == std::string::npos) return first.Error;
      // What is there is still shown.
      if (rows.Rows.size() != (c.fileWithOneRow ? 1u : 0u) || rows.Ok() != c.fileWithOneRow) {
        return "read " + std::to_string(rows.Rows.size()) + " rows: " + rows.Error;
      }
      if (notices.size() != 1 || notices[0].What != HistoryNotice::Kind::CannotWrite) {
        return "expected one notice, got " + std::to_string(notices.size());
      }
      return std::string();
    });
    EXPECT_EQ(failure, "");
  }
}
