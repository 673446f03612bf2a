#include "common/history.h"

#include "common/historysql.h"
#include "platform/filemove.h"
#include "platform/paths.h"
#include "platform/processinfo.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

using namespace historysql;

namespace {

std::string AtFile(const std::filesystem::path& file) { return " (" + file.string() + ")"; }

// history.sqlite.broken-YYYYMMDD-HHMMSS (UTC), with -2, -3, ... when that name is taken.
std::filesystem::path AsideName(const std::filesystem::path& file, int n) {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, ".broken-%04d%02u%02u-%02ld%02ld%02lld", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), long(time.hours().count()),
                long(time.minutes().count()), static_cast<long long>(time.seconds().count()));
  std::string name = file.filename().string() + stamp;
  if (n > 1) name += "-" + std::to_string(n);
  return file.parent_path() / name;
}

}  // namespace

struct HistoryStore::Impl {
  enum class Access { Closed, Writable, ReadOnly };

  explicit Impl(std::filesystem::path file) : File(std::move(file)) {}

  std::filesystem::path File;
  std::mutex Mutex;
  Db Connection;
  Access Mode = Access::Closed;
  std::optional<platform::FileId> OpenedId;
  std::string ReadOnlyReason;  // why writes fail while Mode is ReadOnly
  std::string Columns;         // what List selects: the known columns, NULL for missing ones
  std::vector<HistoryNotice> Notices;
  std::set<HistoryNotice::Kind> Told;
  const platform::ProcessIdentity Self = platform::ThisProcess();

  void Tell(HistoryNotice::Kind kind, const std::string& detail,
            const std::filesystem::path& movedTo = {}) {
    if (kind != HistoryNotice::Kind::SetAside && !Told.insert(kind).second) return;
    Notices.push_back({kind, File, movedTo, detail});
  }

  void Close() {
    Connection.reset();
    Mode = Access::Closed;
    OpenedId.reset();
  }

  // Empty when the file is open (for writing, or read-only with ReadOnlyReason), else why not.
  std::string Open() {
    if (Connection) {
      // A file replaced or removed by someone else is opened afresh.
      if (platform::IdOf(File) == OpenedId) return {};
      Close();
    }
    std::string error;
    for (int attempt = 0; attempt < 3; ++attempt) {
      bool again = false;
      error = OpenOnce(again);
      if (!again) break;
    }
    if (error.empty() && !Connection) {
      error = "the history" + AtFile(File) + " kept changing while it was opened";
      Tell(HistoryNotice::Kind::CannotRead, error);
    }
    return error;
  }

  std::string CannotWrite(const std::string& why) {
    Tell(HistoryNotice::Kind::CannotWrite, why);
    return why;
  }

  std::string OpenOnce(bool& again) {
    std::error_code ec;
    std::filesystem::create_directories(File.parent_path(), ec);
    if (ec) {
      return CannotWrite("cannot make the history's folder " + File.parent_path().string() + ": " +
                         ec.message());
    }
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(File.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) {
      const std::string why = Reason(raw, "cannot open the history" + AtFile(File));
      db.reset();
      // A folder this user may only read: the history is still shown.
      std::error_code existsError;
      const bool readable = std::filesystem::exists(File, existsError) && OpenReadOnly(why);
      CannotWrite(why);
      return readable ? std::string() : why;
    }
    sqlite3_busy_timeout(db.get(), kBusyMilliseconds);
    const auto id = platform::IdOf(File);
    const Shape shape = Classify(db.get());
    switch (shape.What) {
      case Shape::Kind::Unreadable:
        Tell(HistoryNotice::Kind::CannotRead, shape.Detail);
        return shape.Detail;
      case Shape::Kind::Foreign:
        db.reset();
        if (std::string error = SetAside(id, shape.Detail); !error.empty())
          return CannotWrite(error);
        again = true;
        return {};
      case Shape::Kind::Newer: {
        db.reset();
        const std::string why = "the history" + AtFile(File) + " was written by a newer fwload (" +
                                "layout " + std::to_string(shape.Version) +
                                "): it is read, never written";
        if (!OpenReadOnly(why)) return CannotWrite(why);
        Tell(HistoryNotice::Kind::NewerSchema, why);
        return {};
      }
      case Shape::Kind::Empty:
        if (std::string error = Create(db.get(), again); !error.empty()) return CannotWrite(error);
        if (again) return {};
        break;
      case Shape::Kind::Ours:
        break;
    }
    if (sqlite3_db_readonly(db.get(), "main") == 1) {
      const std::string why = "the history" + AtFile(File) + " is read-only";
      Adopt(std::move(db), id, Access::ReadOnly, why);
      CannotWrite(why);
      return {};
    }
    if (std::string error = UseWal(db.get()); !error.empty()) return CannotWrite(error);
    Adopt(std::move(db), id, Access::Writable, {});
    return {};
  }

  void Adopt(Db db, std::optional<platform::FileId> id, Access mode, std::string readOnlyReason) {
    Columns = SelectList(db.get());
    Connection = std::move(db);
    OpenedId = id;
    Mode = mode;
    ReadOnlyReason = std::move(readOnlyReason);
  }

  // For a file this program must not or cannot write: opened so that nothing can write it.
  bool OpenReadOnly(const std::string& why) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(File.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) return false;
    sqlite3_busy_timeout(db.get(), kBusyMilliseconds);
    const Shape shape = Classify(db.get());
    if (shape.What != Shape::Kind::Ours && shape.What != Shape::Kind::Newer) return false;
    Adopt(std::move(db), platform::IdOf(File), Access::ReadOnly, why);
    return true;
  }

  // Moves the file that is no history (and what SQLite keeps beside it) to a name of its own,
  // unless someone else already replaced it. Empty when done.
  std::string SetAside(const std::optional<platform::FileId>& id, const std::string& why) {
    if (!id || platform::IdOf(File) != id) return {};
    for (int n = 1; n < 100; ++n) {
      const std::filesystem::path aside = AsideName(File, n);
      bool taken = false;
      for (const char* companion : {"-wal", "-shm", "-journal"}) {
        std::error_code ec;
        taken = taken || std::filesystem::exists(aside.string() + companion, ec);
      }
      if (taken) continue;
      const std::error_code error = platform::RenameNoReplace(File, aside);
      if (error == std::errc::file_exists) continue;
      if (error) return "cannot set aside " + File.string() + ": " + error.message();
      for (const char* companion : {"-wal", "-shm", "-journal"}) {
        std::error_code ec;
        if (!std::filesystem::exists(File.string() + companion, ec)) continue;
        if (platform::RenameNoReplace(File.string() + companion, aside.string() + companion)) {
          return "cannot set aside " + File.string() + companion;
        }
      }
      Tell(HistoryNotice::Kind::SetAside, why, aside);
      return {};
    }
    return "no free name to set aside " + File.string();
  }

  // Empty when a write transaction on a file of this program's layout has begun.
  std::string BeginWrite() {
    if (std::string error = Open(); !error.empty()) return error;
    if (Mode != Access::Writable) return ReadOnlyReason;
    if (!Exec(Connection.get(), "BEGIN IMMEDIATE")) {
      return CannotWrite(Reason(Connection.get(), "cannot write the history" + AtFile(File)));
    }
    // A newer program may have changed the layout since the file was opened.
    const std::optional<int> version = IntPragma(Connection.get(), "user_version");
    if (!version) return Abandon();
    if (*version != HistoryStore::kSchemaVersion) {
      Exec(Connection.get(), "ROLLBACK");
      Mode = Access::ReadOnly;
      ReadOnlyReason = "the history" + AtFile(File) + " was changed to layout " +
                       std::to_string(*version) + ": it is read, never written";
      Tell(HistoryNotice::Kind::NewerSchema, ReadOnlyReason);
      return ReadOnlyReason;
    }
    return {};
  }

  // Runs a prepared write inside the transaction of BeginWrite and commits it when it changed
  // one row. Empty when done.
  std::string FinishWrite(sqlite3_stmt* statement, const std::string& noRowError) {
    sqlite3* db = Connection.get();
    if (sqlite3_step(statement) == SQLITE_DONE && sqlite3_changes(db) != 1) {
      // The caller named a row that is not its own pending one: no trouble with the file.
      Exec(db, "ROLLBACK");
      return noRowError;
    }
    if (sqlite3_reset(statement) == SQLITE_OK && Exec(db, "COMMIT")) return {};
    const std::string error = Reason(db, "cannot write the history" + AtFile(File));
    Exec(db, "ROLLBACK");
    return CannotWrite(error);
  }

  // Ends the transaction of BeginWrite when its statement cannot be made.
  std::string Abandon() {
    const std::string error = Reason(Connection.get(), "cannot write the history" + AtFile(File));
    Exec(Connection.get(), "ROLLBACK");
    return CannotWrite(error);
  }
};

std::filesystem::path HistoryStore::DefaultFile() { return platform::DataDir() / "history.sqlite"; }

HistoryStore::HistoryStore(std::filesystem::path file)
    : FImpl(std::make_unique<Impl>(std::move(file))) {}

HistoryStore::~HistoryStore() = default;

const std::filesystem::path& HistoryStore::File() const { return FImpl->File; }

HistoryBegun HistoryStore::Begin(const DownloadRecord& record) {
  std::lock_guard lock(FImpl->Mutex);
  HistoryBegun result;
  if (result.Error = FImpl->BeginWrite(); !result.Error.empty()) return result;
  Stmt insert = Prepare(FImpl->Connection.get(), kInsert);
  if (!insert) {
    result.Error = FImpl->Abandon();
    return result;
  }
  BindRecord(insert.get(), record);
  BindInt(insert.get(), ":pid", FImpl->Self.Pid);
  BindText(insert.get(), ":process_start", FImpl->Self.Start);
  result.Error = FImpl->FinishWrite(insert.get(), "the pending download was not written");
  if (result.Ok()) result.Id = sqlite3_last_insert_rowid(FImpl->Connection.get());
  return result;
}

HistoryStatus HistoryStore::Complete(std::int64_t id, const DownloadRecord& record) {
  std::lock_guard lock(FImpl->Mutex);
  HistoryStatus result;
  if (result.Error = FImpl->BeginWrite(); !result.Error.empty()) return result;
  Stmt update = Prepare(FImpl->Connection.get(), kComplete);
  if (!update) {
    result.Error = FImpl->Abandon();
    return result;
  }
  BindRecord(update.get(), record);
  BindResult(update.get(), record);
  BindInt(update.get(), ":id", id);
  BindInt(update.get(), ":pid", FImpl->Self.Pid);
  BindText(update.get(), ":process_start", FImpl->Self.Start);
  result.Error = FImpl->FinishWrite(update.get(), "the history holds no pending download " +
                                                      std::to_string(id) + " of this process");
  return result;
}

HistoryRows HistoryStore::List(std::size_t limit) { return List(HistoryPage{limit, 0}); }

HistoryRows HistoryStore::List(const HistoryPage& page) {
  std::lock_guard lock(FImpl->Mutex);
  HistoryRows result;
  if (result.Error = FImpl->Open(); !result.Error.empty()) return result;
  const std::int64_t before =
      page.BeforeId > 0 ? page.BeforeId : std::numeric_limits<std::int64_t>::max();
  // Thousands of rows at once: room for all of them halves the time a growing vector takes to
  // copy them. A page is small, and counting every older row for each page would make reading a
  // long history page by page grow with the square of its length.
  Stmt count = page.Limit > 0 ? nullptr
                              : Prepare(FImpl->Connection.get(),
                                        "SELECT count(*) FROM downloads WHERE rowid < ?1");
  if (count) {
    sqlite3_bind_int64(count.get(), 1, before);
    if (sqlite3_step(count.get()) == SQLITE_ROW) {
      result.Rows.reserve(static_cast<std::size_t>(sqlite3_column_int64(count.get(), 0)));
    }
  }
  Stmt select = Prepare(
      FImpl->Connection.get(),
      "SELECT " + FImpl->Columns + " FROM downloads WHERE rowid < ?1 ORDER BY rowid DESC LIMIT ?2");
  if (!select) {
    result.Error = Reason(FImpl->Connection.get(), "cannot read the history" + AtFile(File()));
    FImpl->Tell(HistoryNotice::Kind::CannotRead, result.Error);
    return result;
  }
  sqlite3_bind_int64(select.get(), 1, before);
  sqlite3_bind_int64(select.get(), 2, page.Limit > 0 ? static_cast<std::int64_t>(page.Limit) : -1);
  // Whether a pending row's process still runs is asked once per process, not once per row.
  std::map<std::pair<std::int64_t, std::string>, bool> running;
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    RowProcess process;
    HistoryEntry& entry = result.Rows.emplace_back(ReadRow(select.get(), process));
    if (entry.Record.State != RecordState::Pending) continue;
    const auto key = std::make_pair(process.Pid, process.Start);
    auto known = running.find(key);
    if (known == running.end()) {
      known = running.emplace(key, platform::IsProcessRunning({process.Pid, process.Start})).first;
    }
    if (!known->second) entry.Record.State = RecordState::Interrupted;
  }
  if (rc != SQLITE_DONE) {
    result.Rows.clear();
    result.Error = Reason(FImpl->Connection.get(), "cannot read the history" + AtFile(File()));
    FImpl->Tell(HistoryNotice::Kind::CannotRead, result.Error);
  }
  return result;
}

std::vector<HistoryNotice> HistoryStore::TakeNotices() {
  std::lock_guard lock(FImpl->Mutex);
  return std::exchange(FImpl->Notices, {});
}
