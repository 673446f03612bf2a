// The history window: its rows newest first, read page by page, and what the store has to tell
// shown once; opened from the main window's menu.
#include "mainwindowtest.h"
#include "ui/frmhistory.h"
#include "ui/historymodel.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

using HistoryWindow = MainWindowTest;

// A download of `file` begun at `minute` and, unless `code` is negative, completed with it.
std::int64_t Write(HistoryStore& store, const std::string& file, int minute, int code) {
  DownloadRecord r;
  r.Started = DownloadRecord::Time(std::chrono::minutes(28'000'000 + minute));
  r.File = "/home/nora/fw/" + file;
  r.Version = "V2.1" + std::to_string(minute);
  r.Target = "Office-M3";
  r.Port = "socket://192.0.2.9:9100";
  r.Model = "TORVA VELOXIA M3";
  const std::int64_t id = store.Begin(r).Id;
  r.Code = static_cast<std::uint16_t>(code);
  r.Message = code == 0 ? "ダウンロードが終了しました。" : "送信に失敗しました。";
  if (code == 0) r.VersionAfter = "V2.10";
  if (code >= 0) store.Complete(id, r);
  return id;
}

void Sql(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

QStringList Texts(const QAbstractItemModel& model, int row, int role = Qt::DisplayRole) {
  QStringList texts;
  for (int c = 0; c < model.columnCount(); ++c) {
    texts << (row < 0 ? model.headerData(c, Qt::Horizontal) : model.index(row, c).data(role))
                 .toString();
  }
  return texts;
}

TEST_F(HistoryWindow, RowsNewestFirstUnderJapaneseHeadersWithTheirState) {
  HistoryStore store;
  Write(store, "old.FWB", 1, 0);
  const std::int64_t gone = Write(store, "gone.FWV", 2, -1);
  Write(store, "failed.FWB", 3, 33);
  Write(store, "running.FW_", 4, -1);
  // The second pending row's process is another, which no longer runs.
  Sql(store.File(), "UPDATE downloads SET process_start = 'x' WHERE id = " + std::to_string(gone));

  TfrmHistory history(store);
  const QAbstractItemModel& model = *history.lstvwHistory()->model();
  EXPECT_EQ(Texts(model, -1), QStringList({"日時", "ファイル", "バージョン", "プリンタ", "ポート",
                                           "モデル", "結果", "確認したバージョン"}));
  ASSERT_EQ(model.rowCount(), 4);
  const auto newest = std::chrono::milliseconds(std::chrono::minutes(28'000'004)).count();
  EXPECT_EQ(Texts(model, 0),
            QStringList({QDateTime::fromMSecsSinceEpoch(newest).toString("yyyy/MM/dd HH:mm:ss"),
                         "running.FW_", "V2.14", "Office-M3", "socket://192.0.2.9:9100",
                         "TORVA VELOXIA M3", "実行中", ""}));
  EXPECT_EQ(Texts(model, 1).mid(1, 1) + Texts(model, 1).mid(6),
            QStringList({"failed.FWB", "送信に失敗しました。", ""}));
  EXPECT_EQ(Texts(model, 2).mid(1, 1) + Texts(model, 2).mid(6),
            QStringList({"gone.FWV", THistoryModel::StateText(RecordState::Interrupted), ""}));
  EXPECT_EQ(Texts(model, 3).mid(1, 1) + Texts(model, 3).mid(6),
            QStringList({"old.FWB", "ダウンロードが終了しました。", "V2.10"}));
  EXPECT_EQ(Texts(model, 3, Qt::ToolTipRole)[1], "/home/nora/fw/old.FWB");
  EXPECT_EQ(history.btnClose()->text(), "閉じる");
}

TEST_F(HistoryWindow, ALongHistoryIsReadPageByPage) {
  HistoryStore store;
  for (int i = 0; i < 7; ++i) Write(store, "f" + std::to_string(i), i, 0);
  THistoryModel model(store, 3);
  ASSERT_TRUE(model.Reload()) << model.Error();
  for (int expected : {3, 6, 7}) {
    EXPECT_EQ(model.rowCount(), expected);
    EXPECT_EQ(model.canFetchMore({}), expected < 7);
    model.fetchMore({});
  }
  QStringList files;
  for (int row = 0; row < model.rowCount(); ++row) files << Texts(model, row)[1];
  EXPECT_EQ(files, QStringList({"f6", "f5", "f4", "f3", "f2", "f1", "f0"}));
}

TEST_F(HistoryWindow, TheMenuOpensItAndANewerFileIsToldOnce) {
  HistoryStore(HistoryStore::DefaultFile()).Begin({});
  Sql(HistoryStore::DefaultFile(), "PRAGMA user_version = 2");
  for (int opening = 0; opening < 2; ++opening) {
    QTimer::singleShot(0, [] {
      auto* shown = qobject_cast<TfrmHistory*>(QApplication::activeModalWidget());
      ASSERT_NE(shown, nullptr);
      EXPECT_EQ(shown->Model().rowCount(), 1);
      // After the notice's box, which comes once the window is up.
      QTimer::singleShot(50, shown, [shown] { shown->btnClose()->click(); });
    });
    window->findChild<QAction*>("MV_History")->trigger();
  }
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4364) + "\n" + HistoryStore::DefaultFile().string());
}

}  // namespace
