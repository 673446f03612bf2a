// The printer list and the download confirmations against the private print server.
#include "ui/mainwindowtest.h"

#include "firmware/dwndoc.h"
#include "printers/printers_support.h"
#include "support/fakeaccess.h"
#include "support/fakespooler.h"
#include "support/privateserver.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

constexpr int kCodeRole = Qt::UserRole + 1;
constexpr int kGhostRole = Qt::UserRole + 2;

class PrinterList : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    list = window->findChild<QTreeWidget*>("lstvwPrinters");
  }

  QTreeWidgetItem* Row(const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      if (list->topLevelItem(i)->text(0) == name) return list->topLevelItem(i);
    }
    return nullptr;
  }
  // Rebuilds the list and waits until its rows are shown (the server is asked off the window's
  // thread).
  void Paint() {
    window->lstvwPrintersPaint();
    WaitForList();
  }
  void WaitForList() {
    QElapsedTimer t;
    t.start();
    do {  // events first: the window may have a rebuild still to start (when first shown)
      QApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(5);
    } while (window->RebuildUnderWay() && t.elapsed() < 20000);
    ASSERT_FALSE(window->RebuildUnderWay());
  }
  // What the status bar shows: its status line (a label of its own, or the bar's message).
  QString Status() {
    auto* bar = window->findChild<QStatusBar*>("StatusBar");
    auto* line = bar->findChild<QLabel*>("StatusText");
    return line ? line->text() : bar->currentMessage();
  }
  void Select(const QString& name) {
    QTreeWidgetItem* row = Row(name);
    ASSERT_NE(row, nullptr) << name.toStdString();
    list->setCurrentItem(row);
  }
  // A firmware file on disk, opened as for these models.
  void OpenFileFor(std::vector<std::string> models) {
    const auto file = env.Root() / "fw.FWB";
    testsupport::WriteFile(file, "data");
    window->findChild<QLineEdit*>("edtFileName")->setText(QString::fromStdString(file.string()));
    app->Doc = std::make_unique<TDownDocFile>();
    app->Doc->FFormatValid = 1;
    app->Doc->FDataSize = 4;
    app->Doc->FDownLoadPrinter = std::move(models);
  }

  QTreeWidget* list = nullptr;
};

// The printer list over a print server of the test's own, for a test that counts its requests
// (the fixture's server answers the tests that run beside it as well) or pauses it.
class PrinterListPrivateServer : public PrinterList {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Running());
    server.AddQueue("solo", "socket://127.0.0.1:9/?snmp=false", "TORVA VELOXIA M3");
    PrinterList::SetUp();
  }
  void TearDown() override {
    // The window goes while the server it was made with is still there.
    dialog.reset();
    window.reset();
    PrinterList::TearDown();
  }

  testsupport::PrivateServer server{testsupport::PrivateServer::Use::Exported};
};

}  // namespace

TEST_F(PrinterList, ShowsEveryQueueWithItsModelIconAndGhostsThoseThatCannotBeUpdated) {
  Paint();
  EXPECT_TRUE(boxes.shown.empty());
  ASSERT_NE(Row("px1400"), nullptr);
  EXPECT_EQ(Row("px1400")->text(1), "TORVA LEAFSPRINT PX-1400");
  EXPECT_EQ(Row("px1400")->text(4), "First line//Second line");
  EXPECT_EQ(Row("px1400")->data(0, kCodeRole).toString(), "4");
  EXPECT_EQ(Row("veloxia-m3")->data(0, kCodeRole).toString(), "8");
  EXPECT_EQ(Row("px1300-lpt1")->text(2), "LPT1:");
  // Upgradable: a command model anywhere, an old model on a parallel port.
  EXPECT_FALSE(Row("veloxia-m3")->data(0, kGhostRole).toBool());
  EXPECT_FALSE(Row("px1300-lpt1")->data(0, kGhostRole).toBool());
  // Not: an old model on the network or on LPT10:, an unknown driver.
  EXPECT_TRUE(Row("px1400")->data(0, kGhostRole).toBool());
  EXPECT_TRUE(Row("lpt10")->data(0, kGhostRole).toBool());
  EXPECT_TRUE(Row("rawq")->data(0, kGhostRole).toBool());
  EXPECT_EQ(Row("rawq")->data(0, kCodeRole).toString(), "");
  ASSERT_NE(Row("プリンタ東京"), nullptr);
  // Rows are sorted by name.
  for (int i = 1; i < list->topLevelItemCount(); ++i) {
    EXPECT_FALSE(*list->topLevelItem(i) < *list->topLevelItem(i - 1));
  }
}

TEST_F(PrinterList, TheStatusLineSaysWhyAPrinterCannotBeUpdated) {
  Paint();
  Select("px1400");
  EXPECT_EQ(app->SelectedPrinter, "px1400");
  EXPECT_EQ(window->findChild<QLabel*>("pnlSelected")->text(), "px1400");
  EXPECT_EQ(window->findChild<QLabel*>("pnlSelDrv")->text(), "TORVA LEAFSPRINT PX-1400");
  EXPECT_EQ(Status().toStdString(), Str(4179));
  Select("rawq");
  EXPECT_EQ(Status().toStdString(), Str(4177));  // replaces 4179
  Select("veloxia-m3");
  EXPECT_EQ(Status(), "");
  // A file for another model ghosts the printer and says so.
  OpenFileFor({"M2"});
  Paint();
  EXPECT_TRUE(Row("veloxia-m3")->data(0, kGhostRole).toBool());
  EXPECT_EQ(Status().toStdString(), Str(4178));
}

TEST_F(PrinterList, TheSelectedPrinterIsFoundAgainWhateverItsLetterCase) {
  window->findChild<QLabel*>("pnlSelected")->setText("PX1400");
  Paint();
  ASSERT_NE(list->currentItem(), nullptr);
  EXPECT_EQ(list->currentItem()->text(0), "px1400");
  EXPECT_EQ(app->SelectedPrinter, "px1400");
}

TEST_F(PrinterList, AnUnknownModelOnANetworkPortIsConfirmedTwice) {
  Paint();
  Select("rawq");
  OpenFileFor({"PX-E3000"});
  boxes.Answer({1, 2});  // go on past the model warning, stop at the interface notice
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, Str(4103) + Str(4102));
  EXPECT_EQ(boxes.shown[0].style, 0x4121u);
  EXPECT_EQ(boxes.shown[0].help, 1011);
  EXPECT_EQ(boxes.shown[1].text, Str(4105));
  EXPECT_EQ(boxes.shown[1].help, 1012);
  EXPECT_EQ(app->LastResult, 0);
}

TEST_F(PrinterList, TwoPortsAreConfirmedEvenWhenTheFileFits) {
  // A print server cannot give a queue of a known model two parallel ports: a test spooler does.
  testsupport::FakeSpooler spooler;
  platform::SpoolPrinterData pair;
  pair.Name = "pair";
  pair.Driver = "TORVA PX-1300";
  pair.Port = "LPT1:,LPT2:";
  spooler.Add(pair);
  Paint();
  Select("pair");
  OpenFileFor({"PX-1300"});
  boxes.Answer({1, 1, 2});
  window->ExecDownload();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[0].text, Str(4104) + Str(4102));
  EXPECT_EQ(boxes.shown[0].help, 1012);
  // An old model on a parallel port: the port notice, then download mode by hand.
  EXPECT_EQ(boxes.shown[1].text, Str(4107));
  EXPECT_EQ(boxes.shown[1].style, 0x4041u);
  EXPECT_EQ(boxes.shown[1].help, 1020);
  EXPECT_EQ(boxes.shown[2].text, Str(4106));
  EXPECT_EQ(boxes.shown[2].help, 1015);
}

TEST_F(PrinterList, AClassOfTwoQueuesIsAPrinterWithTwoPorts) {
  Paint();
  ASSERT_NE(Row("lpt-pair"), nullptr);
  EXPECT_EQ(Row("lpt-pair")->text(2), "LPT1:,LPT2:");
}

TEST_F(PrinterList, WithConfirmationsOffACommandModelStillAsksAboutTheSettingsMemory) {
  app->ShowMessage = 0;
  Paint();
  Select("veloxia-m3");
  OpenFileFor({"M3"});
  bool asked = false;
  QTimer::singleShot(0, [&] {
    asked = QApplication::activeModalWidget() == dialog.get();
    dialog->findChild<QPushButton*>("ButtonCancel")->click();
  });
  window->ExecDownload();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(app->LastResult, 0);
}

TEST_F(PrinterList, APrinterAddedOnTheServerAppearsWithoutARefresh) {
  window->show();
  Paint();
  window->WatchPrinters();
  WaitForList();
  EXPECT_EQ(Row("added-later"), nullptr);
  printerstest::sandbox::AddQueue("added-later", "socket://127.0.0.1:9/?snmp=false", "TORVA M3");
  window->WatchPrinters();
  WaitForList();
  EXPECT_NE(Row("added-later"), nullptr);
  printerstest::sandbox::Remove("added-later");
  window->WatchPrinters();
  WaitForList();
  EXPECT_EQ(Row("added-later"), nullptr);
}

TEST_F(PrinterListPrivateServer, ChangesWaitForAnOpenDialogAndComeAsOneRebuild) {
  window->show();
  WaitForList();  // the first fill, when the window is shown
  // Only the changes reported here may ask the server: the periodic look stays out of the count.
  window->findChild<QTimer*>("PrinterWatch")->stop();
  const std::size_t before = server.Requests(300ms);
  QDialog modal(window.get());
  QTimer::singleShot(0, [&] {
    for (int i = 0; i < 5; ++i) window->PrintersChanged();
    QTest::qWait(1000);  // the window looks again every half second
    // Nothing is rebuilt under an open dialog.
    EXPECT_EQ(server.Requests(300ms), before);
    modal.accept();
  });
  modal.exec();
  WaitForList();  // until no rebuild is under way or waiting
  EXPECT_EQ(server.Requests(300ms), before + 1);
}

TEST_F(PrinterList, TheStatusLineStaysWhileAMenuItemIsHovered) {
  window->show();
  Paint();
  Select("px1400");
  ASSERT_EQ(Status().toStdString(), Str(4179));
  // What a menu does for the item under the mouse: it shows the item's tip in the status bar.
  window->findChild<QAction*>("MF_Open")->showStatusText(window.get());
  QApplication::processEvents();
  EXPECT_EQ(Status().toStdString(), Str(4179));
}

TEST_F(PrinterList, TheRowClickedAfterAChoiceElsewhereIsThePrinterThatReceivesTheFile) {
  // A network choice hands back a queue or an FTP address; either leaves the list.
  for (const char* elsewhere : {"px1400", "ftp://192.0.2.9/ketora0"}) {
    SCOPED_TRACE(elsewhere);
    testsupport::FakeAccessLibrary access;
    access.NetworkChoice = elsewhere;
    window->show();
    Paint();
    auto click = [&](const char* name) {
      QTreeWidgetItem* row = Row(name);
      ASSERT_NE(row, nullptr);
      list->scrollToItem(row);
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(row).center());
    };
    click("veloxia-m3");
    ASSERT_EQ(app->SelectedPrinter, "veloxia-m3");

    window->findChild<QAction*>("PM_Network")->trigger();
    EXPECT_EQ(app->SelectedPrinter, elsewhere);
    window->findChild<QAction*>("PM_Local")->trigger();  // the list again
    ASSERT_TRUE(list->isVisible());
    // Nothing highlighted speaks for a printer other than the selected one.
    EXPECT_TRUE(list->selectedItems().isEmpty());

    click("veloxia-m3");
    EXPECT_EQ(app->SelectedPrinter, "veloxia-m3");
    EXPECT_EQ(window->findChild<QLabel*>("pnlSelected")->text(), "veloxia-m3");
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems()[0]->text(0), "veloxia-m3");
  }
}

TEST_F(PrinterListPrivateServer, AServerThatStopsAnsweringNeverHoldsTheWindowUp) {
  window->show();
  WaitForList();  // the first fill
  ASSERT_NE(Row("solo"), nullptr);

  server.Pause();
  QElapsedTimer t;
  t.start();
  window->WatchPrinters();                             // the periodic look
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // nobody asked: no hourglass
  window->lstvwPrintersPaint();                        // the person's refresh
  EXPECT_LT(t.elapsed(), 500);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  // The window goes on handling events while the server is silent.
  int ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
  tick.start(20);
  t.restart();
  while (t.elapsed() < 1000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  EXPECT_GT(ticks, 25);
  EXPECT_TRUE(window->RebuildUnderWay());

  server.Resume();
  WaitForList();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_NE(Row("solo"), nullptr);
}
