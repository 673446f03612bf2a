// fwload-cli history: the downloads so far, newest first.
#include "cli/commands.h"
#include "cli/report.h"
#include "common/history.h"
#include "common/resultmessages.h"

#include <QDateTime>
#include <QJsonArray>

namespace cli {

namespace {

QString TimeText(DownloadRecord::Time t) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms).toOffsetFromUtc(0).toString(Qt::ISODate);
}

QJsonValue Text(const std::optional<std::string>& s) {
  return s ? QJsonValue(QString::fromStdString(*s)) : QJsonValue();
}

QJsonObject RowJson(const HistoryEntry& entry) {
  const DownloadRecord& r = entry.Record;
  const bool done = r.State == RecordState::Done;
  const std::string_view verified = VerifiedName(r.Verify);
  const std::string_view state = StateName(r.State);
  return QJsonObject{
      {"id", static_cast<double>(entry.Id)},
      {"started", TimeText(r.Started)},
      {"ended", r.Ended ? QJsonValue(TimeText(*r.Ended)) : QJsonValue()},
      {"state", QString::fromUtf8(state.data(), state.size())},
      {"file", PathText(r.File)},
      {"description", QString::fromStdString(r.Description)},
      {"version", QString::fromStdString(r.Version)},
      {"target", QString::fromStdString(r.Target)},
      {"port", QString::fromStdString(r.Port)},
      {"model", QString::fromStdString(r.Model)},
      {"code", done ? QJsonValue(r.Code) : QJsonValue()},
      {"message_id", done && r.MessageId ? QJsonValue(r.MessageId) : QJsonValue()},
      {"message",
       done && r.MessageId ? QJsonValue(QString::fromStdString(r.Message)) : QJsonValue()},
      {"bytes", done ? QJsonValue(static_cast<double>(r.Bytes)) : QJsonValue()},
      {"seconds", done ? QJsonValue(r.Seconds) : QJsonValue()},
      {"version_before", Text(r.VersionBefore)},
      {"version_after", Text(r.VersionAfter)},
      {"verified", QString::fromUtf8(verified.data(), verified.size())},
  };
}

}  // namespace

int History(const CommandLine& line, Console& console) {
  HistoryStore store;
  const HistoryRows rows = store.List(line.Limit);
  for (const HistoryNotice& n : store.TakeNotices()) {
    console.Progress("history " + n.File.string() + ": " + n.Detail);
  }
  if (!rows.Ok()) {
    console.Progress("the history could not be read: " + rows.Error);
    if (line.Json)
      console.Out(Document(QJsonObject{{"history", QJsonArray()}}, exitcode::kOtherFailure));
    return exitcode::kOtherFailure;
  }
  if (line.Json) {
    QJsonArray list;
    for (const HistoryEntry& e : rows.Rows) list.append(RowJson(e));
    console.Out(Document(QJsonObject{{"history", list}}, exitcode::kSuccess));
    return exitcode::kSuccess;
  }
  std::string text;
  for (const HistoryEntry& e : rows.Rows) {
    const QJsonObject o = RowJson(e);
    text += o["started"].toString().toStdString() + "\t" + o["state"].toString().toStdString() +
            "\t" + e.Record.Target + "\t" + o["file"].toString().toStdString() + "\t" +
            e.Record.Version + "\t" +
            (o["code"].isNull() ? std::string("-") : std::to_string(e.Record.Code)) + "\t" +
            e.Record.Message + "\n";
  }
  console.Out(text);
  return exitcode::kSuccess;
}

}  // namespace cli
