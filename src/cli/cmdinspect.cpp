// fwload-cli inspect FILE: what the file holds and what a printer would receive. Nothing is
// written: not even the model rows the file brings.
#include "cli/commands.h"
#include "cli/report.h"
#include "common/resultmessages.h"
#include "download/printthread.h"
#include "firmware/dwndoc.h"

#include <QJsonArray>

#include <memory>

namespace cli {

namespace {

constexpr std::uint64_t kCommandBytes = 65;  // the prefix and the size record
constexpr std::uint64_t kTrailerBytes = 7;

// The stream a printer receives, as the simulator names its shapes, and its length.
QJsonObject StreamJson(const TDownDocFile& doc, bool commandModel) {
  const bool command = commandModel && doc.FEnableCommand != 0;
  const bool trailer = commandModel && doc.FReboot != 0;
  const std::uint64_t data = doc.FDataSize;
  const bool tooLarge = command && data >= TPrintThread::kMaxCommandDataSize;
  const char* shape =
      command ? (trailer ? "wrapped+trailer" : "wrapped") : (trailer ? "data+trailer" : "plain");
  const std::uint64_t bytes = data + (command ? kCommandBytes : 0) + (trailer ? kTrailerBytes : 0);
  return QJsonObject{{"shape", shape},
                     {"bytes", tooLarge ? QJsonValue() : QJsonValue(static_cast<double>(bytes))},
                     {"too_large", tooLarge}};
}

QJsonArray DataFiles(const TDownDocFile& doc) {
  QJsonArray files;
  std::string list = doc.FDownLoadFile;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) files.append(QString::fromStdString(list.substr(start, comma - start)));
    start = comma + 1;
  }
  return files;
}

}  // namespace

int Inspect(const CommandLine& line, Console& console) {
  const auto doc = std::make_unique<TDownDocFile>(line.File);
  const bool opened = doc->FError == 0;
  int exitCode = exitcode::kSuccess;
  QJsonObject body{{"file", FileJson(line.File, doc.get())}};
  if (!opened) {
    const ResultMessage m = ResultMessageOf(doc->FError);
    std::string text = m.Text();
    if (!doc->FErrorFile.empty()) text += "\n" + doc->FErrorFile;
    console.Progress(line.File + ": [" + std::to_string(m.id) + "] " + text);
    body.insert("error", QJsonObject{{"code", doc->FError},
                                     {"message_id", m.id},
                                     {"message", QString::fromStdString(text)}});
    exitCode = exitcode::kFileUnusable;
  } else {
    body.insert("data_files", DataFiles(*doc));
    body.insert("stream", QJsonObject{{"command_model", StreamJson(*doc, true)},
                                      {"other_model", StreamJson(*doc, false)}});
  }
  if (line.Json) {
    console.Out(Document(body, exitCode));
    return exitCode;
  }
  std::string text = "file\t" + PathText(line.File).toStdString() + "\n";
  if (opened) {
    const bool recognised = doc->FFormatValid == 1;
    text += std::string("recognised\t") + (recognised ? "yes" : "no") + "\n";
    if (recognised) {
      text += "description\t" + doc->FDownLoadDesc + "\nversion\t" + doc->FDownLoadVersion + "\n";
      std::string models;
      for (const auto& m : doc->FDownLoadPrinter) models += (models.empty() ? "" : ", ") + m;
      text += "models\t" + models + "\n";
      text += "data files\t" + doc->FDownLoadFile + "\n";
    }
    text += "data bytes\t" + std::to_string(doc->FDataSize) + "\n";
    const QJsonObject command = StreamJson(*doc, true);
    const QJsonObject other = StreamJson(*doc, false);
    text += "stream (model with the command)\t" + command["shape"].toString().toStdString() + ", " +
            std::to_string(command["bytes"].toInteger()) + " bytes\n";
    text += "stream (other models)\t" + other["shape"].toString().toStdString() + ", " +
            std::to_string(other["bytes"].toInteger()) + " bytes\n";
  }
  console.Out(text);
  return exitCode;
}

}  // namespace cli
