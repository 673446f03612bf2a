#pragma once

#include "download/printthread.h"
#include "download/transferview.h"

#include <QDialog>

#include <cstdint>
#include <memory>

namespace Ui {
class TfrmPrntView;
}

class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;
class TFWLOADApp;

// The progress window that accompanies a download. Created once and shown modally for each
// download: every show starts a transfer thread (the one given to Follow, else one of its own for
// the application model's file and selected printer), and the window closes itself once that
// thread has ended (modal result 1), or after an abort once it has stopped (3). It cannot be
// closed by its frame or by Esc while the transfer runs: the abort button is the one way to stop.
// It is the transfer's view: the thread's label and bar updates and the access library's
// notifications are carried out on the window's thread while the thread waits.
class TfrmPrntView : public QDialog, public ITransferView {
  Q_OBJECT
 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultAbort = 3;

  explicit TfrmPrntView(QWidget* parent = nullptr);
  ~TfrmPrntView() override;

  // The application model whose file a show without Follow sends, and whose LastResult it
  // writes; the program's own (Myapp) unless set.
  void SetApp(TFWLOADApp* app) { FApp = app; }
  // The waits of the transfers started from now on.
  void SetTimings(const TransferTimings& timings) { FTimings = timings; }
  const TransferTimings& Timings() const { return FTimings; }

  QLabel* lblAction() const;
  QPushButton* btnAbort() const;
  QProgressBar* Progress() const;
  // The thread of the current or last show; none before the first.
  TPrintThread* Thread() const { return FThread; }
  // A transfer started by this show has not ended yet.
  bool Running() const { return FThread && !FThreadDone; }
  int Aborted() const { return FAborted; }
  std::uint64_t TotalSize() const { return FTotalSize; }

  // ---- handlers ----
  void FormShow();
  void btnAbortClick();
  void ThreadDone();

  // What the abort button does, without waiting for the end: the thread is asked to stop, the
  // access library learns it from its next answer, and the window closes (modal result 3) once
  // the thread has ended. Nothing when no transfer runs or it was already asked to stop.
  void Abort();
  // Returns once the transfer of this show has ended. The window closes only then, but its modal
  // loop also returns when the application quits: a transfer still running is then stopped as
  // by the abort button and waited for here, so that its result is never read while it runs.
  void Finish();
  // A notification of the access library; answers 1 once the user has asked to abort.
  int UM_DLSTATUS(int notification, std::uint64_t value);

  void reject() override;

  // ---- ITransferView: called on the transfer thread ----
  void SetLabel(int messageId) override;
  void SetProgress(int position) override;
  void SetTotalSize(std::uint64_t bytes) override;
  int Notify(int notification, std::uint64_t value) override;
  // Shows the window modally with `thread` as its transfer; returns once the thread has ended.
  void Follow(TPrintThread& thread) override;

 signals:
  // The state text changed to message `messageId`.
  void StateChanged(int messageId);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs `work` on the window's thread and returns when it is done.
  template <typename Work>
  void OnWindowThread(Work work);
  void ShowState(int messageId);
  // Sets the modal result and closes the window once the events queued so far have run.
  void PostClose(int modalResult);
  void CloseNow();
  // Runs the window's events until the current thread has ended (its ThreadDone has run).
  void WaitForThread();
  // The same where no event loop can run (the application is quitting): carries out only what
  // the thread waits for, a few times a second, until it has ended.
  void WaitWithoutLoop();
  void FreeThread();

  std::unique_ptr<Ui::TfrmPrntView> ui;
  TFWLOADApp* FApp = nullptr;
  TransferTimings FTimings;
  TPrintThread* FThread = nullptr;           // the transfer of the current or last show
  std::unique_ptr<TPrintThread> FOwnThread;  // the thread of a show without Follow
  TPrintThread* FFollowed = nullptr;         // given to Follow, started by the next show
  int FAborted = 0;
  std::uint64_t FTotalSize = 1;
  bool FThreadDone = false;
  int FModalResult = 0;
  QEventLoop* FWaitLoop = nullptr;
};
