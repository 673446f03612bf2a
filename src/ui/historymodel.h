#pragma once

#include "common/history.h"

#include <QAbstractTableModel>

#include <cstddef>
#include <string>
#include <vector>

// The rows of the history window, newest first, read from the store a page at a time: the first
// page when the window opens, the next ones as the list is scrolled down to them, so that a long
// history opens as fast as a short one. Rows written meanwhile come with the next opening.
class THistoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime, kFile, kVersion, kPrinter, kPort, kModel, kResult, kChecked, kColumnCount };
  static constexpr std::size_t kPageRows = 200;

  explicit THistoryModel(HistoryStore& store, std::size_t pageRows = kPageRows,
                         QObject* parent = nullptr);

  // Reads the first page afresh. False when the history could not be read: Error() says why
  // (the store keeps a notice for the person).
  bool Reload();
  const std::string& Error() const { return FError; }
  const HistoryEntry& Entry(int row) const { return FRows.at(static_cast<std::size_t>(row)); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // What the result column says of a download that has no result: still running, or ended with
  // its program (the printer may or may not have taken the file).
  static QString StateText(RecordState state);

 private:
  // The page after the rows read so far, or the error that stopped it.
  HistoryRows NextPage() const;
  QString Text(const DownloadRecord& record, int column) const;

  HistoryStore& FStore;
  std::size_t FPageRows;
  std::vector<HistoryEntry> FRows;
  bool FAtEnd = false;
  std::string FError;
};
