// The message box with a check box.
#include "ui/dlgmsgbox.h"

#include "ui/help.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Acts on the dialog once its modal loop runs.
void WhileShown(std::function<void()> act) { QTimer::singleShot(0, std::move(act)); }

QPushButton* Button(TDlgMsgBox& d, const char* name) {
  return d.findChild<QPushButton*>(QString::fromLatin1(name));
}

}  // namespace

TEST(DlgMsgBox, FormHasItsControls) {
  TDlgMsgBox d;
  EXPECT_EQ(d.objectName(), "DlgMsgBox");
  EXPECT_EQ(d.windowTitle(), QStringLiteral("TORVA ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱ ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ"));
  EXPECT_EQ(Button(d, "ButtonOk")->text(), "OK");
  EXPECT_EQ(Button(d, "ButtonCancel")->text(), "ｷｬﾝｾﾙ");
  EXPECT_EQ(Button(d, "ButtonHelp")->text(), "ﾍﾙﾌﾟ");
  EXPECT_TRUE(d.CheckBox1()->isChecked());  // the design state
  EXPECT_EQ(d.size(), QSize(375, 143));
}

TEST(DlgMsgBox, IconTypesMapToStandardIcons) {
  EXPECT_EQ(TDlgMsgBox::IconIdFromType(16), 32513);
  EXPECT_EQ(TDlgMsgBox::IconIdFromType(32), 32514);
  EXPECT_EQ(TDlgMsgBox::IconIdFromType(48), 32515);
  EXPECT_EQ(TDlgMsgBox::IconIdFromType(64), 32516);
  EXPECT_EQ(TDlgMsgBox::IconIdFromType(0), 0);
  EXPECT_EQ(TDlgMsgBox::IconIdFromType(80), 0);
}

TEST(DlgMsgBox, OkReturnsOneWithTheCheckBoxAsTheUserLeftIt) {
  TDlgMsgBox d;
  WhileShown([&] {
    EXPECT_EQ(d.findChild<QLabel*>("Label1")->text(), "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟを開始します。");
    EXPECT_EQ(d.CheckBox1()->text(), "ﾌﾟﾘﾝﾀの設定ﾒﾓﾘを初期化する");
    EXPECT_FALSE(d.CheckBox1()->isChecked());  // checked = 0 overrides the design state
    EXPECT_FALSE(d.findChild<QLabel*>("Image1")->pixmap().isNull());
    EXPECT_EQ(Button(d, "ButtonOk")->y(), d.height() - 40);
    d.CheckBox1()->click();
    Button(d, "ButtonOk")->click();
  });
  EXPECT_EQ(d.Execute("ﾊﾞｰｼﾞｮﾝｱｯﾌﾟを開始します。", 1031, 32, 0, "ﾌﾟﾘﾝﾀの設定ﾒﾓﾘを初期化する"), 1);
  EXPECT_TRUE(d.CheckBox1()->isChecked());
}

TEST(DlgMsgBox, CancelEscAndTheCloseBoxReturnTwoAndKeepTheCheckBox) {
  TDlgMsgBox d;
  WhileShown([&] { Button(d, "ButtonCancel")->click(); });
  EXPECT_EQ(d.Execute("t", 0, 32, 1, "c"), 2);
  EXPECT_TRUE(d.CheckBox1()->isChecked());

  WhileShown([&] {
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&d, &esc);
  });
  EXPECT_EQ(d.Execute("t", 0, 32, 0, "c"), 2);
  EXPECT_FALSE(d.CheckBox1()->isChecked());

  WhileShown([&] { d.close(); });
  EXPECT_EQ(d.Execute("t", 0, 99, 1, "c"), 2);
  EXPECT_TRUE(d.findChild<QLabel*>("Image1")->pixmap().isNull());  // no standard icon
}

TEST(DlgMsgBox, HelpOpensTheTopicAndLeavesTheDialogOpen) {
  TDlgMsgBox d;
  bool stillOpen = false;
  WhileShown([&] {
    d.CheckBox1()->setChecked(false);
    Button(d, "ButtonHelp")->click();
    QTimer::singleShot(0, [&] {
      stillOpen = d.isVisible() && !d.CheckBox1()->isChecked();
      Button(d, "ButtonOk")->click();
    });
  });
  EXPECT_EQ(d.Execute("t", 1032, 32, 1, "c"), 1);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(help::LastTopic(), 1032);
  EXPECT_EQ(d.HelpContext(), 1032);
}

TEST(DlgMsgBox, IsCentredOnTheScreenWhereverItsOwnerIs) {
  QWidget owner;
  owner.setGeometry(0, 0, 300, 200);
  owner.show();
  TDlgMsgBox d(&owner);
  QPoint centre;
  WhileShown([&] {
    centre = d.frameGeometry().center();
    Button(d, "ButtonOk")->click();
  });
  d.Execute("t", 0, 32, 1, "c");
  const QPoint screen = d.screen()->availableGeometry().center();
  EXPECT_LE((centre - screen).manhattanLength(), 2) << centre.x() << "," << centre.y();
}
