#include "ui/historymodel.h"

#include "ui/uilook.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFile>

#include <chrono>
#include <utility>

namespace {

QString TimeText(DownloadRecord::Time time) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

// A file name that is not UTF-8 (one from a code page 932 archive) shows with replacement
// characters, as in the main window.
QString PathText(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

QString CheckedText(const DownloadRecord& r) {
  if (r.VersionAfter) return uilook::Qs(*r.VersionAfter);
  return r.Verify == Verified::Unknown ? QStringLiteral("(応答なし)") : QString();
}

}  // namespace

THistoryModel::THistoryModel(HistoryStore& store, std::size_t pageRows, QObject* parent)
    : QAbstractTableModel(parent), FStore(store), FPageRows(pageRows > 0 ? pageRows : 1) {}

bool THistoryModel::Reload() {
  beginResetModel();
  FRows.clear();
  FAtEnd = false;
  HistoryRows page = NextPage();
  FError = page.Error;
  FAtEnd = !page.Ok() || page.Rows.size() < FPageRows;
  FRows = std::move(page.Rows);
  endResetModel();
  return FError.empty();
}

HistoryRows THistoryModel::NextPage() const {
  return FStore.List(HistoryPage{FPageRows, FRows.empty() ? 0 : FRows.back().Id});
}

bool THistoryModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !FAtEnd;
}

void THistoryModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  HistoryRows page = NextPage();
  if (!page.Ok()) {
    FError = page.Error;
    FAtEnd = true;
    return;
  }
  FAtEnd = page.Rows.size() < FPageRows;
  if (page.Rows.empty()) return;
  const int first = rowCount();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(page.Rows.size()) - 1);
  FRows.insert(FRows.end(), std::make_move_iterator(page.Rows.begin()),
               std::make_move_iterator(page.Rows.end()));
  endInsertRows();
}

int THistoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int THistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QString THistoryModel::StateText(RecordState state) {
  switch (state) {
    case RecordState::Pending:
      return QStringLiteral("実行中");
    case RecordState::Interrupted:
      return QStringLiteral("中断（結果不明）");
    case RecordState::Done:
      break;
  }
  return QString();
}

QString THistoryModel::Text(const DownloadRecord& r, int column) const {
  switch (column) {
    case kTime:
      return TimeText(r.Started);
    case kFile:
      return PathText(r.File.filename());
    case kVersion:
      return uilook::Qs(r.Version);
    case kPrinter:
      return uilook::Qs(r.Target);
    case kPort:
      return uilook::Qs(r.Port);
    case kModel:
      return uilook::Qs(r.Model);
    case kResult:
      return r.State == RecordState::Done ? uilook::Qs(r.Message) : StateText(r.State);
    case kChecked:
      return CheckedText(r);
  }
  return QString();
}

QVariant THistoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const DownloadRecord& r = Entry(index.row()).Record;
  switch (role) {
    case Qt::DisplayRole:
      return Text(r, index.column());
    case Qt::ToolTipRole:
      if (index.column() == kFile) return PathText(r.File);
      if (index.column() == kVersion && r.VersionBefore) {
        return QStringLiteral("ダウンロード前のバージョン: ") + uilook::Qs(*r.VersionBefore);
      }
      return Text(r, index.column());
    case Qt::ForegroundRole:
      // What did not end well stands out: a failure, or a download without a result.
      if (index.column() == kResult &&
          (r.State == RecordState::Interrupted || (r.State == RecordState::Done && r.Code != 0))) {
        return QBrush(QColor(0xB0, 0x00, 0x00));
      }
      return {};
    default:
      return {};
  }
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeaders[kColumnCount] = {
      "日時",   "ファイル", "バージョン", "プリンタ",
      "ポート", "モデル",   "結果",       "確認したバージョン"};
  return section >= 0 && section < kColumnCount ? QString::fromUtf8(kHeaders[section]) : QVariant();
}
