// The model choice dialog and the access library's network printer dialog, offscreen.
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/fakeaccess.h"
#include "support/tempenv.h"
#include "ui/prnmodel.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

using testsupport::TempEnv;

class Dialogs : public ::testing::Test {
 protected:
  // Runs `act` on the modal dialog once it is shown.
  static void WhenShown(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act]() {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      act(dialog);
    });
  }
};

const QStringList kModels = {"PX-1100",  "PX-1200", "PX-1300", "PX-1400", "PX-1500", "PX-E3000",
                             "M2",       "M2-212",  "M2-214",  "M3",      "PX-E3500"};

TEST_F(Dialogs, ModelDialogHasItsControlsAndFixedList) {
  TdlgPrnModel dialog;
  EXPECT_EQ(dialog.objectName(), "dlgPrnModel");
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("プリンタ機種の決定"));
  const auto text = [&dialog](const char* name) {
    auto* label = dialog.findChild<QLabel*>(name);
    return label ? label->text() : QString("<missing>");
  };
  EXPECT_EQ(text("Label1"), QString::fromUtf8("接続先のﾌﾟﾘﾝﾀ機種が取得できませんでした。"));
  EXPECT_EQ(text("Label2"), QString::fromUtf8("ﾌﾟﾘﾝﾀ機種を選択してください。"));
  EXPECT_EQ(text("lblModel"), QString::fromUtf8("ﾌﾟﾘﾝﾀ機種名(&M)"));
  auto* image = dialog.findChild<QLabel*>("Image1");
  ASSERT_NE(image, nullptr);
  EXPECT_FALSE(image->pixmap().isNull());
  EXPECT_EQ(dialog.findChild<QLabel*>("lblModel")->buddy(), dialog.cmbModel());
  EXPECT_EQ(dialog.btnOk()->text(), "&OK");
  EXPECT_TRUE(dialog.btnOk()->isDefault());
  EXPECT_EQ(dialog.btnCancel()->text(), QString::fromUtf8("ｷｬﾝｾﾙ"));
  EXPECT_FALSE(dialog.cmbModel()->isEditable());
  QStringList items;
  for (int i = 0; i < dialog.cmbModel()->count(); ++i) items << dialog.cmbModel()->itemText(i);
  EXPECT_EQ(items, kModels);
  EXPECT_EQ(dialog.cmbModel()->currentIndex(), -1);
  EXPECT_FALSE(dialog.btnOk()->isEnabled());
  EXPECT_EQ(dialog.ModelName, "");
  EXPECT_GE(dialog.width(), 336);
  EXPECT_GE(dialog.height(), 145);
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // a fixed dialog frame
}

TEST_F(Dialogs, ModelDialogKeepsTheChoiceBetweenShowings) {
  TdlgPrnModel dialog;
  WhenShown([&dialog](QWidget* shown) {
    ASSERT_EQ(shown, &dialog);
    EXPECT_FALSE(dialog.btnOk()->isEnabled());
    dialog.cmbModel()->setCurrentIndex(kModels.indexOf("PX-E3000"));
    EXPECT_TRUE(dialog.btnOk()->isEnabled());
    dialog.btnOk()->click();
  });
  EXPECT_EQ(dialog.exec(), 1);
  EXPECT_EQ(dialog.ModelName, "PX-E3000");

  // Shown again: the previous choice is there, and OK is enabled; cancel keeps the name.
  WhenShown([&dialog](QWidget*) {
    EXPECT_EQ(dialog.cmbModel()->currentText(), "PX-E3000");
    EXPECT_TRUE(dialog.btnOk()->isEnabled());
    dialog.cmbModel()->setCurrentIndex(kModels.indexOf("M2"));
    dialog.btnCancel()->click();
  });
  EXPECT_EQ(dialog.exec(), 2);
  EXPECT_EQ(dialog.ModelName, "PX-E3000");

  WhenShown([&dialog](QWidget*) { dialog.reject(); });  // Esc or the close box
  EXPECT_EQ(dialog.exec(), 2);
}

TEST_F(Dialogs, SelectPrinterAsksThroughTheDialog) {
  TempEnv env;
  testsupport::FakeAccessLibrary library;
  library.Hosts["quiet"] = {false, "", "", 0x20000011};
  TFWLOADApp app({}, env.SettingsFile());
  TdlgPrnModel dialog;
  TPrnModelChooser chooser(&dialog);
  app.SetModelChooser(&chooser);
  WhenShown([&dialog](QWidget*) {
    dialog.cmbModel()->setCurrentIndex(kModels.indexOf("M2-214"));
    dialog.btnOk()->click();
  });
  app.SelectPrinter("ftp://quiet/ketora0");
  EXPECT_EQ(app.PrinterInfo.Driver, "M2-214");
  EXPECT_EQ(app.PrinterInfo.Code, 9);
  EXPECT_EQ(app.PrinterInfo.Command, 1);
}

TEST_F(Dialogs, AnUnattendedRunNeverShowsTheModelDialog) {
  TdlgPrnModel dialog;
  TPrnModelChooser chooser(&dialog);
  chooser.SetUnattended([] { return true; });
  bool shown = false;
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [&shown]() {
    if (QWidget* w = QApplication::activeModalWidget()) {
      shown = true;
      w->close();
    }
  });
  guard.start(0);
  std::string model = "unchanged";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(chooser.ChooseModel(model));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("fwload:"), std::string::npos);
  EXPECT_NE(err.find("unattended"), std::string::npos);
  EXPECT_EQ(model, "unchanged");
  QApplication::processEvents();
  EXPECT_FALSE(shown);
}

class NetworkDialog : public Dialogs {
 protected:
  static void SetUpTestSuite() {
    Dialogs::SetUpTestSuite();
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }
  // Runs the library's dialog, acting on it with `act`; the chosen target or nullopt.
  std::optional<std::string> Select(std::function<void(QWidget*)> act) {
    WhenShown(std::move(act));
    std::string target;
    if (!AccessLibrary().SelectNetworkPrinter(nullptr, target)) return std::nullopt;
    return target;
  }
};

TEST_F(NetworkDialog, ListsTheQueuesThatReachPrintersOverTheNetwork) {
  ASSERT_FALSE(printerstest::sandbox::Dir().empty()) << "run through ctest";
  QStringList listed;
  const auto chosen = Select([&listed](QWidget* dialog) {
    auto* list = dialog->findChild<QTreeWidget*>("lstvwPrinters");
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < list->topLevelItemCount(); ++i) listed << list->topLevelItem(i)->text(0);
    auto* ok = dialog->findChild<QPushButton*>("btnOk");
    EXPECT_FALSE(ok->isEnabled());
    const auto found = list->findItems("veloxia-m3", Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.front()->text(1), "lpd://127.0.0.1:9/queue");
    EXPECT_EQ(found.front()->text(2), "TORVA VELOXIA M3");
    list->setCurrentItem(found.front());
    EXPECT_TRUE(ok->isEnabled());
    ok->click();
  });
  EXPECT_EQ(chosen, "veloxia-m3");
  for (const char* network : {"px1400", "veloxia-m3", "プリンタ東京", "rawq"}) {
    EXPECT_TRUE(listed.contains(QString::fromUtf8(network))) << network;
  }
  for (const char* local : {"px1300-lpt1", "px1300-lpt2", "lpt10", "lpt-pair"}) {
    EXPECT_FALSE(listed.contains(QString::fromUtf8(local))) << local;
  }
}

TEST_F(NetworkDialog, AnFtpAddressIsReturnedWithItsDirectory) {
  const auto chosen = Select([](QWidget* dialog) {
    auto* list = dialog->findChild<QTreeWidget*>("lstvwPrinters");
    if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(0));
    auto* dir = dialog->findChild<QLineEdit*>("edtFtpDir");
    EXPECT_EQ(dir->text(), "ketora0");
    dialog->findChild<QLineEdit*>("edtFtpAddr")->setText("192.0.2.7");
    EXPECT_TRUE(list->selectedItems().isEmpty());  // a typed address replaces the queue
    dialog->findChild<QPushButton*>("btnOk")->click();
  });
  EXPECT_EQ(chosen, "ftp://192.0.2.7/ketora0");

  const auto otherDir = Select([](QWidget* dialog) {
    dialog->findChild<QLineEdit*>("edtFtpAddr")->setText("printer5");
    dialog->findChild<QLineEdit*>("edtFtpDir")->setText("fw");
    dialog->findChild<QPushButton*>("btnOk")->click();
  });
  EXPECT_EQ(otherDir, "ftp://printer5/fw");

  // An address too long for the caller's buffer cannot be confirmed: it is never cut.
  const auto tooLong = Select([](QWidget* dialog) {
    dialog->findChild<QLineEdit*>("edtFtpAddr")->setText(QString(300, 'a'));
    auto* ok = dialog->findChild<QPushButton*>("btnOk");
    EXPECT_FALSE(ok->isEnabled());
    dialog->findChild<QPushButton*>("btnCancel")->click();
  });
  EXPECT_EQ(tooLong, std::nullopt);
}

TEST_F(NetworkDialog, CancelChoosesNothing) {
  const auto chosen = Select([](QWidget* dialog) {
    dialog->findChild<QLineEdit*>("edtFtpAddr")->setText("192.0.2.7");
    dialog->findChild<QPushButton*>("btnCancel")->click();
  });
  EXPECT_EQ(chosen, std::nullopt);
}

}  // namespace
