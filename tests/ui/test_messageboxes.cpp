// Message boxes on the screen: style words mapped onto Qt's boxes.
#include "ui/messageboxes.h"

#include "ui/help.h"
#include "ui/waitcursor.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

QMessageBox* OpenBox() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

QPushButton* ButtonWithText(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons()) {
    if (b->text() == text) return qobject_cast<QPushButton*>(b);
  }
  return nullptr;
}

void WhileShown(std::function<void(QMessageBox*)> act) {
  QTimer::singleShot(0, [act = std::move(act)] { act(OpenBox()); });
}

}  // namespace

TEST(MessageBoxes, QuestionWithCancelAsDefaultAndHelp) {
  QtMessageBoxes boxes;
  bool checked = false;
  WhileShown([&](QMessageBox* box) {
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("TORVA ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱ ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ"));
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->text(), "line one\nline two");
    EXPECT_EQ(box->buttons().size(), 3);
    EXPECT_EQ(box->defaultButton(), ButtonWithText(box, "ｷｬﾝｾﾙ"));
    checked = true;
    box->defaultButton()->click();
  });
  EXPECT_EQ(boxes.Show("line one\rline two", 0x4121, 1011), 2);
  EXPECT_TRUE(checked);
}

TEST(MessageBoxes, HelpOpensTheTopicAndTheBoxWaits) {
  QtMessageBoxes boxes;
  bool stillOpen = false;
  WhileShown([&](QMessageBox* box) {
    ButtonWithText(box, "ﾍﾙﾌﾟ")->click();
    QTimer::singleShot(0, [&, box] {
      stillOpen = OpenBox() == box;
      ButtonWithText(box, "OK")->click();
    });
  });
  EXPECT_EQ(boxes.Show("text", 0x4041, 1015), 1);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(help::LastTopic(), 1015);
  // The box is gone; the help window stays for the person to read on.
  QApplication::processEvents();
  QWidget* helpWindow = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "HelpWindow" && w->isVisible()) helpWindow = w;
  }
  ASSERT_NE(helpWindow, nullptr);
  helpWindow->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MessageBoxes, TheHourglassStepsAsideWhileABoxWaits) {
  QtMessageBoxes boxes;
  {
    WaitCursor busy;
    bool hourglassOverBox = true;
    WhileShown([&](QMessageBox* box) {
      hourglassOverBox = QApplication::overrideCursor() != nullptr;
      box->defaultButton()->click();
    });
    boxes.Show("text", 0x40, 0);
    EXPECT_FALSE(hourglassOverBox);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);  // back once the box is answered
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(MessageBoxes, IconsAndSingleButtons) {
  QtMessageBoxes boxes;
  const std::pair<unsigned, QMessageBox::Icon> cases[] = {{0x10, QMessageBox::Critical},
                                                          {0x30, QMessageBox::Warning},
                                                          {0x40, QMessageBox::Information}};
  for (const auto& [style, icon] : cases) {
    WhileShown([&, icon = icon](QMessageBox* box) {
      EXPECT_EQ(box->icon(), icon);
      EXPECT_EQ(box->buttons().size(), 1);
      box->reject();  // Esc or the close box on a single OK counts as OK
    });
    EXPECT_EQ(boxes.Show("t", style, 0), 1);
  }
}
