// A close signal during an interactive download, in the program's own windows with the handler
// the program installs, the signal raised in this process: the transfer stops as by the abort
// button, no result box waits for a person, nothing is logged, the window closes only after the
// transfer has ended, and the program's exit code is 40.
#include "app/application.h"
#include "app/forms.h"
#include "app/strings.h"
#include "download/accesslib.h"
#include "download/frmprntview.h"
#include "download/transfer_support.h"
#include "printers/myapp.h"
#include "support/recordingboxes.h"
#include "support/privateserver.h"
#include "support/simulator.h"
#include "support/tempenv.h"
#include "ui/dlgmsgbox.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::Simulator;
using transfertest::TestQueue;

constexpr int kInitialising = 4129;
constexpr int kAbortedText = 4138;
constexpr char kModel[] = "TORVA VELOXIA M3";

// A run that never ends (a wait that spins, a box nobody answers) ends the test program instead
// of holding it for ever.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock lock(lock_);
          if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "the download did not end within %lld s\n",
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard guard(lock_);
      done_ = true;
    }
    ended_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;
};

// The processor time this thread has used.
std::int64_t ThreadCpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

class InteractiveSignal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }
  void TearDown() override {
    CloseMainWindowOnSignals(nullptr);
    frmPrntView = nullptr;
    DlgMsgBox = nullptr;
    frmMain = nullptr;
    view_.reset();
    dialog_.reset();
    window_.reset();
    app_.reset();
    EXPECT_TRUE(transfertest::WaitUntilNoTransferThread());
    EXPECT_EQ(transfertest::LeftoverDownloadFiles(env_.TmpDir()), std::vector<std::string>{});
  }

  std::unique_ptr<Simulator> StartSimulator(const std::vector<std::string>& args = {}) {
    return std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                       env_.Root() / "printer", args);
  }
  // The program's windows, as an interactive start with a firmware file of `dataBytes` and the
  // printer switches `printer` makes them, with the program's close-signal handler.
  void Open(const std::vector<std::string>& printer, std::size_t dataBytes) {
    const auto file = env_.Root() / "fw.FWB";
    testsupport::WriteFile(file,
                           "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Test firmware\r\n"
                           "DownLoadVersion=V1.00\r\nDownLoadPrinter=\"M3\"\r\n\x1a" +
                               transfertest::TestData(dataBytes, 12));
    std::vector<std::string> args = {file.string(), "/IM=1"};
    args.insert(args.end(), printer.begin(), printer.end());
    app_ = std::make_unique<TFWLOADApp>(args, env_.SettingsFile());
    window_ = std::make_unique<TfrmMain>(*app_);
    view_ = std::make_unique<TfrmPrntView>(window_.get());
    view_->SetApp(app_.get());
    view_->SetTimings(transfertest::ShortTimings());
    dialog_ = std::make_unique<TDlgMsgBox>(window_.get());
    frmMain = window_.get();
    frmPrntView = view_.get();
    DlgMsgBox = dialog_.get();
    CloseMainWindowOnSignals(window_.get());
    QObject::connect(view_.get(), &TfrmPrntView::StateChanged, view_.get(), [this](int id) {
      if (OnState) OnState(id);
    });
  }
  // Shows the window, starts the download as its command does and runs the program's event loop
  // until it ends; the program's exit code.
  int Run() {
    const Watchdog watchdog(60s);
    window_->show();
    QMetaObject::invokeMethod(window_.get(), &TfrmMain::ExecDownload, Qt::QueuedConnection);
    const int loopCode = QApplication::exec();
    ended_ = Clock::now();
    return ProgramExitCode(loopCode, *window_);
  }
  void Signal(int signal = SIGTERM) {
    signalled_ = Clock::now();
    ::kill(::getpid(), signal);
  }
  // Runs `action` on the window's thread after `delay`.
  void After(std::chrono::milliseconds delay, std::function<void()> action) {
    QTimer::singleShot(delay, view_.get(), std::move(action));
  }
  // Calls `action` once `ready` holds, looking every millisecond.
  void When(std::function<bool()> ready, std::function<void()> action) {
    auto* timer = new QTimer(view_.get());
    QObject::connect(timer, &QTimer::timeout, timer, [timer, ready, action] {
      if (!ready()) return;
      timer->stop();
      action();
    });
    timer->start(1);
  }
  void ExpectStoppedAndClosed(int exitCode) {
    EXPECT_EQ(exitCode, 40);
    EXPECT_LT(ended_ - signalled_, 10s);
    EXPECT_EQ(app_->LastResult, 4096);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(view_->Running());
    // No result box, which would wait for a person.
    for (const auto& box : boxes_.shown) EXPECT_NE(box.text, std::string(strings::Load(4117)));
    EXPECT_FALSE(std::filesystem::exists(env_.DataHome() / "fwload" / "DownLoad.log"));
  }

  testsupport::TempEnv env_;
  testsupport::RecordingBoxes boxes_;
  std::unique_ptr<TFWLOADApp> app_;
  std::unique_ptr<TfrmMain> window_;
  std::unique_ptr<TfrmPrntView> view_;
  std::unique_ptr<TDlgMsgBox> dialog_;
  std::function<void(int)> OnState;
  Clock::time_point signalled_;
  Clock::time_point ended_;
};

TEST_F(InteractiveSignal, WhileTheDownloadFileIsBuilt) {
  auto sim = StartSimulator();
  TestQueue queue("isig-build", TestQueue::SocketUri(sim->RawPort()), kModel);
  Open({"/PR=" + queue.Name()}, 32u << 20);
  // Shown before the thread starts: the signal is on its way while the file is built.
  OnState = [&](int id) {
    if (id == kInitialising) Signal();
  };
  ExpectStoppedAndClosed(Run());
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
  EXPECT_EQ(sim->Records().size(), 0u);
}

TEST_F(InteractiveSignal, WhileTheServerHoldsBackAWrite) {
  testsupport::PrivateServer server(testsupport::PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("isig-spool", TestQueue::SocketUri(sim->RawPort()), kModel);
  Open({"/PR=isig-spool"}, 32u << 20);
  When([&] { return server.ReceivingDocument(); },
       [&] {
         server.Pause();
         After(300ms, [&] { Signal(); });
         After(1000ms, [&] { server.Resume(); });
       });
  ExpectStoppedAndClosed(Run());
  EXPECT_EQ(transfertest::WaitForEndState("isig-spool", transfertest::NewestJob("isig-spool")), 7);
}

TEST_F(InteractiveSignal, WhileTheJobIsFollowed) {
  TestQueue queue("isig-follow", TestQueue::SocketUri(testsupport::UnusedPort()), kModel);
  Open({"/PR=" + queue.Name()}, 4000);
  OnState = [&](int id) {
    if (id == transfertest::kDownloading) Signal(SIGINT);
  };
  ExpectStoppedAndClosed(Run());
  EXPECT_EQ(transfertest::WaitForEndState(queue.Name(), view_->Thread()->JobId()), 7);
}

TEST_F(InteractiveSignal, DuringAnFtpUpload) {
  auto sim = StartSimulator({"--ftp-fault", "stall:65536"});
  Open({"/HN=" + sim->FtpHost(), "/M=PX-E3000"}, 4u << 20);
  When([&] { return !testsupport::ListTree(sim->FtpDir()).empty(); }, [&] { Signal(SIGHUP); });
  ExpectStoppedAndClosed(Run());
  const auto records = sim->WaitForRecords(1, 5s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].Deleted);
}

TEST_F(InteractiveSignal, WhileTheAbortButtonWaitsForTheCancel) {
  // The abort has been pressed; the cancel waits for a server that does not answer yet.
  testsupport::PrivateServer server(testsupport::PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("isig-wait", TestQueue::SocketUri(sim->RawPort()), kModel);
  Open({"/PR=isig-wait"}, 32u << 20);
  When([&] { return server.ReceivingDocument(); },
       [&] {
         server.Pause();
         After(300ms, [&] { view_->btnAbort()->click(); });
       });
  OnState = [&](int id) {
    if (id != kAbortedText) return;
    Signal();
    After(1000ms, [&] { server.Resume(); });
  };
  ExpectStoppedAndClosed(Run());
  EXPECT_EQ(view_->Aborted(), 1);
  EXPECT_EQ(transfertest::WaitForEndState("isig-wait", transfertest::NewestJob("isig-wait")), 7);
}

TEST_F(InteractiveSignal, AnApplicationThatQuitsWhileTheAbortWaitsStillWaitsWithoutSpinning) {
  testsupport::PrivateServer server(testsupport::PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("isig-quit", TestQueue::SocketUri(sim->RawPort()), kModel);
  Open({"/PR=isig-quit"}, 32u << 20);
  When([&] { return server.ReceivingDocument(); },
       [&] {
         server.Pause();
         After(300ms, [&] { view_->btnAbort()->click(); });
       });
  // Every event loop ends while the cancel waits for the silent server (its 3 s): no loop can run
  // from then on.
  std::int64_t cpuAtQuit = 0;
  OnState = [&](int id) {
    if (id != kAbortedText) return;
    After(200ms, [&] {
      cpuAtQuit = ThreadCpuMs();
      QCoreApplication::exit(0);
    });
  };
  Run();
  EXPECT_LT(ThreadCpuMs() - cpuAtQuit, 1000);
  EXPECT_FALSE(view_->Running());
  EXPECT_EQ(app_->LastResult, 4096);
}

TEST_F(InteractiveSignal, ASignalWhileAResultBoxIsReadShowsNoFurtherBox) {
  auto sim = StartSimulator();
  TestQueue queue("isig-result", TestQueue::SocketUri(sim->RawPort()), kModel);
  Open({"/PR=" + queue.Name()}, 4000);
  const std::string finished(strings::Load(4113));
  boxes_.OnShow = [&](const testsupport::RecordingBoxes::Box& box) {
    if (box.text != finished) return;
    Signal();
    while (!window_->StoppedBySignal()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  };
  EXPECT_EQ(Run(), 40);
  ASSERT_FALSE(boxes_.shown.empty());
  EXPECT_EQ(boxes_.shown.back().text, finished);
  // The download itself had ended well, and is logged as such.
  EXPECT_EQ(app_->LastResult, 0);
  EXPECT_TRUE(std::filesystem::exists(env_.DataHome() / "fwload" / "DownLoad.log"));
}

}  // namespace
