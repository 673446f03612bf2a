#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class TDlgMsgBox;
}
class QCheckBox;

// A message box with a check box: the question whether the printer's settings memory is to be
// initialised together with the update.
class TDlgMsgBox : public QDialog {
  Q_OBJECT

 public:
  explicit TDlgMsgBox(QWidget* parent = nullptr);
  ~TDlgMsgBox() override;

  // Fills and shows the dialog modally: 1 (OK) or 2 (Cancel, Esc or the close box).
  int Execute(const std::string& text, int helpContext, int iconType, int checked,
              const std::string& checkCaption);

  // The standard icon of a message-box icon style: 16 stop, 32 question, 48 exclamation,
  // 64 information; 0 for any other value.
  static int IconIdFromType(int iconType);

  QCheckBox* CheckBox1() const;
  int HelpContext() const { return FHelpContext; }

 public slots:
  void ButtonHelpClick();

 private:
  std::unique_ptr<Ui::TDlgMsgBox> ui;
  int FHelpContext = 0;
};

// Standard icon ids.
inline constexpr int kIconIdHand = 32513;
inline constexpr int kIconIdQuestion = 32514;
inline constexpr int kIconIdExclamation = 32515;
inline constexpr int kIconIdAsterisk = 32516;
