// Close signals (SIGTERM, SIGINT, SIGHUP) at each stage of a download. Unattended: the real
// program, the signal sent to its process. Interactive: the program's own windows and signal
// handler in this process, the signal raised here while a person's download runs. Either way the
// transfer stops as by the abort button (the job canceled on the server, a partial FTP file
// deleted), nothing is logged, no download file is left, and the program ends within 10 s with
// exit code 40.
#include "app/application.h"
#include "common/strings.h"
#include "download/transfer_support.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "support/privateserver.h"
#include "support/recordingboxes.h"
#include "support/simulator.h"
#include "support/tempenv.h"
#include "ui/dlgmsgbox.h"
#include "ui/forms.h"
#include "ui/frmmain.h"
#include "ui/frmprntview.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::PrivateServer;
using testsupport::Simulator;
using transfertest::TestQueue;

enum class Mode { Unattended, Interactive };
void PrintTo(Mode mode, std::ostream* out) {
  *out << (mode == Mode::Unattended ? "unattended" : "interactive");
}

constexpr int kAbortedText = 4138;
constexpr char kModel[] = "TORVA VELOXIA M3";  // takes the download command; the file is for it
constexpr std::size_t kLarge = 32u << 20;      // long enough to be met at each stage

// Once `ready` holds, and not before `delay` after the step before, `act`.
struct Step {
  std::function<bool()> ready;
  std::function<void()> act;
  std::chrono::milliseconds delay{0};
};
const std::function<bool()> kAtOnce = [] { return true; };

// The processor time this thread has used.
std::int64_t ThreadCpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

class SignalRun : public ::testing::Test {
 protected:
  explicit SignalRun(Mode mode) : mode_(mode) {}
  static void SetUpTestSuite() {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }
  void TearDown() override {
    if (fwload_.state() != QProcess::NotRunning) {
      fwload_.kill();
      fwload_.waitForFinished();
    }
    CloseMainWindowOnSignals(nullptr);
    frmPrntView = nullptr;
    DlgMsgBox = nullptr;
    frmMain = nullptr;
    view_.reset();
    dialog_.reset();
    window_.reset();
    app_.reset();
    EXPECT_TRUE(transfertest::WaitUntilNoTransferThread());
  }

  std::unique_ptr<Simulator> StartSimulator(const std::vector<std::string>& args = {}) {
    return std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                       env_.Root() / "printer", args);
  }
  // Downloads a file of `dataBytes` data bytes to the printer that the switches `printer` choose
  // (unattended: fwload FILE PRINTER /NO /NM /IM=1; interactive: the command 実行 of the window),
  // taking `steps` in turn meanwhile. The program's exit code.
  int Run(const std::vector<std::string>& printer, std::size_t dataBytes,
          const std::vector<Step>& steps) {
    const auto file = env_.Root() / "fw.FWB";
    testsupport::WriteFile(file,
                           "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Test firmware\r\n"
                           "DownLoadVersion=V1.00\r\nDownLoadPrinter=\"M3\"\r\n\x1a" +
                               transfertest::TestData(dataBytes, 11));
    std::vector<std::string> args = {file.string(), "/IM=1"};
    args.insert(args.end(), printer.begin(), printer.end());
    const int code = mode_ == Mode::Unattended ? RunProgram(args, steps) : RunWindows(args, steps);
    ended_ = Clock::now();
    return code;
  }
  void Signal(int signal = SIGTERM) {
    signalled_ = Clock::now();
    ::kill(mode_ == Mode::Unattended ? static_cast<pid_t>(fwload_.processId()) : ::getpid(),
           signal);
  }
  // The signal meets the program where it is: the program is held while it is sent.
  void SignalWhileHeld() {
    if (mode_ == Mode::Interactive) return Signal();
    const auto pid = static_cast<pid_t>(fwload_.processId());
    ::kill(pid, SIGSTOP);
    Signal();
    ::kill(pid, SIGCONT);
  }
  // A queue name of this run's own: the other mode's run may use the shared server meanwhile.
  std::string Named(const std::string& name) const {
    return name + (mode_ == Mode::Unattended ? "-u" : "-i");
  }
  bool BuildingDownloadFile() const {
    return !transfertest::LeftoverDownloadFiles(env_.TmpDir()).empty();
  }
  static bool Uploading(const Simulator& sim) {
    return !testsupport::ListTree(sim.FtpDir()).empty();
  }
  // Stopped as by the abort button, without a success logged or a file left behind.
  void ExpectStopped(int exitCode) {
    EXPECT_EQ(exitCode, 40);
    EXPECT_LT(ended_ - signalled_, 10s);
    EXPECT_FALSE(std::filesystem::exists(env_.DataHome() / "fwload" / "DownLoad.log"));
    if (mode_ == Mode::Unattended) {
      EXPECT_EQ(testsupport::ListTree(env_.TmpDir()), std::vector<std::string>{});
      return;
    }
    EXPECT_EQ(app_->LastResult, 4096);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(view_->Running());
    // No result box, which would wait for a person.
    for (const auto& box : boxes_.shown) EXPECT_NE(box.text, std::string(strings::Load(4117)));
    EXPECT_EQ(transfertest::LeftoverDownloadFiles(env_.TmpDir()), std::vector<std::string>{});
  }

  testsupport::TempEnv env_;
  testsupport::RecordingBoxes boxes_;
  std::unique_ptr<TFWLOADApp> app_;
  std::unique_ptr<TfrmMain> window_;
  std::unique_ptr<TfrmPrntView> view_;
  std::unique_ptr<TDlgMsgBox> dialog_;
  int state_ = 0;  // the progress window's last label
  Clock::time_point signalled_;
  Clock::time_point ended_;

 private:
  int RunProgram(const std::vector<std::string>& args, const std::vector<Step>& steps) {
    QStringList list = {"-platform", "offscreen", "/NO", "/NM"};
    for (const auto& a : args) list << QString::fromStdString(a);
    fwload_.start(QString::fromStdString((testsupport::BinDir() / "fwload").string()), list);
    if (!fwload_.waitForStarted()) return -1;
    auto last = Clock::now();
    for (const Step& step : steps) {
      const auto end = Clock::now() + 30s;
      while (!step.ready() || Clock::now() < last + step.delay) {
        if (Clock::now() > end || fwload_.waitForFinished(0) ||
            fwload_.state() == QProcess::NotRunning) {
          ADD_FAILURE() << "the program did not reach the stage";
          return -1;
        }
        std::this_thread::sleep_for(1ms);
      }
      step.act();
      last = Clock::now();
    }
    if (!fwload_.waitForFinished(60000)) return -1;
    return fwload_.exitStatus() == QProcess::NormalExit ? fwload_.exitCode() : -1;
  }

  int RunWindows(const std::vector<std::string>& args, const std::vector<Step>& steps) {
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
    QObject::connect(view_.get(), &TfrmPrntView::StateChanged, view_.get(),
                     [this](int id) { state_ = id; });
    // The steps are looked at from whichever event loop runs; each is taken from a timer of its
    // own, since it may run a loop of its own (the abort button's wait).
    std::size_t next = 0;
    auto last = Clock::now();
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
      if (next == steps.size() || Clock::now() < last + steps[next].delay || !steps[next].ready())
        return;
      QTimer::singleShot(0, view_.get(), steps[next++].act);
      last = Clock::now();
    });
    look.start(1);
    ::alarm(60);  // a wait that never ends (a spinning loop, a box nobody answers) ends the test
    window_->show();
    QMetaObject::invokeMethod(window_.get(), &TfrmMain::ExecDownload, Qt::QueuedConnection);
    const int loopCode = QApplication::exec();
    ::alarm(0);
    EXPECT_EQ(next, steps.size()) << "the download did not reach the stage";
    return ProgramExitCode(loopCode, *window_);
  }

  Mode mode_;
  QProcess fwload_;
};

class CloseSignal : public SignalRun, public ::testing::WithParamInterface<Mode> {
 protected:
  CloseSignal() : SignalRun(GetParam()) {}
};

TEST_P(CloseSignal, WhileTheDownloadFileIsBuiltNothingIsSent) {
  auto sim = StartSimulator();
  TestQueue queue(Named("sig-build"), TestQueue::SocketUri(sim->RawPort()), kModel);
  ExpectStopped(Run({"/PR=" + queue.Name()}, kLarge,
                    {{[&] { return BuildingDownloadFile(); }, [&] { SignalWhileHeld(); }}}));
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
  EXPECT_EQ(sim->Records().size(), 0u);
}

TEST_P(CloseSignal, WhileTheServerHoldsBackAWriteTheJobIsCanceled) {
  PrivateServer server(PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("sig-spool", TestQueue::SocketUri(sim->RawPort()), kModel);
  ExpectStopped(Run({"/PR=sig-spool"}, kLarge,
                    {{[&] { return server.ReceivingDocument(); }, [&] { server.Pause(); }},
                     // The socket fills within moments; the write then waits for the server.
                     {kAtOnce, [&] { Signal(); }, 300ms},
                     // The server comes back while the cancel still waits for its answer.
                     {kAtOnce, [&] { server.Resume(); }, 700ms}}));
  EXPECT_EQ(transfertest::WaitForEndState("sig-spool", transfertest::NewestJob("sig-spool")), 7);
  EXPECT_EQ(sim->Records().size(), 0u);
}

TEST_P(CloseSignal, WhileTheJobIsFollowedItIsCanceledOnTheServer) {
  // Nothing listens at the printer: the server keeps the job processing.
  TestQueue queue(Named("sig-follow"), TestQueue::SocketUri(testsupport::UnusedPort()), kModel);
  int job = 0;
  const auto processing = [&] {
    job = transfertest::NewestJob(queue.Name());
    return job != 0 && transfertest::JobState(queue.Name(), job) == 5;
  };
  ExpectStopped(Run({"/PR=" + queue.Name()}, 70000, {{processing, [&] { Signal(SIGINT); }}}));
  EXPECT_EQ(transfertest::WaitForEndState(queue.Name(), job), 7);
}

TEST_P(CloseSignal, DuringAnFtpUploadThePartialFileIsDeleted) {
  // The printer stops reading: the upload would wait for its stall limit.
  auto sim = StartSimulator({"--ftp-fault", "stall:65536"});
  ExpectStopped(Run({"/HN=" + sim->FtpHost(), "/M=PX-E3000"}, 4u << 20,
                    {{[&] { return Uploading(*sim); }, [&] { Signal(SIGHUP); }}}));
  const auto records = sim->WaitForRecords(1, 5s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].Deleted);
  EXPECT_EQ(testsupport::ListTree(sim->FtpDir()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Runs, CloseSignal, ::testing::Values(Mode::Unattended, Mode::Interactive),
                         [](const auto& info) {
                           return info.param == Mode::Unattended ? "Unattended" : "Interactive";
                         });

// While the abort waits: in an unattended run the first signal's, in an interactive one the
// abort button's.
struct UnattendedSignal : SignalRun {
  UnattendedSignal() : SignalRun(Mode::Unattended) {}
};
class InteractiveSignal : public SignalRun {
 protected:
  InteractiveSignal() : SignalRun(Mode::Interactive) {}
  // The abort has been pressed; the cancel waits for a server that does not answer yet.
  std::vector<Step> AbortWhileTheServerIsSilent(PrivateServer& server, Step then) {
    return {{[&server] { return server.ReceivingDocument(); }, [&server] { server.Pause(); }},
            {kAtOnce, [this] { view_->btnAbort()->click(); }, 300ms},
            std::move(then)};
  }
};

TEST_F(UnattendedSignal, ASecondSignalWhileTheAbortWaitsEndsTheProgramAtOnce) {
  auto sim = StartSimulator({"--ftp-fault", "stall:65536"});
  // The printer then stops answering altogether: removing the partial file waits its 3 s.
  const int code = Run({"/HN=" + sim->FtpHost(), "/M=PX-E3000"}, 4u << 20,
                       {{[&] { return Uploading(*sim); },
                         [&] {
                           ::kill(sim->Pid(), SIGSTOP);
                           Signal(SIGHUP);
                         }},
                        {kAtOnce, [&] { Signal(); }, 1500ms}});
  ::kill(sim->Pid(), SIGCONT);
  ExpectStopped(code);
  EXPECT_LT(ended_ - signalled_, 1s);
}

TEST_F(InteractiveSignal, ASignalWhileTheAbortButtonWaitsForTheCancel) {
  PrivateServer server(PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("sig-wait", TestQueue::SocketUri(sim->RawPort()), kModel);
  auto steps = AbortWhileTheServerIsSilent(
      server, {[&] { return state_ == kAbortedText; }, [&] { Signal(); }});
  steps.push_back({kAtOnce, [&] { server.Resume(); }, 1000ms});
  ExpectStopped(Run({"/PR=sig-wait"}, kLarge, steps));
  EXPECT_EQ(view_->Aborted(), 1);
  EXPECT_EQ(transfertest::WaitForEndState("sig-wait", transfertest::NewestJob("sig-wait")), 7);
}

TEST_F(InteractiveSignal, AnApplicationThatQuitsWhileTheAbortWaitsStillWaitsWithoutSpinning) {
  PrivateServer server(PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());
  auto sim = StartSimulator();
  server.AddQueue("sig-quit", TestQueue::SocketUri(sim->RawPort()), kModel);
  // Every event loop ends while the cancel waits for the silent server (its 3 s): no loop can run
  // from then on.
  std::int64_t cpuAtQuit = 0;
  Run({"/PR=sig-quit"}, kLarge,
      AbortWhileTheServerIsSilent(server, {[&] { return state_ == kAbortedText; },
                                           [&] {
                                             cpuAtQuit = ThreadCpuMs();
                                             QCoreApplication::exit(0);
                                           },
                                           200ms}));
  EXPECT_LT(ThreadCpuMs() - cpuAtQuit, 1000);
  EXPECT_FALSE(view_->Running());
  EXPECT_EQ(app_->LastResult, 4096);
}

TEST_F(InteractiveSignal, ASignalWhileAResultBoxIsReadShowsNoFurtherBox) {
  auto sim = StartSimulator();
  TestQueue queue("sig-result", TestQueue::SocketUri(sim->RawPort()), kModel);
  const std::string finished(strings::Load(4113));
  boxes_.OnShow = [&](const testsupport::RecordingBoxes::Box& box) {
    if (box.text != finished) return;
    Signal();
    while (!window_->StoppedBySignal()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  };
  EXPECT_EQ(Run({"/PR=" + queue.Name()}, 4000, {}), 40);
  ASSERT_FALSE(boxes_.shown.empty());
  EXPECT_EQ(boxes_.shown.back().text, finished);
  // The download itself had ended well, and is logged as such.
  EXPECT_EQ(app_->LastResult, 0);
  EXPECT_TRUE(std::filesystem::exists(env_.DataHome() / "fwload" / "DownLoad.log"));
}

}  // namespace
