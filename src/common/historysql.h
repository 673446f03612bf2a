#pragma once

#include "common/history.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The history file's layout and the SQLite calls of the history store (its own unit, so that the
// store reads as what it does with the file).
namespace historysql {

// Long enough for another process's write to end, short enough not to hold up a download.
constexpr int kBusyMilliseconds = 5000;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Null when the statement cannot be prepared (the reason is then in the connection).
Stmt Prepare(sqlite3* db, const std::string& sql);
bool Exec(sqlite3* db, const char* sql);
// `what` followed by SQLite's own words for the connection's last error.
std::string Reason(sqlite3* db, const std::string& what);
std::optional<int> IntPragma(sqlite3* db, const char* name);

// What an opened file is to this program.
struct Shape {
  enum class Kind {
    Empty,       // a new file: the history is to be made in it
    Ours,        // a history of this program's layout
    Newer,       // a history of a later layout: read, never written
    Foreign,     // not a history: set aside
    Unreadable,  // could not be looked at (busy, input/output error)
  };
  Kind What = Kind::Unreadable;
  int Version = 0;
  std::string Detail;  // for Foreign and Unreadable: why
};
Shape Classify(sqlite3* db);

// Makes the history in an empty file, unless another process got there first. `again` is set when
// the file turned out to be something else meanwhile.
std::string Create(sqlite3* db, bool& again);

// Write-ahead log, so that readers and writers of several processes never wait for each other.
std::string UseWal(sqlite3* db);

// What List selects: the columns this program knows, NULL in place of those the file lacks.
std::string SelectList(sqlite3* db);

extern const char kInsert[];
extern const char kComplete[];

// The record's own columns (both statements) and its result columns (completion only).
void BindRecord(sqlite3_stmt* statement, const DownloadRecord& record);
void BindResult(sqlite3_stmt* statement, const DownloadRecord& record);
void BindInt(sqlite3_stmt* statement, const char* name, std::int64_t value);
void BindText(sqlite3_stmt* statement, const char* name, std::string_view text);

// The process that wrote a row, to decide whether its pending download was interrupted.
struct RowProcess {
  std::int64_t Pid = 0;
  std::string Start;
};

// One row of the statement of SelectList.
HistoryEntry ReadRow(sqlite3_stmt* statement, RowProcess& process);

// Invalid UTF-8 sequences replaced with U+FFFD: every text column holds UTF-8.
std::string ValidUtf8(std::string_view bytes);

}  // namespace historysql
