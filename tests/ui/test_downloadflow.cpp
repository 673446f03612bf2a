// The download command's checks and result messages, with the boxes answered by the test.
#include "ui/mainwindowtest.h"

#include "common/codes.h"
#include "common/downloadlog.h"
#include "firmware/dwndoc.h"
#include "platform/profile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QThread>
#include <QTimer>

#include <functional>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

class DownloadFlow : public MainWindowTest {
 protected:
  // A document as if the firmware file had opened with these header values.
  TDownDocFile& OpenDocument(int formatValid = 1, std::uint32_t size = 4) {
    app->Doc = std::make_unique<TDownDocFile>();
    app->Doc->FFormatValid = formatValid;
    app->Doc->FDataSize = size;
    return *app->Doc;
  }
  void SetShown(const char* panel, const std::string& text) {
    window->findChild<QWidget*>(panel)->setProperty("text", QString::fromStdString(text));
  }
};

}  // namespace

TEST_F(DownloadFlow, WithNeitherFileNorPrinterOnlyTheFileIsAskedFor) {
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4355));
  EXPECT_EQ(boxes.shown[0].style, 0x40u);
  EXPECT_EQ(boxes.shown[0].help, 0);
}

TEST_F(DownloadFlow, ADeletedFileIsReportedWithTheExclamationIcon) {
  const auto file = env.Root() / "gone.FWB";
  SetShown("edtFileName", file.string());
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4352));
  EXPECT_EQ(boxes.shown[0].style, 0x30u);
}

TEST_F(DownloadFlow, TheChecksComeFirstEvenWithConfirmationsOff) {
  app->ShowMessage = 0;
  const auto file = env.Root() / "fw.FWB";
  testsupport::WriteFile(file, "data");
  SetShown("edtFileName", file.string());
  OpenDocument();
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4356));
}

TEST_F(DownloadFlow, AFileThatFailedToOpenIsNeverSent) {
  const auto file = env.Root() / "fw.FWB";
  testsupport::WriteFile(file, "data");
  SetShown("edtFileName", file.string());
  SetShown("pnlSelected", "queue");
  OpenDocument().FError = rc::kTempFile;
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4118));

  // A data file the package lacks is named.
  boxes.shown.clear();
  TDownDocFile& missing = OpenDocument();
  missing.FError = rc::kFileOpen;
  missing.FErrorFile = "DATA\\FW2.BIN";
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4114) + "\nDATA\\FW2.BIN");
  EXPECT_EQ(boxes.shown[0].style, 0x10u);
  EXPECT_EQ(app->LastResult, 0);

  // Unrecognised and empty: nothing to send either.
  boxes.shown.clear();
  OpenDocument(0, 0);
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4114));
}

TEST_F(DownloadFlow, ResultMessagesFollowTheTable) {
  struct Row {
    std::uint16_t code;
    int id;
    unsigned style;
    int help;
  };
  const Row rows[] = {{0, 4113, 0x40, 2001},    {17, 4114, 0x10, 2002}, {18, 4118, 0x10, 2004},
                      {32, 4115, 0x10, 2005},   {33, 4116, 0x10, 2005}, {34, 4116, 0x10, 2005},
                      {35, 4357, 0x10, 2010},   {36, 4358, 0x10, 2011}, {64, 4123, 0x40, 9999},
                      {4096, 4117, 0x10, 2008}, {1, 4119, 0x10, 9999},  {65535, 4119, 0x10, 9999}};
  for (const Row& r : rows) {
    std::string text;
    unsigned style = 0;
    int help = 0;
    TfrmMain::GetResultMessage(r.code, text, style, help);
    EXPECT_EQ(text, Str(r.id)) << r.code;
    EXPECT_EQ(style, r.style) << r.code;
    EXPECT_EQ(help, r.help) << r.code;
  }
}

TEST_F(DownloadFlow, SuccessIsFollowedByTheInstruction) {
  OpenDocument();
  app->LastResult = 0;
  window->ReportDownloadResult();
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, Str(4113));
  EXPECT_EQ(boxes.shown[0].style, 0x4040u);
  EXPECT_EQ(boxes.shown[1].text, Str(4121));
  EXPECT_EQ(boxes.shown[1].style, 0x4040u);
  EXPECT_EQ(boxes.shown[1].help, 1016);

  boxes.shown.clear();
  app->Doc->FDoneMessage = "Done\rcheck the panel";
  window->ReportDownloadResult();
  EXPECT_EQ(boxes.shown.at(1).text, "Done\rcheck the panel");

  // Without the download command the printer is restarted by hand, whatever the file says.
  boxes.shown.clear();
  app->EnableCommand = 0;
  window->ReportDownloadResult();
  EXPECT_EQ(boxes.shown.at(1).text, Str(4122));
}

TEST_F(DownloadFlow, AnAbortShowsTheInterruptionThenThePowerCycleHint) {
  app->LastResult = rc::kAborted;
  window->ReportDownloadResult();
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, Str(4117));
  EXPECT_EQ(boxes.shown[0].style, 0x4010u);
  EXPECT_EQ(boxes.shown[0].help, 2008);
  EXPECT_EQ(boxes.shown[1].text, Str(4120));
  EXPECT_EQ(boxes.shown[1].style, 0x4040u);
  EXPECT_EQ(boxes.shown[1].help, 2008);
}

TEST_F(DownloadFlow, ADirectoryFailureShowsOnlyItsMessage) {
  app->LastResult = rc::kDirectoryChange;
  window->ReportDownloadResult();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4357));
}

TEST_F(DownloadFlow, ConfirmationsOffSkipTheResultBoxes) {
  app->ShowMessage = 0;
  app->LastResult = rc::kSendFailed;
  window->ReportDownloadResult();
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DownloadFlow, APresetAnswerSkipsTheSettingsMemoryDialog) {
  OpenDocument().FBeginMessage = "Begin";
  app->InitMemoryPreset = true;
  app->InitMemory = 0;
  EXPECT_EQ(window->ConfirmMemoryInit(), 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4194) + "\nBegin");
  EXPECT_EQ(boxes.shown[0].style, 0x4041u);
  EXPECT_EQ(boxes.shown[0].help, 1032);
  EXPECT_EQ(app->InitMemory, 0);
}

TEST_F(DownloadFlow, TheMemoryChoiceIsKeptEvenWhenTheFollowUpIsCancelled) {
  OpenDocument();
  app->InitMemoryPreset = true;
  app->InitMemory = 1;
  boxes.Answer({2});
  EXPECT_EQ(window->ConfirmMemoryInit(), 2);
  EXPECT_EQ(boxes.shown.at(0).text, Str(4193) + "\n");
  EXPECT_EQ(boxes.shown.at(0).help, 1031);
  EXPECT_EQ(app->InitMemory, 1);
}

TEST_F(DownloadFlow, TheLogEntryNamesFileStateAndPrinter) {
  SetShown("pnlFileName", "/fw/a.FWV");
  SetShown("pnlFileState", "Firmware V2");
  SetShown("pnlSelected", "Laser");
  SetShown("pnlSelPort", "socket://10.0.0.9");
  window->WriteDownloadLog();
  const std::string log = testsupport::ReadFile(env.DataHome() / "fwload" / "DownLoad.log");
  EXPECT_NE(log.find("/fw/a.FWV,Firmware V2=Laser,socket://10.0.0.9\n"), std::string::npos) << log;
  EXPECT_EQ(log.rfind("[", 0), 0u);
}

TEST(DownloadLogSection, LeavesTheTimeOutAtMidnight) {
  const QDateTime midnight(QDate(2026, 12, 8), QTime(0, 0));
  const QDateTime later(QDate(2026, 12, 8), QTime(13, 5, 9));
  const std::string date = downloadlog::SectionName(midnight);
  EXPECT_FALSE(date.empty());
  EXPECT_EQ(downloadlog::SectionName(later).rfind(date + " ", 0), 0u);
  EXPECT_GT(downloadlog::SectionName(later).size(), date.size() + 1);
}

TEST_F(DownloadFlow, AnUnattendedRunWithoutAPrinterLeavesAnInteractiveWindowOpen) {
  app->Interactive = 0;
  OpenDocument();
  window->show();
  window->WMAutoRun();
  QApplication::processEvents();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(app->LastResult, 0);
  // "/NO" shaped only the run that did not start: what follows is an interactive session, whose
  // exit code is 0 whatever its downloads come to.
  EXPECT_EQ(app->Interactive, 1);
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4355));
  EXPECT_EQ(window->ExitCode(), 0);
}

TEST_F(DownloadFlow, ARaiseRequestLeavesTheWindowOfAnUnattendedRunHidden) {
  const auto file = env.Root() / "fw.FWB";
  testsupport::WriteFile(file, "data");
  SetShown("edtFileName", file.string());
  OpenDocument();
  app->Interactive = 0;
  app->SelectedPrinter = "queue";
  SetShown("pnlSelected", "queue");
  window->show();
  // A second start asks for the window while the run waits on a confirmation.
  struct Raising : platform::IMessageBoxes {
    std::function<void()> onShow;
    int Show(const std::string&, unsigned, int) override {
      onShow();
      return platform::kIdCancel;
    }
  } raising;
  bool visible = true;
  raising.onShow = [&] {
    window->RaiseToFront();
    visible = window->isVisible();
  };
  platform::SetMessageBoxes(&raising);
  window->WMAutoRun();
  platform::SetMessageBoxes(&boxes);
  EXPECT_FALSE(visible);
  EXPECT_EQ(window->ExitCode(), 3);  // the confirmation was cancelled
}

TEST_F(DownloadFlow, OpeningAFileShowsItsStateOrWhyNot) {
  const auto good = env.Root() / "good.fwb";
  testsupport::WriteFile(good, std::string("[FW_DownLoad]\nFileFormat=FWB\nDownLoadDesc=Main\n"
                                           "DownLoadVersion=V2.10\n") +
                                   '\x1a' + "DATA");
  window->LoadFirmwareFile(QString::fromStdString(good.string()));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(window->findChild<QLabel*>("pnlFileName")->text().toStdString(), good.string());
  EXPECT_EQ(window->findChild<QLabel*>("pnlFileState")->text(), "Main V2.10");
  EXPECT_EQ(app->GetDoc()->FDataSize, 4u);

  // Not in the firmware format: a warning, and the file is taken.
  const auto other = env.Root() / "other.bin";
  testsupport::WriteFile(other, "just bytes");
  window->LoadFirmwareFile(QString::fromStdString(other.string()));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4123));
  EXPECT_EQ(boxes.shown[0].style, 0x40u);
  EXPECT_EQ(boxes.shown[0].help, 9999);
  EXPECT_EQ(window->findChild<QLabel*>("pnlFileName")->text().toStdString(), other.string());

  // A file that cannot be opened: its message, and the shown file stays.
  boxes.shown.clear();
  window->LoadFirmwareFile(QString::fromStdString((env.Root() / "missing.FWB").string()));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, Str(4114));
  EXPECT_EQ(window->findChild<QLabel*>("pnlFileName")->text().toStdString(), other.string());
  EXPECT_EQ(app->GetDoc()->FError, rc::kFileOpen);
}

namespace {

// Acts on the file dialog once it is the open modal window.
void WhenFileDialogIsUp(std::function<void(QFileDialog*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act)] {
    auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!d || !d->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(d);
  });
  timer->start();
}

}  // namespace

TEST_F(DownloadFlow, TheFileDialogOpensInTheLastFolderAndRemembersTheNewOne) {
  const auto folder = env.Root() / "firmware";
  testsupport::WriteFile(folder / "fw.fwb",
                         "[FW_DownLoad]\nFileFormat=FWB\n\x1a"
                         "D");
  app->OpenFolder = env.Root().string();

  // Cancelled: nothing changes, not even the folder.
  WhenFileDialogIsUp([](QFileDialog* d) { d->reject(); });
  window->FileOpen();
  EXPECT_EQ(app->OpenFolder, env.Root().string());
  EXPECT_EQ(app->GetDoc(), nullptr);

  QString directory;
  WhenFileDialogIsUp([&](QFileDialog* d) {
    directory = d->directory().absolutePath();
    // Typed, as a user may: the dialog lists the folder in the background.
    d->findChild<QLineEdit*>("fileNameEdit")
        ->setText(QString::fromStdString((folder / "fw.fwb").string()));
    QMetaObject::invokeMethod(d, "accept");
  });
  window->FileOpen();
  EXPECT_EQ(directory.toStdString(), env.Root().string());
  EXPECT_EQ(app->OpenFolder, folder.string());
  EXPECT_EQ(window->findChild<QLabel*>("pnlFileName")->text().toStdString(),
            (folder / "fw.fwb").string());
  ASSERT_NE(app->GetDoc(), nullptr);
  EXPECT_EQ(app->GetDoc()->FFormatValid, 1);
}

TEST_F(DownloadFlow, TheFileDialogNamesTheKindsAndListsThemInAnyLetterCase) {
  const auto folder = env.Root() / "firmware";
  for (const char* name : {"fw.fwb", "UPPER.FW_", "Mixed.Fwv", "other.txt"})
    testsupport::WriteFile(folder / name, "x");
  app->OpenFolder = folder.string();
  QString kinds;
  QStringList listed;
  WhenFileDialogIsUp([&](QFileDialog* d) {
    kinds = d->findChild<QComboBox*>("fileTypeCombo")->itemText(0);
    // The dialog lists the folder in the background.
    auto* model = d->findChild<QFileSystemModel*>();
    const QModelIndex root = model->index(QString::fromStdString(folder.string()));
    QElapsedTimer t;
    t.start();
    while (model->rowCount(root) < 3 && t.elapsed() < 5000) {
      QApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(5);
    }
    for (int i = 0; i < model->rowCount(root); ++i)
      listed << model->index(i, 0, root).data().toString();
    d->reject();
  });
  window->FileOpen();
  EXPECT_TRUE(kinds.endsWith("(*.FWB *.FW_ *.FWV)")) << kinds.toStdString();
  listed.sort();
  EXPECT_EQ(listed, QStringList({"Mixed.Fwv", "UPPER.FW_", "fw.fwb"}));
}
