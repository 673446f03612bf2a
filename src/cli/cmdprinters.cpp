// fwload-cli printers: the print server's queues and whether fwload can update them.
#include "cli/commands.h"
#include "cli/report.h"
#include "common/codes.h"
#include "common/resultmessages.h"
#include "common/strings.h"
#include "platform/paths.h"
#include "printers/catalogue.h"
#include "printers/funcs.h"
#include "printers/modeltable.h"
#include "printers/printerfit.h"

#include <QJsonArray>

namespace cli {

namespace {

constexpr int kMsgSpoolerUnreachable = 4359;

struct Row {
  TPrnInfo Info;
  bool Readable = false;
  bool Updatable = false;
  std::string WhyNot;
};

Row RowOf(const TPrinterSnapshot::Printer& printer, const ModelTable& models) {
  Row row;
  row.Info.Name = printer.Name;
  row.Readable = printer.Opened && printer.Data.has_value();
  if (!row.Readable) {
    row.WhyNot = "the print server gives no data of it";
    return row;
  }
  PrinterCatalogue::CopySpoolerData(*printer.Data, row.Info);
  printerfit::LookupModel(models, row.Info);
  row.Updatable = printerfit::IsUpgradable(row.Info, PortFlagsOf(row.Info.Port)) != 0;
  if (!row.Info.Known) {
    row.WhyNot = "its driver names no model of the model table";
  } else if (!row.Updatable) {
    row.WhyNot = "its model does not take the download command and its port is no parallel port";
  }
  return row;
}

}  // namespace

int Printers(const CommandLine& line, Console& console) {
  ModelTable models;
  models.Load(platform::SettingsFilePath());
  const TPrinterSnapshot snapshot = GatherPrinters();
  if (snapshot.Result != 0) {
    const int id = snapshot.Result == kEnumSpoolerUnreachable
                       ? kMsgSpoolerUnreachable
                       : ResultMessageOf(rc::kOutOfMemory).id;
    const std::string text(strings::Load(id));
    console.Progress("[" + std::to_string(id) + "] " + text);
    if (line.Json) {
      console.Out(Document(
          QJsonObject{{"printers", QJsonArray()},
                      {"error",
                       QJsonObject{{"message_id", id}, {"message", QString::fromStdString(text)}}}},
          exitcode::kOtherFailure));
    }
    return exitcode::kOtherFailure;
  }
  QJsonArray list;
  std::string text;
  for (const auto& printer : snapshot.Printers) {
    const Row row = RowOf(printer, models);
    const auto orNull = [](const std::string& s) {
      return s.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(s));
    };
    list.append(QJsonObject{
        {"name", QString::fromStdString(row.Info.Name)},
        {"driver", orNull(row.Info.Driver)},
        {"port", orNull(row.Info.Port)},
        {"model_code",
         row.Info.Known ? QJsonValue(QString::fromStdString(row.Info.CodeText)) : QJsonValue()},
        {"takes_command", row.Info.Known ? QJsonValue(row.Info.Command != 0) : QJsonValue()},
        {"updatable", row.Updatable},
        {"why_not", orNull(row.WhyNot)},
    });
    text += row.Info.Name + "\t" + row.Info.Driver + "\t" + row.Info.Port + "\t" +
            (row.Info.Known ? row.Info.CodeText : "-") + "\t" +
            (row.Info.Known ? (row.Info.Command ? "command" : "no command") : "-") + "\t" +
            (row.Updatable ? "updatable" : "not updatable: " + row.WhyNot) + "\n";
  }
  if (line.Json) {
    console.Out(Document(QJsonObject{{"printers", list}}, exitcode::kSuccess));
  } else {
    console.Out(text);
  }
  return exitcode::kSuccess;
}

}  // namespace cli
