#include "cli/report.h"

#include "firmware/dwndoc.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace cli {

namespace {

QJsonValue Text(const std::optional<std::string>& text) {
  return text ? QJsonValue(QString::fromStdString(*text)) : QJsonValue(QJsonValue::Null);
}

template <typename T>
QJsonValue Number(const std::optional<T>& value) {
  return value ? QJsonValue(static_cast<double>(*value)) : QJsonValue(QJsonValue::Null);
}

}  // namespace

QString PathText(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

QJsonObject FileJson(const std::filesystem::path& path, const TDownDocFile* doc) {
  const bool opened = doc && doc->FError == 0;
  const bool recognised = opened && doc->FFormatValid == 1;
  const auto header = [&](const std::string& value) {
    return recognised ? QJsonValue(QString::fromStdString(value)) : QJsonValue(QJsonValue::Null);
  };
  QJsonArray models;
  if (recognised) {
    for (const auto& m : doc->FDownLoadPrinter) models.append(QString::fromStdString(m));
  }
  return QJsonObject{
      {"path", PathText(path)},
      {"recognised", opened ? QJsonValue(recognised) : QJsonValue(QJsonValue::Null)},
      {"description", header(doc ? doc->FDownLoadDesc : std::string())},
      {"version", header(doc ? doc->FDownLoadVersion : std::string())},
      {"models", recognised ? QJsonValue(models) : QJsonValue(QJsonValue::Null)},
      {"data_bytes",
       opened ? QJsonValue(static_cast<double>(doc->FDataSize)) : QJsonValue(QJsonValue::Null)},
      {"begin_message", header(doc ? doc->FBeginMessage : std::string())},
      {"done_message", header(doc ? doc->FDoneMessage : std::string())},
  };
}

QJsonObject ResultJson(const TargetOutcome& o) {
  return QJsonObject{
      {"target", QString::fromStdString(o.Target)},
      {"kind", o.Ftp ? "ftp" : "queue"},
      {"port", o.Port.empty() ? QJsonValue(QJsonValue::Null) : QString::fromStdString(o.Port)},
      {"model", o.Model.empty() ? QJsonValue(QJsonValue::Null) : QString::fromStdString(o.Model)},
      {"model_code", Text(o.ModelCode)},
      {"takes_command", o.TakesCommand ? QJsonValue(*o.TakesCommand) : QJsonValue()},
      {"code", o.Code},
      {"message_id", Number(o.MessageId)},
      {"message", Text(o.Message)},
      {"stopped_by", Number(o.StoppedBy)},
      {"job_id", Number(o.JobId)},
      {"bytes", Number(o.Bytes)},
      {"seconds", Number(o.Seconds)},
      {"version_before", Text(o.VersionBefore)},
      {"version_after", Text(o.VersionAfter)},
      {"verified", o.Verify ? QJsonValue(QString::fromUtf8(VerifiedName(*o.Verify).data(),
                                                           VerifiedName(*o.Verify).size()))
                            : QJsonValue()},
  };
}

std::string Document(const QJsonObject& body, int exitCode) {
  QJsonObject whole{{"schema", kSchema}};
  for (auto it = body.begin(); it != body.end(); ++it) whole.insert(it.key(), it.value());
  whole.insert("exit", exitCode);
  return QJsonDocument(whole).toJson(QJsonDocument::Indented).toStdString();
}

std::string ResultLine(const TargetOutcome& o) {
  std::string line = o.Target + "\t" + std::to_string(o.Code);
  if (o.MessageId) line += "\t[" + std::to_string(*o.MessageId) + "]";
  if (o.Message) {
    std::string message = *o.Message;
    for (char& c : message) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    line += " " + message;
  }
  if (o.StoppedBy) line += " (stopped by " + std::to_string(*o.StoppedBy) + ")";
  if (o.Bytes) line += "\t" + std::to_string(*o.Bytes) + " bytes";
  return line + "\n";
}

}  // namespace cli
