#pragma once

#include "common/downloadrecord.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// One download as the history holds it.
struct HistoryEntry {
  std::int64_t Id = 0;  // grows with every download begun; newer downloads have larger ids
  DownloadRecord Record;
};

// Outcomes of the store's operations. Nothing is thrown: Error says why an operation failed and
// is empty when it worked.
struct HistoryStatus {
  std::string Error;
  bool Ok() const { return Error.empty(); }
};

struct HistoryBegun : HistoryStatus {
  std::int64_t Id = 0;  // the pending row, for Complete
};

struct HistoryRows : HistoryStatus {
  std::vector<HistoryEntry> Rows;  // newest first
};

// Something about the history file that the person should be told once.
struct HistoryNotice {
  enum class Kind {
    SetAside,     // the file was no history; it was renamed to MovedTo and a new one started
    NewerSchema,  // a newer program wrote the file: it is read, never written
    CannotWrite,  // downloads run on, but the history does not record them
    CannotRead,   // the file could not be read
  };
  Kind What = Kind::CannotWrite;
  std::filesystem::path File;
  std::filesystem::path MovedTo;
  std::string Detail;  // the system's reason, for the person and for reports
};

// Which rows List returns, newest first: for a window that reads page by page, pass the Id of the
// last row of one page as BeforeId of the next.
struct HistoryPage {
  std::size_t Limit = 0;      // at most this many rows; 0: all
  std::int64_t BeforeId = 0;  // only rows older than this one; 0: from the newest
};

// The history of every download, kept in an SQLite file that several processes (the window and
// scripts) read and write at once. A row is written "pending" before the first byte goes to the
// printer and completed with the result afterwards; a pending row whose process no longer runs
// reads as interrupted. The file is opened at the first operation; when it cannot be, every
// operation fails with the reason and the downloads go on without a history.
//
// One store per process serves every download of it (the operations are thread-safe), so that
// each notice reaches the person once.
class HistoryStore {
 public:
  // The version of the file layout this program writes. A file of a later version is read (the
  // columns this program knows) and never written.
  static constexpr int kSchemaVersion = 1;

  // $XDG_DATA_HOME/fwload/history.sqlite, else ~/.local/share/fwload/history.sqlite.
  static std::filesystem::path DefaultFile();

  explicit HistoryStore(std::filesystem::path file = DefaultFile());
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  const std::filesystem::path& File() const;

  // Writes `record` as a pending row of this process (its State is not read). The caller sets
  // Started and what it knows before sending: file, target, port, model, VersionBefore.
  HistoryBegun Begin(const DownloadRecord& record);

  // Fills the row `id` that this process began with `record`, as done.
  HistoryStatus Complete(std::int64_t id, const DownloadRecord& record);

  // The newest `limit` rows (0: all).
  HistoryRows List(std::size_t limit = 0);
  HistoryRows List(const HistoryPage& page);

  // What happened to the file since the last call that the person has not been told: a file set
  // aside, a newer file, no way to write. Each kind of trouble is told once per store.
  std::vector<HistoryNotice> TakeNotices();

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};
