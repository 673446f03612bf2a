#pragma once

#include "common/history.h"
#include "printers/funcs.h"
#include "ui/waitcursor.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QRect>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class QMenu;
class QAction;
class QLabel;
class QTreeWidgetItem;
class TFWLOADApp;
class TDownDocFile;
class DownloadSession;
class IDownloadAsk;

namespace Ui {
class TfrmMain;
}

// The main window: the chosen file, the selected printer and the printer list, and every command.
class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(TFWLOADApp& app, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Brings the window to the front (a second start of the program asks for it). The hidden
  // window of an unattended run stays hidden; a box it waits on comes to the front instead.
  void RaiseToFront();

  Ui::TfrmMain* Form() const { return ui.get(); }
  QMenu* PopupMenu1() const { return FPopupMenu1; }
  const QList<QIcon>& Icons() const { return FIcons; }

  // The run's exit code: what the unattended run came to (also why it could not start); an
  // interactive run ends with 0 whatever its downloads did.
  int ExitCode() const { return FExitCode; }

  // A close signal (a logout, Ctrl-C, a script's timeout): boxes that wait for a person end as
  // cancelled, a transfer under way is stopped as by the abort button, and the window closes (also
  // when hidden) once the download command has ended, without its result boxes.
  void CloseOnSignal();
  // A close signal stopped the run: it came during a download command, or before an unattended
  // run had ended.
  bool StoppedBySignal() const { return FStoppedBySignal; }
  // A close signal has come: no box waits for a person any more.
  bool ClosingOnSignal() const { return FClosingOnSignal; }
  // True while a change of the printer list is being gathered from the server or waits to be
  // shown.
  bool RebuildUnderWay() const {
    return FGathering || FRebuildQueued || FRebuildPending || FPendingSnapshot != nullptr;
  }

  // ---- download command flow ----
  int ConfirmDownload(const std::string& printer);
  int ConfirmMemoryInit();
  int ReportDownloadResult();
  static void GetResultMessage(std::uint16_t code, std::string& text, unsigned& style, int& help);
  void WriteDownloadLog();
  int ShowConfirmBox(const std::string& text, unsigned style, int helpContext);
  int ShowMessageBox(const std::string& text, unsigned style, int helpContext);

  // ---- file and printer views ----
  void LoadFirmwareFile(const QString& path);
  void ShowFileState(const TDownDocFile* doc);
  void SetLocalView(int mode);
  void LoadPrinterIcons();
  void ShowSelectedPrinter();
  void UpdateStatusText();

 public slots:
  void ExecDownload();
  void WMAutoRun();
  void FileOpen();
  void OnUpdate();
  void DisplayVersion();
  void MA_HelpClick();
  void WMHelp(int context);
  void MF_ExitClick();
  // The history of downloads, read only.
  void MV_HistoryClick();
  void PM_LocalClick();
  void PM_NetworkClick();
  void PM_FtpClick();
  void btnPrintersClick();
  void edtFileNameChange();
  // Rebuilds the list, as asked for by the person (or on their behalf): the server is asked on a
  // worker thread, under the hourglass, and the rows are filled once its answer is in.
  void lstvwPrintersPaint();
  void lstvwPrintersChange(QTreeWidgetItem* item);
  // A printer was added, deleted or changed: rebuild the list once it is safe to.
  void PrintersChanged();
  // Looks (on a worker thread) whether the server's printers changed since the last look, and
  // shows them if so.
  void WatchPrinters();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void InitControls();
  void FormShow();
  void RestoreBounds();
  void RememberBounds();
  // An unattended run nobody watches: boxes go to standard error instead.
  bool Unattended() const;
  void RunDeferredRebuild();
  // A download command to `printer` as the window shows it: the file, the printer's record and
  // the settings of the application model; `withPorts`: ask the spooler for the printer's ports.
  DownloadSession MakeSession(IDownloadAsk& ask, const std::string& printer, bool withPorts) const;
  // Closes the window and ends the program once the command under way has returned.
  void CloseAndQuit();
  // Asks the server on a worker thread; `rebuild`: show what it says whether changed or not.
  void StartGather(bool rebuild);
  void SnapshotArrived(std::shared_ptr<TPrinterSnapshot> snapshot, bool rebuild);
  void ApplyPendingSnapshot();
  void ShowSnapshot(const TPrinterSnapshot& snapshot);
  // The row the person highlights is the printer that is selected.
  void ListSelectionChanged();
  // No row stays highlighted or current once a printer is chosen outside the list.
  void ForgetListSelection();

  std::unique_ptr<Ui::TfrmMain> ui;
  TFWLOADApp& FApp;
  QMenu* FPopupMenu1 = nullptr;
  QList<QIcon> FIcons;
  QRect FBounds;
  bool FBoundsRestored = false;
  bool FShown = false;
  bool FRebuildPending = false;
  bool FAutoRunning = false;
  int FExitCode = 0;
  bool FInDownload = false;  // the download command runs, from its checks to its result
  bool FAutoRunStarted = false;
  bool FClosingOnSignal = false;
  bool FStoppedBySignal = false;
  int FDownloadCode = 0;  // what the last download command came to, as an exit code
  QLabel* FStatusText = nullptr;
  std::string FPrintersFingerprint;
  bool FPrintersSeen = false;

  std::thread FGather;
  bool FGathering = false;
  bool FRebuildQueued = false;  // a rebuild waits for the gather under way to end
  std::shared_ptr<TPrinterSnapshot> FPendingSnapshot;  // to be shown once no modal window is open
  bool FApplyScheduled = false;
  std::optional<WaitCursor> FRebuildCursor;  // while a rebuild the person asked for is under way
  // The process's one history, which every download command writes, so that its notices are
  // told once.
  std::unique_ptr<HistoryStore> FHistory = std::make_unique<HistoryStore>();
};

// How often the main window looks for changed printers.
inline constexpr int kPrinterWatchMs = 4000;

// The minimum outer size of the main window.
inline constexpr int kMinTrackWidth = 480;
inline constexpr int kMinTrackHeight = 360;
