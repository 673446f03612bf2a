#include "ui/frmprntview.h"

#include "ui_frmprntview.h"

#include "access/fwloadaccess.h"
#include "common/strings.h"
#include "download/appjob.h"
#include "printers/myapp.h"
#include "ui/uilook.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>

namespace {

constexpr int kMsgAbortButton = 4128;
constexpr int kMsgInitialising = 4129;
constexpr int kMsgDownloading = 4131;
constexpr int kMsgConnecting = 4132;
constexpr int kMsgAborted = 4138;
constexpr int kMsgFinished = 4139;

constexpr int kDesignWidth = 301;
constexpr int kDesignHeight = 151;

QString Text(int id) { return uilook::Qs(strings::Load(id)); }

}  // namespace

TfrmPrntView::TfrmPrntView(QWidget* parent) : QDialog(parent), ui(new Ui::TfrmPrntView) {
  ui->setupUi(this);
  // A dialog frame with a close box; closing by it is refused while a transfer runs.
  setWindowFlags(uilook::kDialogFrame);
  setWindowTitle(uilook::AppTitle());
  setFont(uilook::UiFont(12));
  ui->Progress->setRange(0, 100);
  connect(ui->btnAbort, &QPushButton::clicked, this, &TfrmPrntView::btnAbortClick);

  // A fixed dialog frame of the design size, grown only where the texts need more room.
  ui->lblAction->setText(Text(kMsgAborted));
  ui->btnAbort->setText(Text(kMsgAbortButton));
  uilook::FixDesignSize(*this, kDesignWidth, kDesignHeight);
}

TfrmPrntView::~TfrmPrntView() {
  // Only a window destroyed in the middle of a transfer meets a running thread: it is stopped
  // as by the abort button, with the window still answering the thread meanwhile.
  Finish();
  FreeThread();
}

QLabel* TfrmPrntView::lblAction() const { return ui->lblAction; }
QPushButton* TfrmPrntView::btnAbort() const { return ui->btnAbort; }
QProgressBar* TfrmPrntView::Progress() const { return ui->Progress; }

void TfrmPrntView::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Restoring a minimised window is no new show.
  if (!event->spontaneous()) FormShow();
}

void TfrmPrntView::FormShow() {
  ui->btnAbort->setText(Text(kMsgAbortButton));
  ui->btnAbort->setEnabled(true);
  FAborted = 0;
  ui->Progress->setValue(0);
  FTotalSize = 1;
  ShowState(kMsgInitialising);
  FreeThread();
  FThreadDone = false;
  FModalResult = 0;

  if (FFollowed) {
    FThread = FFollowed;
    FFollowed = nullptr;
  } else {
    TFWLOADApp* app = FApp ? FApp : Myapp;
    if (!app) {
      // Without an application model there is nothing to send.
      FThreadDone = true;
      PostClose(kResultOk);
      return;
    }
    FOwnThread = std::make_unique<TPrintThread>(TransferJobOf(*app), this, FTimings);
    FThread = FOwnThread.get();
  }
  TPrintThread* thread = FThread;
  connect(thread, &QThread::finished, this, [this, thread]() {
    if (FThread == thread) ThreadDone();
  });
  thread->start();
}

void TfrmPrntView::Follow(TPrintThread& thread) {
  FFollowed = &thread;
  exec();
  // The window closes only after its thread has ended, unless the application quit meanwhile.
  Finish();
  FFollowed = nullptr;
  // The thread is the caller's: the window forgets it once it has ended.
  if (FThread == &thread) {
    FThread->wait();
    FThread = nullptr;
  }
}

void TfrmPrntView::btnAbortClick() {
  // One abort per show, and none once the thread has ended.
  if (!Running() || FAborted) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  Abort();
  WaitForThread();
  PostClose(kResultAbort);
  QApplication::restoreOverrideCursor();
}

void TfrmPrntView::Abort() {
  if (!Running() || FAborted) return;
  FThread->requestInterruption();
  ShowState(kMsgAborted);
  FAborted = 1;
}

void TfrmPrntView::Finish() {
  if (!Running()) return;
  Abort();
  WaitForThread();
}

void TfrmPrntView::ThreadDone() {
  FThreadDone = true;
  // A show of its own reports as the transfer once did: in the application model.
  if (FThread == FOwnThread.get()) {
    TFWLOADApp* app = FApp ? FApp : Myapp;
    if (app) app->LastResult = FThread->Result();
  }
  ShowState(kMsgFinished);
  ui->btnAbort->setEnabled(false);
  PostClose(FAborted ? kResultAbort : kResultOk);
  if (FWaitLoop) FWaitLoop->quit();
}

int TfrmPrntView::UM_DLSTATUS(int notification, std::uint64_t value) {
  switch (notification) {
    case FWL_NOTIFY_CONNECTING:
      ShowState(kMsgConnecting);
      break;
    case FWL_NOTIFY_DOWNLOADING:
      ShowState(kMsgDownloading);
      break;
    case FWL_NOTIFY_PROGRESS: {
      // Wide enough for any byte count times 100.
      const auto percent = static_cast<unsigned __int128>(value) * 100 / FTotalSize;
      const int position = static_cast<int>(std::min<unsigned __int128>(percent, 100));
      if (ui->Progress->value() != position) ui->Progress->setValue(position);
      break;
    }
    default:
      break;
  }
  return FAborted == 1 ? 1 : 0;
}

void TfrmPrntView::reject() {
  // Esc, like the close box, does not end a running transfer.
  if (Running()) return;
  if (FThread) {
    done(FModalResult);
    return;
  }
  QDialog::reject();
}

void TfrmPrntView::closeEvent(QCloseEvent* event) {
  if (Running()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TfrmPrntView::SetLabel(int messageId) {
  OnWindowThread([this, messageId]() { ShowState(messageId); });
}

void TfrmPrntView::SetProgress(int position) {
  OnWindowThread([this, position]() { ui->Progress->setValue(position); });
}

void TfrmPrntView::SetTotalSize(std::uint64_t bytes) {
  OnWindowThread([this, bytes]() { FTotalSize = bytes > 0 ? bytes : 1; });
}

int TfrmPrntView::Notify(int notification, std::uint64_t value) {
  int answer = 0;
  OnWindowThread([&]() { answer = UM_DLSTATUS(notification, value); });
  return answer;
}

template <typename Work>
void TfrmPrntView::OnWindowThread(Work work) {
  if (QThread::currentThread() == thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(this, std::move(work), Qt::BlockingQueuedConnection);
}

void TfrmPrntView::ShowState(int messageId) {
  ui->lblAction->setText(Text(messageId));
  emit StateChanged(messageId);
}

void TfrmPrntView::PostClose(int modalResult) {
  FModalResult = modalResult;
  QMetaObject::invokeMethod(this, &TfrmPrntView::CloseNow, Qt::QueuedConnection);
}

void TfrmPrntView::CloseNow() {
  if (Running() || !isVisible()) return;
  done(FModalResult);
}

void TfrmPrntView::WaitForThread() {
  // Never a blocking wait: the thread may be waiting for an update that this thread carries out.
  QEventLoop loop;
  FWaitLoop = &loop;
  while (Running()) {
    loop.exec();
    // Only a quitting application ends the loop before the thread has ended; every loop started
    // from then on would return at once.
    if (Running()) WaitWithoutLoop();
  }
  FWaitLoop = nullptr;
}

void TfrmPrntView::WaitWithoutLoop() {
  while (Running()) {
    // The thread's updates, and the news of its end, are calls queued for this window.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (Running()) FThread->wait(QDeadlineTimer(20));
  }
}

void TfrmPrntView::FreeThread() {
  if (!FThread) return;
  if (Running()) WaitForThread();
  // Its finished signal has been handled: the thread has left its work and ends at once.
  FThread->wait();
  FThread = nullptr;
  FOwnThread.reset();
}
