#pragma once

#include "download/downloadoptions.h"
#include "download/downloadsession.h"
#include "download/transfer_support.h"
#include "firmware/dwndoc.h"
#include "support/fakespooler.h"
#include "support/tempenv.h"

namespace transfertest {

// Whole downloads of a file meant for it to the fake spooler's printer "px" (a model that takes
// the download command, reporting "V1.00"; every job completed), as an unattended run makes
// them: no boxes, the settings-memory question answered beforehand.
struct FakeDownloads {
  explicit FakeDownloads(const std::filesystem::path& folder) : Folder(folder) {
    platform::SpoolPrinterData px;
    px.Name = Target.Name = "px";
    Spooler.Add(px);
    Spooler.Script.JobAnswer = [](int, platform::SpoolJobData& job) {
      job.Status = platform::kJobStatusPrinted, job.State = 9;
      return platform::SpoolStatus::Ok;
    };
    Models.Add({kCommandModel, "3000", 3000, 1});
    Doc->FDownLoadPrinter = {kCommandModel};
    Doc->FDownLoadDesc = "M3 制御ソフトウェア";
    Doc->FDownLoadVersion = "V2.10";
    Target.Info.Driver = kCommandModel;
    Target.Info.Port = "socket://192.0.2.9:9100";
    Target.Info.Version = "V1.00";
    Options.ShowMessage = false;
    Options.InitMemoryPreset = true;
    Options.Timings = ShortTimings();
    Options.TempDir = Folder;
    Options.LogFile = Folder / "DownLoad.log";
  }
  // A firmware file `name` in the folder (only its existence is checked).
  std::filesystem::path File(const std::string& name) const {
    testsupport::WriteFile(Folder / name, "firmware");
    return Folder / name;
  }
  DownloadRecord Run(const std::filesystem::path& file, HistoryStore* history, IDownloadAsk& ask) {
    DownloadOptions options = Options;
    options.History = history;
    RecordingView view;
    return DownloadSession(Doc.get(), file, "state", Target, Models, options, ask).Run(view);
  }

  std::filesystem::path Folder;
  testsupport::FakeSpooler Spooler;
  TDLPrinterList Models;
  std::unique_ptr<TDownDocFile> Doc = MakeDoc(TestData(2000), 1, 1);
  DownloadTarget Target;
  DownloadOptions Options;
};

}  // namespace transfertest
