#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmHistory;
}

class HistoryStore;
class QPushButton;
class QTreeView;
class THistoryModel;

// The history of downloads, read only: one row per download, newest first, read page by page as
// the list is scrolled. Downloads still running or ended with their program say so in the result
// column. What the store has to tell (a file set aside, a newer file, a file that cannot be read)
// is shown in a box once the window is up, once per store.
class TfrmHistory : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmHistory(HistoryStore& store, QWidget* parent = nullptr);
  ~TfrmHistory() override;

  QTreeView* lstvwHistory() const;
  QPushButton* btnClose() const;
  THistoryModel& Model() const { return *FModel; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void TellNotices();

  std::unique_ptr<Ui::TfrmHistory> ui;
  HistoryStore& FStore;
  THistoryModel* FModel = nullptr;
  bool FNoticesTold = false;
};
