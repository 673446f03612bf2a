#include "common/historysql.h"

#include <chrono>
#include <set>
#include <thread>

namespace historysql {

namespace {

// "FWLH" in the file's header: tells this program's file from any other SQLite file.
constexpr std::int64_t kApplicationId = 0x46574C48;

// The table of the current layout. Times are UTC milliseconds since 1970; the file's path is kept
// as its bytes, which need not be UTF-8; pid and process_start name the process that began the row.
const char kCreateTable[] =
    "CREATE TABLE downloads ("
    " id INTEGER PRIMARY KEY,"
    " state TEXT NOT NULL,"
    " started_ms INTEGER NOT NULL,"
    " ended_ms INTEGER,"
    " file BLOB NOT NULL,"
    " description TEXT NOT NULL,"
    " version TEXT NOT NULL,"
    " target TEXT NOT NULL,"
    " port TEXT NOT NULL,"
    " model TEXT NOT NULL,"
    " code INTEGER,"
    " message_id INTEGER,"
    " message TEXT,"
    " bytes INTEGER,"
    " seconds REAL,"
    " version_before TEXT,"
    " version_after TEXT,"
    " verified TEXT,"
    " pid INTEGER NOT NULL,"
    " process_start TEXT NOT NULL)";

// The columns List reads, in the order ReadRow takes them.
enum Column {
  kId,
  kState,
  kStarted,
  kEnded,
  kFile,
  kDescription,
  kVersion,
  kTarget,
  kPort,
  kModel,
  kCode,
  kMessageId,
  kMessage,
  kBytes,
  kSeconds,
  kVersionBefore,
  kVersionAfter,
  kVerified,
  kPid,
  kProcessStart,
  kColumnCount
};
constexpr const char* kColumnNames[kColumnCount] = {
    "id",      "state",        "started_ms", "ended_ms",       "file",          "description",
    "version", "target",       "port",       "model",          "code",          "message_id",
    "message", "bytes",        "seconds",    "version_before", "version_after", "verified",
    "pid",     "process_start"};

std::int64_t Millis(DownloadRecord::Time time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::string ColumnBytes(sqlite3_stmt* statement, int column) {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
  return bytes
             ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
             : std::string();
}

std::optional<std::string> OptionalText(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return ColumnBytes(statement, column);
}

void BindOptional(sqlite3_stmt* statement, const char* name,
                  const std::optional<std::string>& text) {
  if (text) {
    BindText(statement, name, *text);
  } else {
    sqlite3_bind_null(statement, sqlite3_bind_parameter_index(statement, name));
  }
}

}  // namespace

const char kInsert[] =
    "INSERT INTO downloads (state, started_ms, file, description, version, target, port, model,"
    " version_before, pid, process_start) VALUES ('pending', :started, :file, :description,"
    " :version, :target, :port, :model, :version_before, :pid, :process_start)";

// Only the process that began a row completes it, and only once.
const char kComplete[] =
    "UPDATE downloads SET state = 'done', started_ms = :started, ended_ms = :ended, file = :file,"
    " description = :description, version = :version, target = :target, port = :port,"
    " model = :model, code = :code, message_id = :message_id, message = :message, bytes = :bytes,"
    " seconds = :seconds, version_before = :version_before, version_after = :version_after,"
    " verified = :verified"
    " WHERE id = :id AND state = 'pending' AND pid = :pid AND process_start = :process_start";

Stmt Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return Stmt(statement);
}

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string Reason(sqlite3* db, const std::string& what) {
  return what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

std::optional<int> IntPragma(sqlite3* db, const char* name) {
  Stmt statement = Prepare(db, std::string("PRAGMA ") + name);
  if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
  return sqlite3_column_int(statement.get(), 0);
}

namespace {

Shape ClassifyInRead(sqlite3* db) {
  Shape shape;
  const auto applicationId = IntPragma(db, "application_id");
  const auto version = IntPragma(db, "user_version");
  Stmt names = Prepare(db,
                       "SELECT name FROM sqlite_master WHERE type IN ('table', 'view')"
                       " AND name NOT LIKE 'sqlite!_%' ESCAPE '!'");
  std::set<std::string> tables;
  int rc = names ? SQLITE_ROW : SQLITE_ERROR;
  while (names && (rc = sqlite3_step(names.get())) == SQLITE_ROW) {
    tables.insert(ColumnBytes(names.get(), 0));
  }
  if (!applicationId || !version || rc != SQLITE_DONE) {
    const int code = sqlite3_errcode(db);
    const bool damaged = code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
    shape.What = damaged ? Shape::Kind::Foreign : Shape::Kind::Unreadable;
    shape.Detail = Reason(db, damaged ? "not a history" : "cannot read the history");
    return shape;
  }
  shape.Version = *version;
  const bool ourId = *applicationId == kApplicationId;
  if (tables.empty() && *version == 0 && (ourId || *applicationId == 0)) {
    shape.What = Shape::Kind::Empty;
  } else if (!ourId) {
    shape.What = Shape::Kind::Foreign;
    shape.Detail = "not a history: a database of another program";
  } else if (!tables.count("downloads")) {
    shape.What = Shape::Kind::Foreign;
    shape.Detail = "not a history: it has no table of downloads";
  } else if (*version > HistoryStore::kSchemaVersion) {
    shape.What = Shape::Kind::Newer;
  } else if (*version == HistoryStore::kSchemaVersion && tables.size() == 1) {
    shape.What = Shape::Kind::Ours;
  } else {
    shape.What = Shape::Kind::Foreign;
    shape.Detail = "not a history: layout " + std::to_string(*version) + " with " +
                   std::to_string(tables.size()) + " tables";
  }
  return shape;
}

}  // namespace

Shape Classify(sqlite3* db) {
  // All looks in one read: another process may be making the history meanwhile, and a header
  // read before its commit with tables read after it would look like someone else's file.
  const bool ownRead = sqlite3_get_autocommit(db) != 0 && Exec(db, "BEGIN");
  Shape shape = ClassifyInRead(db);
  if (ownRead) Exec(db, "COMMIT");
  return shape;
}

// Switching to the write-ahead log takes the file for a moment and, unlike a write, does not wait
// for other connections: waited for here as long as a write would wait.
bool SwitchToWal(sqlite3* db) {
  using namespace std::chrono_literals;
  for (auto waited = 0ms;; waited += 10ms) {
    Stmt pragma = Prepare(db, "PRAGMA journal_mode = WAL");
    // A row names the mode now in use; a file system without shared memory keeps the old one.
    const int rc = pragma ? sqlite3_step(pragma.get()) : SQLITE_ERROR;
    if (rc == SQLITE_ROW) return true;
    if ((rc & 0xff) != SQLITE_BUSY || waited >= std::chrono::milliseconds(kBusyMilliseconds)) {
      return false;
    }
    std::this_thread::sleep_for(10ms);
  }
}

std::string Create(sqlite3* db, bool& again) {
  // The log mode first, so that the file is born with it.
  if (!SwitchToWal(db) || !Exec(db, "BEGIN IMMEDIATE")) {
    return Reason(db, "cannot make the history");
  }
  const Shape shape = Classify(db);
  std::string error;
  if (shape.What == Shape::Kind::Empty) {
    const std::string create =
        "PRAGMA application_id = " + std::to_string(kApplicationId) +
        "; PRAGMA user_version = " + std::to_string(HistoryStore::kSchemaVersion) + "; " +
        kCreateTable;
    if (!Exec(db, create.c_str()) || !Exec(db, "COMMIT"))
      error = Reason(db, "cannot make the history");
  } else if (shape.What == Shape::Kind::Ours) {
    if (!Exec(db, "COMMIT")) error = Reason(db, "cannot make the history");
  } else {
    again = true;
  }
  if (!error.empty() || again) Exec(db, "ROLLBACK");
  return error;
}

std::string UseWal(sqlite3* db) {
  // NORMAL: a commit survives a killed process at once; only a power loss could undo the last ones,
  // which keeps each download's two writes cheap.
  if (!SwitchToWal(db) || !Exec(db, "PRAGMA synchronous = NORMAL")) {
    return Reason(db, "cannot use the history");
  }
  return {};
}

std::string SelectList(sqlite3* db) {
  std::set<std::string> present;
  if (Stmt info = Prepare(db, "PRAGMA table_info(downloads)")) {
    while (sqlite3_step(info.get()) == SQLITE_ROW) present.insert(ColumnBytes(info.get(), 1));
  }
  // rowid: the row's id whatever a later layout calls it.
  std::string list = "rowid";
  for (int column = kId + 1; column < kColumnCount; ++column) {
    list += ", ";
    list += present.count(kColumnNames[column]) ? kColumnNames[column] : "NULL";
  }
  return list;
}

void BindInt(sqlite3_stmt* statement, const char* name, std::int64_t value) {
  sqlite3_bind_int64(statement, sqlite3_bind_parameter_index(statement, name), value);
}

void BindText(sqlite3_stmt* statement, const char* name, std::string_view text) {
  const std::string valid = ValidUtf8(text);
  sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, name), valid.data(),
                    static_cast<int>(valid.size()), SQLITE_TRANSIENT);
}

void BindRecord(sqlite3_stmt* statement, const DownloadRecord& record) {
  BindInt(statement, ":started", Millis(record.Started));
  const std::string& file = record.File.native();
  sqlite3_bind_blob(statement, sqlite3_bind_parameter_index(statement, ":file"), file.data(),
                    static_cast<int>(file.size()), SQLITE_TRANSIENT);
  BindText(statement, ":description", record.Description);
  BindText(statement, ":version", record.Version);
  BindText(statement, ":target", record.Target);
  BindText(statement, ":port", record.Port);
  BindText(statement, ":model", record.Model);
  BindOptional(statement, ":version_before", record.VersionBefore);
}

void BindResult(sqlite3_stmt* statement, const DownloadRecord& record) {
  if (record.Ended) {
    BindInt(statement, ":ended", Millis(*record.Ended));
  } else {
    sqlite3_bind_null(statement, sqlite3_bind_parameter_index(statement, ":ended"));
  }
  BindInt(statement, ":code", record.Code);
  BindInt(statement, ":message_id", record.MessageId);
  BindText(statement, ":message", record.Message);
  BindInt(statement, ":bytes", static_cast<std::int64_t>(record.Bytes));
  sqlite3_bind_double(statement, sqlite3_bind_parameter_index(statement, ":seconds"),
                      record.Seconds);
  BindOptional(statement, ":version_after", record.VersionAfter);
  BindText(statement, ":verified", VerifiedName(record.Verify));
}

HistoryEntry ReadRow(sqlite3_stmt* s, RowProcess& process) {
  HistoryEntry entry;
  entry.Id = sqlite3_column_int64(s, kId);
  DownloadRecord& r = entry.Record;
  r.State = StateFromName(ColumnBytes(s, kState));
  r.Started = DownloadRecord::Time(std::chrono::milliseconds(sqlite3_column_int64(s, kStarted)));
  if (sqlite3_column_type(s, kEnded) != SQLITE_NULL) {
    r.Ended = DownloadRecord::Time(std::chrono::milliseconds(sqlite3_column_int64(s, kEnded)));
  }
  r.File = ColumnBytes(s, kFile);
  r.Description = ColumnBytes(s, kDescription);
  r.Version = ColumnBytes(s, kVersion);
  r.Target = ColumnBytes(s, kTarget);
  r.Port = ColumnBytes(s, kPort);
  r.Model = ColumnBytes(s, kModel);
  r.Code = static_cast<std::uint16_t>(sqlite3_column_int(s, kCode));
  r.MessageId = sqlite3_column_int(s, kMessageId);
  r.Message = ColumnBytes(s, kMessage);
  r.Bytes = static_cast<std::uint64_t>(sqlite3_column_int64(s, kBytes));
  r.Seconds = sqlite3_column_double(s, kSeconds);
  r.VersionBefore = OptionalText(s, kVersionBefore);
  r.VersionAfter = OptionalText(s, kVersionAfter);
  // A pending row has no result yet.
  r.Verify = sqlite3_column_type(s, kVerified) == SQLITE_NULL
                 ? Verified::Skipped
                 : VerifiedFromName(ColumnBytes(s, kVerified));
  process.Pid = sqlite3_column_int64(s, kPid);
  process.Start = ColumnBytes(s, kProcessStart);
  return entry;
}

std::string ValidUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(in[i + k]); };
    const unsigned char c = byte(0);
    const std::size_t length = c < 0x80                 ? 1
                               : c >= 0xC2 && c <= 0xDF ? 2
                               : c >= 0xE0 && c <= 0xEF ? 3
                               : c >= 0xF0 && c <= 0xF4 ? 4
                                                        : 0;
    bool ok = length > 0 && i + length <= in.size();
    for (std::size_t k = 1; ok && k < length; ++k) ok = (byte(k) & 0xC0) == 0x80;
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    if (ok && length > 2) {
      const unsigned char next = byte(1);
      ok = !(c == 0xE0 && next < 0xA0) && !(c == 0xED && next >= 0xA0) &&
           !(c == 0xF0 && next < 0x90) && !(c == 0xF4 && next >= 0x90);
    }
    if (ok) {
      out.append(in.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace historysql
