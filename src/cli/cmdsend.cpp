// fwload-cli send FILE TARGET...: every target resolved first, then up to --parallel sessions at
// once, each with its own temporary folder and result; a close signal aborts them all.
#include "cli/commands.h"
#include "cli/consolerun.h"
#include "cli/report.h"
#include "cli/targets.h"
#include "common/downloadlog.h"
#include "common/history.h"
#include "common/resultmessages.h"
#include "firmware/dwndoc.h"
#include "platform/closesignals.h"
#include "platform/paths.h"
#include "printers/modeltable.h"

#include <QJsonArray>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <memory>

namespace cli {

namespace {

DownloadOptions OptionsOf(const CommandLine& line) {
  DownloadOptions options;
  // --yes: every confirmation counts as OK and is not asked, as with the window's /NM.
  options.ShowMessage = !line.Yes;
  options.EnableCommand = !line.NoCommand;
  if (line.InitMemory) {
    options.InitMemoryPreset = true;
    options.InitMemory = *line.InitMemory ? 1 : 0;
  }
  options.Timings = TransferTimings::Fast();
  options.LogFile = downloadlog::DefaultFile();
  options.LogKeepsEveryEntry = true;
  options.Verify = line.Verify;
  return options;
}

// The exit code of the run: 0 when every target succeeded, else the first failure in argument
// order.
int ExitOf(const std::vector<TargetOutcome>& outcomes) {
  for (const TargetOutcome& o : outcomes) {
    if (o.Code != exitcode::kSuccess) return o.Code;
  }
  return exitcode::kSuccess;
}

int Report(const CommandLine& line, Console& console, const std::filesystem::path& file,
           const TDownDocFile* doc, const std::vector<TargetOutcome>& outcomes, int exitCode) {
  if (line.Json) {
    QJsonArray results;
    for (const TargetOutcome& o : outcomes) results.append(ResultJson(o));
    console.Out(
        Document(QJsonObject{{"file", FileJson(file, doc)}, {"results", results}}, exitCode));
  } else {
    for (const TargetOutcome& o : outcomes) console.Out(ResultLine(o));
  }
  return exitCode;
}

// The file's description and version as the window shows them: the second half of the log key.
std::string ShownState(const TDownDocFile& doc) {
  return doc.FDownLoadDesc + " " + doc.FDownLoadVersion;
}

}  // namespace

int Send(const CommandLine& line, Console& console) {
  for (const std::string& t : line.Targets) {
    if (const auto why = MalformedTarget(t)) {
      console.Progress(*why);
      return exitcode::kStartFailed;
    }
  }
  std::atomic<bool> stop{false};
  platform::OnCloseSignal([&stop] { stop.store(true); });

  const std::filesystem::path file = line.File;
  const auto doc = std::make_unique<TDownDocFile>(line.File);
  ModelTable models;
  const std::filesystem::path settings = platform::SettingsFilePath();
  // As in the window: the rows a file brings count for it.
  if (doc->FError == 0 && !doc->FPrinters.empty()) ModelTable::StoreFileModels(*doc, settings);
  models.Load(settings);

  std::vector<ResolvedTarget> targets = ResolveTargets(line.Targets, models, line.Model, console);
  std::vector<TargetOutcome> outcomes;
  for (const ResolvedTarget& t : targets) outcomes.push_back(t.Outcome);

  if (doc->FError != 0) {
    // No target is touched: each is listed as not started, with the file's message.
    const ResultMessage m = ResultMessageOf(doc->FError);
    std::string text = m.Text();
    if (!doc->FErrorFile.empty()) text += "\n" + doc->FErrorFile;
    console.Progress(line.File + ": [" + std::to_string(m.id) + "] " + text);
    for (TargetOutcome& o : outcomes) {
      o.Code = exitcode::kFileUnusable;
      o.MessageId = m.id;
      o.Message = text;
    }
    platform::OnCloseSignal({});
    return Report(line, console, file, doc.get(), outcomes, exitcode::kFileUnusable);
  }

  // One history for every target of the run: its notices are told once.
  HistoryStore history;
  SendContext context;
  context.Doc = doc.get();
  context.File = file;
  context.ShownState = ShownState(*doc);
  context.Models = &models;
  context.Options = OptionsOf(line);
  context.Options.History = &history;
  context.Out = &console;
  context.Stop = &stop;
  const std::filesystem::path tempRoot = platform::TempDir();

  std::atomic<std::size_t> next{0};
  const auto worker = [&] {
    for (std::size_t i = next++; i < targets.size(); i = next++) {
      if (targets[i].Refused) continue;
      // Without the program's temporary folder the session fails to make its file (18).
      const std::filesystem::path temp =
          tempRoot.empty() ? tempRoot : tempRoot / ("target" + std::to_string(i));
      RunTarget(context, targets[i].Target, temp, outcomes[i]);
    }
  };
  const std::size_t workers =
      std::min<std::size_t>(static_cast<std::size_t>(line.Parallel), targets.size());
  // Threads of the toolkit: the transfer threads they start are then none of a foreign thread,
  // whose bookkeeping the toolkit would keep until the process ends.
  std::vector<std::unique_ptr<QThread>> threads;
  for (std::size_t w = 0; w < workers; ++w) {
    threads.emplace_back(QThread::create(worker));
    threads.back()->start();
  }
  for (auto& t : threads) t->wait();
  platform::OnCloseSignal({});

  const int exitCode = stop.load() ? exitcode::kAborted : ExitOf(outcomes);
  return Report(line, console, file, doc.get(), outcomes, exitCode);
}

}  // namespace cli
