// The printer list and the download confirmations against the private print server.
#include "ui/mainwindowtest.h"

#include "firmware/dwndoc.h"
#include "printers/printers_support.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <optional>

namespace {

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
  QString Status() { return window->findChild<QStatusBar*>("StatusBar")->currentMessage(); }
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

// The printer list over a print server of the test's own, for a test that counts the requests
// the server gets: the fixture's server answers the tests that run beside it as well.
class PrinterListOwnServer : public PrinterList {
 protected:
  void SetUp() override {
    ASSERT_FALSE(server.Socket().empty());
    server.AddQueue("px1400", "socket://127.0.0.1:9/?snmp=false", "TORVA LEAFSPRINT PX-1400");
    server.AddQueue("veloxia-m3", "lpd://127.0.0.1:9/queue", "TORVA VELOXIA M3");
    use.emplace("CUPS_SERVER", server.Socket());
    PrinterList::SetUp();
  }
  void TearDown() override {
    // The window goes while the server it was made with is still there.
    dialog.reset();
    window.reset();
    PrinterList::TearDown();
  }

  printerstest::sandbox::OwnServer server;
  std::optional<printerstest::ScopedEnv> use;
};

}  // namespace

TEST_F(PrinterList, ShowsEveryQueueWithItsModelIconAndGhostsThoseThatCannotBeUpdated) {
  window->lstvwPrintersPaint();
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
  window->lstvwPrintersPaint();
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
  window->lstvwPrintersPaint();
  EXPECT_TRUE(Row("veloxia-m3")->data(0, kGhostRole).toBool());
  EXPECT_EQ(Status().toStdString(), Str(4178));
}

TEST_F(PrinterList, TheSelectedPrinterIsFoundAgainWhateverItsLetterCase) {
  window->findChild<QLabel*>("pnlSelected")->setText("PX1400");
  window->lstvwPrintersPaint();
  ASSERT_NE(list->currentItem(), nullptr);
  EXPECT_EQ(list->currentItem()->text(0), "px1400");
  EXPECT_EQ(app->SelectedPrinter, "px1400");
}

TEST_F(PrinterList, AnUnknownModelOnANetworkPortIsConfirmedTwice) {
  window->lstvwPrintersPaint();
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
  printerstest::FakeSpooler spooler;
  platform::SpoolPrinterData pair;
  pair.Name = "pair";
  pair.Driver = "TORVA PX-1300";
  pair.Port = "LPT1:,LPT2:";
  spooler.Add(pair);
  window->lstvwPrintersPaint();
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
  window->lstvwPrintersPaint();
  ASSERT_NE(Row("lpt-pair"), nullptr);
  EXPECT_EQ(Row("lpt-pair")->text(2), "LPT1:,LPT2:");
}

TEST_F(PrinterList, WithConfirmationsOffACommandModelStillAsksAboutTheSettingsMemory) {
  app->ShowMessage = 0;
  window->lstvwPrintersPaint();
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
  window->lstvwPrintersPaint();
  window->WatchPrinters();
  EXPECT_EQ(Row("added-later"), nullptr);
  printerstest::sandbox::AddQueue("added-later", "socket://127.0.0.1:9/?snmp=false", "TORVA M3");
  window->WatchPrinters();
  QApplication::processEvents();
  EXPECT_NE(Row("added-later"), nullptr);
  printerstest::sandbox::Remove("added-later");
  window->WatchPrinters();
  QApplication::processEvents();
  EXPECT_EQ(Row("added-later"), nullptr);
}

TEST_F(PrinterListOwnServer, ChangesWaitForAnOpenDialogAndComeAsOneRebuild) {
  window->show();
  QApplication::processEvents();  // the first fill, when the window is shown
  // Only the changes reported here may ask the server: the periodic look stays out of the count.
  window->findChild<QTimer*>("PrinterWatch")->stop();
  // The server logs a request once its answer is sent: wait for the first fill's to arrive.
  std::size_t before = server.Requests();
  for (int i = 0; i < 20; ++i) {
    QThread::msleep(100);
    const std::size_t now = server.Requests();
    if (now == before) break;
    before = now;
  }
  QDialog modal(window.get());
  QTimer::singleShot(0, [&] {
    for (int i = 0; i < 5; ++i) window->PrintersChanged();
    QApplication::processEvents();
    // Nothing is rebuilt under an open dialog.
    EXPECT_EQ(server.Requests(), before);
    modal.accept();
  });
  modal.exec();
  QElapsedTimer t;
  t.start();
  while (server.Requests() == before && t.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  QThread::msleep(1200);
  QApplication::processEvents();
  EXPECT_EQ(server.Requests(), before + 1);
}
