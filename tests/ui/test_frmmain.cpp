// The main window as built from its form and the application model.
#include "ui/frmmain.h"

#include <QLabel>
#include <QPushButton>

#include "printers/myapp.h"
#include "support/recordingboxes.h"
#include "support/tempenv.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <stdexcept>

using testsupport::TempEnv;

namespace {

class MainWindow : public ::testing::Test {
 protected:
  TempEnv env;
  std::unique_ptr<TFWLOADApp> app = std::make_unique<TFWLOADApp>();
};

QStringList ActionNames(const QWidget* menu) {
  QStringList names;
  for (QAction* a : menu->actions()) names << a->objectName();
  return names;
}

template <typename T>
T* Find(QWidget& w, const char* name) {
  return w.findChild<T*>(QString::fromLatin1(name));
}

}  // namespace

TEST_F(MainWindow, CarriesTheControlsWithTheirCaptionsAndHints) {
  TfrmMain w(*app);
  EXPECT_EQ(w.objectName(), "frmMain");
  EXPECT_EQ(w.windowTitle(), QStringLiteral("TORVA ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱ ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ"));
  const std::pair<const char*, QString> hints[] = {
      {"SpeedButton1", "ﾌｧｲﾙを開く"},      {"SpeedButton2", "ダウンロード実行"},
      {"spbtnUpdate", "最新の情報に更新"}, {"SpeedButton4", "ﾊﾞｰｼﾞｮﾝ情報"},
      {"pnlFileName", "ファイル名"},       {"edtFileName", "ダウンロードファイルを指定"},
      {"btnBrowse", "ﾌｧｲﾙを開く"},         {"pnlFileState", "ファイルの情報"},
      {"btnExec", "ダウンロード実行"},     {"pnlSelected", "選択されたプリンタ"},
      {"btnPrinters", "プリンタ選択"},     {"lstvwPrinters", "出力先のプリンタを選択"}};
  for (const auto& [name, hint] : hints) {
    QWidget* c = Find<QWidget>(w, name);
    ASSERT_NE(c, nullptr) << name;
    EXPECT_EQ(c->toolTip(), hint) << name;
  }
  EXPECT_EQ(Find<QLabel>(w, "lblFileName")->text(), "ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱ");
  EXPECT_EQ(Find<QLabel>(w, "lblSelected")->text(), "出力先");
  EXPECT_EQ(Find<QPushButton>(w, "btnBrowse")->text(), "参照(&B)");
  EXPECT_EQ(Find<QPushButton>(w, "btnExec")->text(), "実行(&E)");
  EXPECT_EQ(Find<QPushButton>(w, "btnPrinters")->text(), "▼");
  const std::pair<const char*, QString> rows[] = {{"lblSelDrv", "機種"},
                                                  {"lblSelPort", "接続先"},
                                                  {"lblSelPlace", "場所"},
                                                  {"lblSelComment", "コメント"},
                                                  {"lblSelVer", "バージョン"}};
  for (const auto& [name, caption] : rows) EXPECT_EQ(Find<QLabel>(w, name)->text(), caption);
  for (const char* name : {"imgSelIcon", "pnlSelDrv", "pnlSelPort", "pnlSelPlace", "pnlSelComment",
                           "pnlSelVer", "Bevel1", "Bevel2"}) {
    EXPECT_NE(Find<QWidget>(w, name), nullptr) << name;
  }
  EXPECT_NE(w.findChild<QStatusBar*>("StatusBar"), nullptr);
  EXPECT_FALSE(Find<QWidget>(w, "edtFileName")->isVisibleTo(&w));

  QTreeWidget* list = Find<QTreeWidget>(w, "lstvwPrinters");
  ASSERT_EQ(list->columnCount(), 5);
  const QStringList captions = {"ﾌﾟﾘﾝﾀ", "種類", "接続先", "場所", "ｺﾒﾝﾄ"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(list->headerItem()->text(i), captions[i]);
}

TEST_F(MainWindow, MenusInTheirOrder) {
  TfrmMain w(*app);
  QMenuBar* bar = w.findChild<QMenuBar*>("MainMenu1");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(ActionNames(bar).size(), 3);
  QMenu* file = w.findChild<QMenu*>("MENU_FILE");
  QMenu* view = w.findChild<QMenu*>("MENU_View");
  QMenu* about = w.findChild<QMenu*>("FILE_ABOUT");
  ASSERT_TRUE(file && view && about);
  EXPECT_EQ(file->title(), "ﾌｧｲﾙ(&F)");
  EXPECT_EQ(view->title(), "表示(&V)");
  EXPECT_EQ(about->title(), "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟについて(&A)");
  EXPECT_EQ(ActionNames(file), QStringList({"MF_Open", "MF_Execute", "MF_Sep1", "MF_Exit"}));
  EXPECT_EQ(ActionNames(view), QStringList({"MV_LOCAL", "MV_SEP1", "MV_NET", "MV_FTP", "MV_SEP2",
                                            "MV_Update", "MV_SEP3", "MV_History"}));
  EXPECT_EQ(ActionNames(about), QStringList({"MA_Help", "MA_Version"}));
  EXPECT_EQ(ActionNames(w.PopupMenu1()), QStringList({"PM_Local", "N2", "PM_Network", "PM_Ftp"}));
  EXPECT_EQ(w.findChild<QAction*>("MF_Exit")->text(), "終了(&X)");
  EXPECT_EQ(w.findChild<QAction*>("MV_Update")->text(), "最新の情報に更新(&U)");
  EXPECT_EQ(w.findChild<QAction*>("MV_History")->text(), "履歴(&H)");
  EXPECT_EQ(w.findChild<QAction*>("PM_Ftp")->text(), "FTP(&F)");
  // Every command stays available.
  for (QAction* a : w.findChildren<QAction*>())
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
}

TEST_F(MainWindow, TheLocalViewFollowsTheSettingAndIsStoredBack) {
  app->ViewLocal = 0;
  {
    TfrmMain w(*app);
    w.show();
    EXPECT_FALSE(Find<QWidget>(w, "lstvwPrinters")->isVisible());
    EXPECT_FALSE(w.findChild<QAction*>("PM_Local")->isChecked());
    EXPECT_FALSE(w.findChild<QAction*>("MV_LOCAL")->isChecked());
  }
  EXPECT_EQ(app->ViewLocal, 0);

  app->ViewLocal = 1;
  TfrmMain w(*app);
  w.show();
  EXPECT_TRUE(Find<QWidget>(w, "lstvwPrinters")->isVisible());
  w.findChild<QAction*>("PM_Local")->trigger();  // toggles off
  EXPECT_FALSE(Find<QWidget>(w, "lstvwPrinters")->isVisible());
  EXPECT_FALSE(w.findChild<QAction*>("MV_LOCAL")->isChecked());
  w.findChild<QAction*>("MV_LOCAL")->trigger();  // and on again, from the other menu
  EXPECT_TRUE(Find<QWidget>(w, "lstvwPrinters")->isVisible());
  EXPECT_TRUE(w.findChild<QAction*>("PM_Local")->isChecked());
  EXPECT_TRUE(w.findChild<QAction*>("MV_LOCAL")->isChecked());
}

TEST_F(MainWindow, LayoutComesFromTheModelAndGoesBackToIt) {
  WindowPos{30, 40, 640, 500}.Write(app->SettingsFile());
  app->SetColumnWidth(0, 150);
  {
    TfrmMain w(*app);
    w.show();
    QApplication::processEvents();
    EXPECT_EQ(w.frameGeometry().size(), QSize(640, 500));
    EXPECT_EQ(Find<QTreeWidget>(w, "lstvwPrinters")->columnWidth(0), 150);
    // Sizes are stored as the window manager sees them, frame included.
    const QSize frame = w.frameGeometry().size() - w.size();
    w.resize(QSize(700, 520) - frame);
    w.move(12, 34);
    Find<QTreeWidget>(w, "lstvwPrinters")->setColumnWidth(3, 77);
    QApplication::processEvents();
    w.close();
  }
  EXPECT_EQ(WindowPos::Read(app->SettingsFile()), (WindowPos{12, 34, 700, 520}));
  EXPECT_EQ(app->GetColumnWidth(0), 150);
  EXPECT_EQ(app->GetColumnWidth(3), 77);
}

TEST_F(MainWindow, CannotShrinkBelowTheMinimumSize) {
  WindowPos{80, 160, 100, 50}.Write(app->SettingsFile());  // below the minimum: raised to it
  TfrmMain w(*app);
  w.show();
  QApplication::processEvents();
  EXPECT_GE(w.frameGeometry().width(), kMinTrackWidth);
  EXPECT_GE(w.frameGeometry().height(), kMinTrackHeight);
  w.resize(200, 200);
  QApplication::processEvents();
  EXPECT_GE(w.frameGeometry().width(), kMinTrackWidth);
  EXPECT_GE(w.frameGeometry().height(), kMinTrackHeight);
}

TEST_F(MainWindow, ShowsTheCommandLinesPrinterAndFile) {
  app = std::make_unique<TFWLOADApp>(std::vector<std::string>{"/PR=Laser 1"});
  app->FileName = "/data/fw.FWB";
  TfrmMain w(*app);
  EXPECT_EQ(Find<QLabel>(w, "pnlSelected")->text(), "Laser 1");
  EXPECT_EQ(Find<QLabel>(w, "pnlFileName")->text(), "/data/fw.FWB");
}

TEST_F(MainWindow, ExitClosesTheWindow) {
  TfrmMain w(*app);
  w.show();
  w.findChild<QAction*>("MF_Exit")->trigger();
  EXPECT_FALSE(w.isVisible());
}

namespace {

class Throwing : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("the handler failed");
    return QObject::event(e);
  }
};

}  // namespace

TEST(Application, AnExceptionFromAnEventHandlerIsShownAndTheProgramGoesOn) {
  testsupport::RecordingBoxes boxes;
  Throwing target;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "the handler failed");
  EXPECT_EQ(boxes.shown[0].style, platform::mb::kIconStop);
  // The loop still delivers events.
  bool delivered = false;
  QMetaObject::invokeMethod(
      &target, [&] { delivered = true; }, Qt::QueuedConnection);
  QCoreApplication::processEvents();
  EXPECT_TRUE(delivered);
}
