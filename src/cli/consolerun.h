#pragma once

#include "cli/console.h"
#include "cli/outcome.h"
#include "download/downloadask.h"
#include "download/downloadoptions.h"
#include "download/transferview.h"
#include "printers/dlprinter.h"

#include <atomic>
#include <filesystem>
#include <string>

class TDownDocFile;

// One target's download command on the console: nobody is asked, nothing waits for input.
namespace cli {

// The questions of a download without a person: a confirmation stops the target unless --yes
// answered it beforehand (then the session does not ask at all), the settings-memory question
// stops it unless --memory answered it. What stopped it is kept, and the option that answers it
// is said on the console.
class ConsoleAsk final : public IDownloadAsk {
 public:
  ConsoleAsk(Console& console, std::string target, const std::atomic<bool>& stop)
      : FConsole(console), FTarget(std::move(target)), FStop(stop) {}

  int Confirm(int messageId, const std::string& text, unsigned style, int helpContext) override;
  int AskMemoryInit(const std::string& text, const std::string& checkText, int helpContext,
                    bool& initialise) override;
  void Tell(int messageId, const std::string& text, unsigned style, int helpContext) override;
  bool Stopped() const override { return FStop.load(); }

  // The message that stopped the target, or the last one told (an input check, the result).
  int LastId() const { return FLastId; }
  const std::string& LastText() const { return FLastText; }

 private:
  Console& FConsole;
  std::string FTarget;
  const std::atomic<bool>& FStop;
  int FLastId = 0;
  std::string FLastText;
};

// A transfer on the console: its steps as lines on standard error, started and waited for, aborted
// like the abort button once the run is being stopped.
class ConsoleView final : public ITransferView {
 public:
  ConsoleView(Console& console, std::string target, const std::atomic<bool>& stop)
      : FConsole(console), FTarget(std::move(target)), FStop(stop) {}

  void SetLabel(int messageId) override;
  void SetProgress(int) override {}
  void SetTotalSize(std::uint64_t) override {}
  int Notify(int notification, std::uint64_t value) override;
  void Follow(TPrintThread& thread) override;

  // The spooler's job number; 0 when none was started (an FTP printer).
  int JobId() const { return FJobId; }

 private:
  Console& FConsole;
  std::string FTarget;
  const std::atomic<bool>& FStop;
  int FJobId = 0;
  int FLastNotification = 0;
};

// What one target's session needs besides the target.
struct SendContext {
  const TDownDocFile* Doc = nullptr;
  std::filesystem::path File;
  std::string ShownState;  // the file's description and version, the log key's second half
  const TDLPrinterList* Models = nullptr;
  DownloadOptions Options;  // TempDir is set per target
  Console* Out = nullptr;
  const std::atomic<bool>* Stop = nullptr;
};

// Runs the download to one resolved target in its own temporary folder below `tempRoot` and
// fills the outcome from the session's record.
void RunTarget(const SendContext& context, const DownloadTarget& target,
               const std::filesystem::path& tempRoot, TargetOutcome& outcome);

}  // namespace cli
