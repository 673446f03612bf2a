// The progress window offscreen, shown modally as the download command shows it, with its
// transfer going through the private print server or over FTP to the printer simulator.
#include "access/fwloadaccess.h"
#include "common/strings.h"
#include "download/transfer_support.h"
#include "firmware/dwndoc.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/simulator.h"
#include "support/tempenv.h"
#include "ui/frmprntview.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::Simulator;
using testsupport::TempEnv;
using transfertest::ExpectedStream;
using transfertest::kCommandModel;
using transfertest::kDownloading;
using transfertest::kSpooling;
using transfertest::TestQueue;

constexpr int kInitialising = 4129;
constexpr int kConnecting = 4132;
constexpr int kAbortedText = 4138;
constexpr int kFinished = 4139;

QString Text(int id) { return QString::fromUtf8(std::string(strings::Load(id)).c_str()); }

// Runs `action` on the window's thread once the events queued so far have run: never inside an
// update the transfer thread is waiting for, as a user's click never is.
void Later(QObject* context, std::function<void()> action) {
  QMetaObject::invokeMethod(context, std::move(action), Qt::QueuedConnection);
}

class PrntView : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }
  void SetUp() override {
    ASSERT_FALSE(printerstest::sandbox::Dir().empty())
        << "run through ctest: the print server is a fixture";
    app_ = std::make_unique<TFWLOADApp>(std::vector<std::string>{}, env_.SettingsFile());
    window_ = std::make_unique<TfrmPrntView>();
    window_->SetApp(app_.get());
    window_->SetTimings(transfertest::ShortTimings());
    QObject::connect(window_.get(), &TfrmPrntView::StateChanged, window_.get(), [this](int id) {
      states_.push_back(id);
      if (OnState) OnState(id);
    });
    QObject::connect(window_.get(), &QDialog::finished, window_.get(), [this](int) {
      // What the download command would read at this moment.
      runningAtClose_ = window_->Running();
      resultAtClose_ = app_->LastResult;
    });
  }
  void TearDown() override {
    if (window_ && window_->Thread()) {
      EXPECT_TRUE(window_->Thread()->isFinished());
    }
    window_.reset();
    // No transfer thread is left behind.
    EXPECT_TRUE(transfertest::WaitUntilNoTransferThread());
    EXPECT_TRUE(transfertest::EndPooledThreads());
    for (auto& e : std::filesystem::directory_iterator("/proc/self/task"))
      fprintf(stderr, "THREAD %s\n", testsupport::ReadFile(e.path() / "comm").c_str());
    EXPECT_EQ(transfertest::LeftoverDownloadFiles(env_.TmpDir()), std::vector<std::string>{});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }

  std::unique_ptr<Simulator> StartSimulator(const std::vector<std::string>& args = {}) {
    return std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                       env_.Root() / ("printer" + std::to_string(++printers_)),
                                       args);
  }
  void Prepare(const std::string& data) {
    app_->EnableCommand = 1;
    app_->InitMemory = 1;
    app_->Doc = transfertest::MakeDoc(data, 1, 1);
  }
  // An FTP printer of the simulator as the FTP printer dialog leaves it selected.
  void SelectFtpPrinter(const std::string& target) {
    app_->SelectedPrinter = target;
    app_->PrinterInfo.Driver = "PX-E3000";
    app_->SetFtpPrinterInfo("PX-E3000", "V1.23");
  }
  // Shows the window modally until it closes; its modal result.
  int Show() {
    states_.clear();
    app_->LastResult = 0xFFFF;
    runningAtClose_ = true;
    resultAtClose_ = 0xFFFF;
    return window_->exec();
  }
  void ClickAbort() {
    Later(window_.get(), [this]() { window_->btnAbort()->click(); });
  }

  TempEnv env_;
  std::unique_ptr<TFWLOADApp> app_;
  std::unique_ptr<TfrmPrntView> window_;
  std::function<void(int)> OnState;
  std::vector<int> states_;
  bool runningAtClose_ = true;
  std::uint16_t resultAtClose_ = 0xFFFF;
  int printers_ = 0;
};

TEST_F(PrntView, ATransferThatEndsByItselfClosesTheWindowAndTheNextShowStartsAfresh) {
  EXPECT_EQ(window_->objectName(), "frmPrntView");
  EXPECT_EQ(window_->windowTitle().toStdString(), strings::kAppTitle);
  EXPECT_TRUE(window_->isModal());

  auto sim = StartSimulator();
  TestQueue queue("pv-done", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  const std::string data = transfertest::TestData(50000);
  Prepare(data);
  app_->SelectPrinter(queue.Name());

  EXPECT_EQ(Show(), TfrmPrntView::kResultOk);
  EXPECT_EQ(states_, (std::vector<int>{kInitialising, kSpooling, kDownloading, kFinished}));
  EXPECT_EQ(app_->LastResult, 0);
  EXPECT_FALSE(runningAtClose_);
  EXPECT_EQ(resultAtClose_, 0);
  EXPECT_EQ(window_->lblAction()->text(), Text(kFinished));
  EXPECT_FALSE(window_->btnAbort()->isEnabled());
  EXPECT_EQ(window_->btnAbort()->text(), Text(4128));
  EXPECT_EQ(window_->Progress()->value(), 100);
  EXPECT_EQ(window_->TotalSize(), data.size() + 72);
  const auto records = sim->WaitForRecords(1, 20s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(ReadFile(sim->Dir() / records[0].File) == ExpectedStream(data, true, true, 1));

  // The next show frees the ended thread and starts a new one, with texts, button and bar reset.
  bool firstFreed = false;
  QObject::connect(window_->Thread(), &QObject::destroyed, window_.get(),
                   [&]() { firstFreed = true; });
  TestQueue silent("pv-silent", TestQueue::SocketUri(testsupport::UnusedPort()), kCommandModel);
  app_->SelectPrinter(silent.Name());
  bool resetSeen = false;
  bool freshThread = false;
  OnState = [&](int id) {
    if (id == kInitialising) {
      resetSeen = window_->btnAbort()->isEnabled() && window_->Progress()->value() == 0 &&
                  window_->Aborted() == 0 && window_->TotalSize() == 1 &&
                  window_->lblAction()->text() == Text(kInitialising);
    }
    if (id == kSpooling) freshThread = firstFreed && window_->Thread()->isRunning();
    if (id == kDownloading) ClickAbort();
  };
  EXPECT_EQ(Show(), TfrmPrntView::kResultAbort);
  EXPECT_TRUE(resetSeen);
  EXPECT_TRUE(freshThread);
  EXPECT_EQ(app_->LastResult, 4096);
  EXPECT_EQ(transfertest::ActiveJobs(silent.Name()), "");
}

TEST_F(PrntView, AbortWhileBlocksAreWrittenAbortsTheJobAndClosesAfterTheThreadEnded) {
  auto sim = StartSimulator();
  TestQueue queue("pv-cut", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  Prepare(transfertest::TestData(2u << 20, 2));
  app_->SelectPrinter(queue.Name());

  bool clicked = false;
  QObject::connect(window_->Progress(), &QProgressBar::valueChanged, window_.get(), [&](int value) {
    if (!clicked && value >= 3 && states_.back() == kSpooling) {
      clicked = true;
      ClickAbort();
    }
  });
  // While the window waits for the thread it shows the hourglass.
  Qt::CursorShape cursorWhileWaiting = Qt::ArrowCursor;
  QObject::connect(window_->btnAbort(), &QPushButton::pressed, window_.get(), [&]() {
    QTimer::singleShot(0, window_.get(), [&]() {
      if (QApplication::overrideCursor())
        cursorWhileWaiting = QApplication::overrideCursor()->shape();
    });
  });

  EXPECT_EQ(Show(), TfrmPrntView::kResultAbort);
  EXPECT_EQ(states_, (std::vector<int>{kInitialising, kSpooling, kAbortedText, kFinished}));
  EXPECT_EQ(cursorWhileWaiting, Qt::WaitCursor);
  EXPECT_EQ(app_->LastResult, 4096);
  EXPECT_FALSE(runningAtClose_);
  EXPECT_EQ(resultAtClose_, 4096);
  EXPECT_EQ(window_->Aborted(), 1);
  EXPECT_LT(window_->Progress()->value(), 100);
  const int state = transfertest::WaitForEndState(queue.Name(), window_->Thread()->JobId());
  EXPECT_TRUE(state == 7 || state == 8) << state;
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
  EXPECT_EQ(sim->Records().size(), 0u);
}

TEST_F(PrntView, AbortWhileTheJobIsFollowedCancelsItOnTheServer) {
  TestQueue queue("pv-follow", TestQueue::SocketUri(testsupport::UnusedPort()), kCommandModel);
  Prepare(transfertest::TestData(4000, 3));
  app_->SelectPrinter(queue.Name());
  OnState = [&](int id) {
    if (id == kDownloading) ClickAbort();
  };
  EXPECT_EQ(Show(), TfrmPrntView::kResultAbort);
  EXPECT_EQ(states_,
            (std::vector<int>{kInitialising, kSpooling, kDownloading, kAbortedText, kFinished}));
  EXPECT_EQ(app_->LastResult, 4096);
  EXPECT_FALSE(runningAtClose_);
  EXPECT_EQ(transfertest::WaitForEndState(queue.Name(), window_->Thread()->JobId()), 7);
  EXPECT_EQ(transfertest::ActiveJobs(queue.Name()), "");
}

TEST_F(PrntView, NeitherTheCloseBoxNorEscEndsARunningTransfer) {
  TestQueue queue("pv-close", TestQueue::SocketUri(testsupport::UnusedPort()), kCommandModel);
  Prepare(transfertest::TestData(4000, 4));
  app_->SelectPrinter(queue.Name());
  bool stillShown = false;
  OnState = [&](int id) {
    if (id != kDownloading) return;
    Later(window_.get(), [&]() {
      window_->close();
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(window_.get(), &escape);
      window_->reject();
      // Some polls later the window and the transfer are still there; then the user aborts.
      QTimer::singleShot(200, window_.get(), [&]() {
        stillShown = window_->isVisible() && window_->Running() && window_->Thread()->isRunning();
        window_->btnAbort()->click();
      });
    });
  };
  EXPECT_EQ(Show(), TfrmPrntView::kResultAbort);
  EXPECT_TRUE(stillShown);
  EXPECT_FALSE(runningAtClose_);
  EXPECT_EQ(resultAtClose_, 4096);

  // A close box pressed during a transfer that then ends by itself: the window closes with it.
  auto sim = StartSimulator();
  TestQueue working("pv-close-ok", TestQueue::SocketUri(sim->RawPort()), kCommandModel);
  app_->SelectPrinter(working.Name());
  bool refused = false;
  OnState = [&](int id) {
    if (id != kSpooling) return;
    Later(window_.get(), [&]() {
      window_->close();
      refused = window_->isVisible();
    });
  };
  EXPECT_EQ(Show(), TfrmPrntView::kResultOk);
  EXPECT_TRUE(refused);
  EXPECT_FALSE(runningAtClose_);
  EXPECT_EQ(resultAtClose_, 0);
}

TEST_F(PrntView, AWindowDestroyedDuringATransferStopsItFirst) {
  TestQueue queue("pv-destroyed", TestQueue::SocketUri(testsupport::UnusedPort()), kCommandModel);
  Prepare(transfertest::TestData(4000, 5));
  app_->SelectPrinter(queue.Name());
  QEventLoop following;
  OnState = [&](int id) {
    if (id == kDownloading) Later(window_.get(), [&]() { following.quit(); });
  };
  window_->show();
  following.exec();
  ASSERT_TRUE(window_->Running());
  const int job = window_->Thread()->JobId();
  window_.reset();
  EXPECT_EQ(app_->LastResult, 4096);
  EXPECT_EQ(transfertest::WaitForEndState(queue.Name(), job), 7);
}

TEST_F(PrntView, NotificationsMoveTheBarAndTheText) {
  // No transfer runs: the handler alone.
  EXPECT_EQ(window_->TotalSize(), 1u);
  EXPECT_EQ(window_->UM_DLSTATUS(4, 0), 0);
  EXPECT_EQ(window_->lblAction()->text(), Text(kConnecting));
  EXPECT_EQ(window_->UM_DLSTATUS(5, 0), 0);
  EXPECT_EQ(window_->lblAction()->text(), Text(kDownloading));
  window_->SetTotalSize(1000);
  EXPECT_EQ(window_->UM_DLSTATUS(6, 499), 0);
  EXPECT_EQ(window_->Progress()->value(), 49);
  EXPECT_EQ(window_->UM_DLSTATUS(6, 1000), 0);
  EXPECT_EQ(window_->Progress()->value(), 100);
  // A product that needs more than 64 bits.
  window_->SetTotalSize(0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(window_->UM_DLSTATUS(6, 0xFFFFFFFFFFFFFFFFull / 2), 0);
  EXPECT_EQ(window_->Progress()->value(), 49);
  // Any other notification changes nothing and is still answered.
  EXPECT_EQ(window_->UM_DLSTATUS(7, 12345), 0);
  EXPECT_EQ(window_->Progress()->value(), 49);
  EXPECT_EQ(window_->lblAction()->text(), Text(kDownloading));
}

// ---- FTP printers ----

class PrntViewFtp : public PrntView {
 protected:
  // The files the simulator's FTP directory holds.
  std::vector<std::string> Uploaded(const Simulator& sim) {
    return testsupport::ListTree(sim.FtpDir());
  }
};

TEST_F(PrntViewFtp, TheStreamIsUploadedUnderTheLibrarysNotifications) {
  auto sim = StartSimulator();
  const std::string data = transfertest::TestData(300000, 8);
  Prepare(data);
  SelectFtpPrinter("ftp://" + sim->FtpHost() + "/ketora0");
  EXPECT_EQ(Show(), TfrmPrntView::kResultOk);
  EXPECT_EQ(app_->LastResult, 0);
  ASSERT_GE(states_.size(), 4u);
  EXPECT_EQ(states_.front(), kInitialising);
  EXPECT_EQ(states_[1], kConnecting);
  EXPECT_EQ(states_[states_.size() - 2], kDownloading);
  EXPECT_EQ(states_.back(), kFinished);
  EXPECT_EQ(window_->Progress()->value(), 100);

  const auto records = sim->WaitForRecords(1, 20s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Channel, "ftp");
  EXPECT_EQ(records[0].Name.rfind("dwn", 0), 0u) << records[0].Name;
  EXPECT_TRUE(ReadFile(sim->Dir() / records[0].File) == ExpectedStream(data, true, true, 1));
}

TEST_F(PrntViewFtp, ADirectoryThatCannotBeEnteredIs35) {
  auto sim = StartSimulator();
  Prepare(transfertest::TestData(1000));
  SelectFtpPrinter("ftp://" + sim->FtpHost() + "/nosuchdir");
  EXPECT_EQ(Show(), TfrmPrntView::kResultOk);
  EXPECT_EQ(app_->LastResult, 35);
  EXPECT_EQ(Uploaded(*sim), std::vector<std::string>{});
}

TEST_F(PrntViewFtp, AnAbortFromTheWindowStopsTheUploadAndLeavesNoFile) {
  // The printer stops reading: only the abort can end the upload.
  auto sim = StartSimulator({"--ftp-fault", "stall:65536"});
  Prepare(transfertest::TestData(4u << 20, 9));
  SelectFtpPrinter("ftp://" + sim->FtpHost() + "/ketora0");
  OnState = [&](int id) {
    if (id == kDownloading) ClickAbort();
  };
  EXPECT_EQ(Show(), TfrmPrntView::kResultAbort);
  EXPECT_EQ(app_->LastResult, 4096);
  EXPECT_FALSE(runningAtClose_);
  EXPECT_EQ(resultAtClose_, 4096);
  EXPECT_EQ(states_.back(), kFinished);
  EXPECT_EQ(Uploaded(*sim), std::vector<std::string>{});
}

TEST_F(PrntViewFtp, APrinterThatIsNotThereOrBreaksOffIs33) {
  Prepare(transfertest::TestData(1u << 20, 10));
  SelectFtpPrinter("ftp://127.0.0.1:" + std::to_string(testsupport::UnusedPort()) + "/ketora0");
  EXPECT_EQ(Show(), TfrmPrntView::kResultOk);
  EXPECT_EQ(app_->LastResult, 33);

  auto sim = StartSimulator({"--ftp-fault", "drop:65536"});
  SelectFtpPrinter("ftp://" + sim->FtpHost() + "/ketora0");
  EXPECT_EQ(Show(), TfrmPrntView::kResultOk);
  EXPECT_EQ(app_->LastResult, 33);
  const auto records = sim->WaitForRecords(1, 10s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].Complete);
  EXPECT_EQ(Uploaded(*sim), std::vector<std::string>{});
}

}  // namespace
