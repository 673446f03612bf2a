// The FTP printer dialog offscreen, asking IPP identities of FTP printers through the real access
// library (the ipp_identity fixture: "withmodel" reports PX-E3000 and V1.23, "nomodel" only
// V2.00).
#include "common/codes.h"
#include "common/strings.h"
#include "download/transfer_support.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/recordingboxes.h"
#include "support/simulator.h"
#include "support/tempenv.h"
#include "ui/forms.h"
#include "ui/frmmain.h"
#include "ui/frmprntview.h"
#include "ui/ftpconnect.h"
#include "ui/prnmodel.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::Simulator;
using testsupport::TempEnv;
namespace ipp = printerstest::ipp;

// Runs `act` on the topmost modal dialog once it is shown.
void WhenShown(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act]() {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    act(dialog);
  });
}

// The next widget that Tab moves to.
QWidget* NextTabStop(QWidget* widget) {
  QWidget* next = widget->nextInFocusChain();
  while (next != widget && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
  return next;
}

class FtpConnectDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }
  void SetUp() override {
    ASSERT_FALSE(ipp::Dir().empty()) << "run through ctest: the printers are a fixture";
    app_ = std::make_unique<TFWLOADApp>(std::vector<std::string>{}, env_.SettingsFile());
    dialog_.SetApp(app_.get());
    dialog_.SetModelDialog(&models_);
  }
  void TearDown() override { EXPECT_TRUE(transfertest::EndPooledThreads()); }
  // Types the address and presses OK; the dialog's modal result.
  int Enter(const QString& address, std::function<void(QWidget*)> onModelDialog = nullptr) {
    WhenShown([this, address, onModelDialog](QWidget* shown) {
      ASSERT_EQ(shown, &dialog_);
      dialog_.editFtpAddr()->setText(address);
      if (onModelDialog) WhenShown(onModelDialog);
      dialog_.btnOk()->click();
    });
    return dialog_.exec();
  }

  TempEnv env_;
  std::unique_ptr<TFWLOADApp> app_;
  TdlgPrnModel models_;
  TFtpConnect dialog_;
};

TEST_F(FtpConnectDialog, HasItsControlsNamesAndTexts) {
  EXPECT_EQ(dialog_.objectName(), "FtpConnect");
  EXPECT_EQ(dialog_.windowTitle(), QString::fromUtf8("FTP接続ﾌﾟﾘﾝﾀの指定"));
  EXPECT_EQ(dialog_.Label1()->objectName(), "Label1");
  EXPECT_EQ(dialog_.Label1()->text(), QString::fromUtf8("ﾌﾟﾘﾝﾀのｱﾄﾞﾚｽ(&N)"));
  EXPECT_EQ(dialog_.Label1()->buddy(), dialog_.editFtpAddr());
  EXPECT_EQ(dialog_.Label2()->text(), QString::fromUtf8("ﾃﾞｨﾚｸﾄﾘ(&D)"));
  EXPECT_EQ(dialog_.Label2()->buddy(), dialog_.editFtpDir());
  // The main window finds the fields by these names.
  EXPECT_EQ(dialog_.findChild<QLineEdit*>("editFtpAddr"), dialog_.editFtpAddr());
  EXPECT_EQ(dialog_.findChild<QLineEdit*>("editFtpDir"), dialog_.editFtpDir());
  EXPECT_EQ(dialog_.editFtpAddr()->text(), "");
  EXPECT_EQ(dialog_.editFtpDir()->text(), "ketora0");
  EXPECT_EQ(dialog_.btnOk()->objectName(), "btnOk");
  EXPECT_EQ(dialog_.btnOk()->text(), "&OK");
  EXPECT_TRUE(dialog_.btnOk()->isDefault());
  EXPECT_EQ(dialog_.Button2()->objectName(), "Button2");
  EXPECT_EQ(dialog_.Button2()->text(), QString::fromUtf8("ｷｬﾝｾﾙ"));
  // Tab order: address, directory, OK, cancel.
  EXPECT_EQ(NextTabStop(dialog_.editFtpAddr()), dialog_.editFtpDir());
  EXPECT_EQ(NextTabStop(dialog_.editFtpDir()), dialog_.btnOk());
  EXPECT_EQ(NextTabStop(dialog_.btnOk()), dialog_.Button2());
  EXPECT_EQ(NextTabStop(dialog_.Button2()), dialog_.editFtpAddr());
  EXPECT_GE(dialog_.width(), 308);
  EXPECT_GE(dialog_.height(), 118);
  EXPECT_EQ(dialog_.minimumSize(), dialog_.maximumSize());
}

TEST_F(FtpConnectDialog, AKnownPrinterIsStoredWithItsModelAndVersion) {
  ipp::UseIppPort(env_, ipp::PortOf("withmodel"));
  for (const char* typed : {"127.0.0.1", "ftp://127.0.0.1"}) {
    app_->SetFtpPrinterInfo("", "");
    EXPECT_EQ(Enter(QString::fromUtf8(typed)), TFtpConnect::kResultOk) << typed;
    EXPECT_EQ(app_->FtpModel, "PX-E3000");
    EXPECT_EQ(app_->FtpVersion, "V1.23");
    // The fields keep what was typed for the next use.
    EXPECT_EQ(dialog_.editFtpAddr()->text(), QString::fromUtf8(typed));
    EXPECT_EQ(dialog_.editFtpDir()->text(), "ketora0");
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FtpConnectDialog, APrinterWithoutAModelAsksTheUser) {
  ipp::UseIppPort(env_, ipp::PortOf("nomodel"));
  const int m3 = 9;
  int result = Enter("127.0.0.1", [&](QWidget* shown) {
    ASSERT_EQ(shown, &models_);
    // No hourglass over a dialog that waits for the user.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    models_.cmbModel()->setCurrentIndex(m3);
    models_.btnOk()->click();
  });
  EXPECT_EQ(result, TFtpConnect::kResultOk);
  EXPECT_EQ(app_->FtpModel, "M3");
  EXPECT_EQ(app_->FtpVersion, "");

  // Cancelling the model choice cancels the whole dialog, and nothing is stored.
  app_->SetFtpPrinterInfo("before", "x");
  result = Enter("127.0.0.1", [&](QWidget*) { models_.btnCancel()->click(); });
  EXPECT_EQ(result, TFtpConnect::kResultCancel);
  EXPECT_EQ(app_->FtpModel, "before");
}

TEST_F(FtpConnectDialog, APrinterThatCannotBeReachedEndsWith3) {
  ipp::UseIppPort(env_, 1);  // nothing answers there
  app_->SetFtpPrinterInfo("before", "x");
  EXPECT_EQ(Enter("127.0.0.1"), TFtpConnect::kResultAbort);
  EXPECT_EQ(app_->FtpModel, "before");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FtpConnectDialog, AnAddressWithADirectoryOrWithoutAHostIsRefusedAndTheDialogStays) {
  ipp::UseIppPort(env_, ipp::PortOf("withmodel"));
  testsupport::RecordingBoxes boxes;
  app_->SetFtpPrinterInfo("before", "x");
  const std::pair<const char*, int> refused[] = {
      {"10.0.0.5/ketora0", 4360}, {"ftp://127.0.0.1/fw/", 4360}, {"", 4361},
      {"ftp://", 4361},           {"127.0.0.1:x", 4361},         {"user@127.0.0.1", 4361},
  };
  WhenShown([&](QWidget*) {
    for (const auto& [typed, message] : refused) {
      boxes.shown.clear();
      dialog_.editFtpAddr()->setText(QString::fromUtf8(typed));
      dialog_.btnOk()->click();
      ASSERT_EQ(boxes.shown.size(), 1u) << typed;
      EXPECT_EQ(boxes.shown[0].text, strings::Load(message)) << typed;
      EXPECT_EQ(boxes.shown[0].style, platform::mb::kIconExclamation);
      EXPECT_TRUE(dialog_.isVisible()) << typed;
    }
    dialog_.Button2()->click();
  });
  EXPECT_EQ(dialog_.exec(), TFtpConnect::kResultCancel);
  EXPECT_EQ(app_->FtpModel, "before");
}

TEST_F(FtpConnectDialog, TheMainWindowSendsToTheAddressAndDirectoryTheDialogRead) {
  ASSERT_NE(std::getenv("CUPS_SERVER"), nullptr) << "run through ctest: a private print server";
  ipp::UseIppPort(env_, ipp::PortOf("withmodel"));
  testsupport::RecordingBoxes boxes;
  Simulator sim(Simulator::ScriptIn(testsupport::SourceDir()), env_.Root() / "printer");
  const std::string data = transfertest::TestData(5000);
  const auto file = env_.Root() / "fw.FWB";
  testsupport::WriteFile(
      file, "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadPrinter=PX-E3000\r\n\x1a" + data);
  app_->OpenFile(file.string());
  app_->ShowMessage = 0;
  app_->InitMemoryPreset = true;
  TfrmMain window(*app_);
  TfrmPrntView progress(&window);
  progress.SetApp(app_.get());
  FtpConnect = &dialog_;
  frmPrntView = &progress;
  const std::unique_ptr<void, void (*)(void*)> forget(&progress, [](void*) {
    FtpConnect = nullptr;
    frmPrntView = nullptr;
  });

  const QString host = QString::fromStdString(sim.FtpHost());
  WhenShown([&](QWidget*) {
    dialog_.editFtpAddr()->setText("ftp://" + host + "/");
    dialog_.btnOk()->click();
  });
  window.PM_FtpClick();
  EXPECT_TRUE(boxes.shown.empty());
  const std::string target = "ftp://" + sim.FtpHost() + "/ketora0";
  EXPECT_EQ(app_->SelectedPrinter, target);
  EXPECT_EQ(window.findChild<QLabel*>("pnlSelected")->text().toStdString(), target);
  EXPECT_EQ(app_->PrinterInfo.Driver, "PX-E3000");

  window.ExecDownload();
  EXPECT_EQ(app_->LastResult, 0);
  const auto records = sim.WaitForRecords(1, 20s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].File.rfind("ftp/ketora0/", 0), 0u) << records[0].File;
  EXPECT_EQ(ReadFile(sim.Dir() / records[0].File),
            transfertest::ExpectedStream(data, true, true, 1));
}

TEST_F(FtpConnectDialog, CancelEscAndTheCloseBoxEndWith2WithoutAsking) {
  ipp::UseIppPort(env_, 1);
  WhenShown([this](QWidget*) { dialog_.Button2()->click(); });
  EXPECT_EQ(dialog_.exec(), TFtpConnect::kResultCancel);
  WhenShown([this](QWidget*) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog_, &escape);
  });
  EXPECT_EQ(dialog_.exec(), TFtpConnect::kResultCancel);
  WhenShown([this](QWidget*) { dialog_.close(); });
  EXPECT_EQ(dialog_.exec(), TFtpConnect::kResultCancel);
}

}  // namespace
