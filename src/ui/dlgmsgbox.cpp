#include "ui/dlgmsgbox.h"

#include "ui_dlgmsgbox.h"

#include "ui/help.h"
#include "ui/uilook.h"

#include <QScreen>
#include <QStyle>

namespace {

QStyle::StandardPixmap PixmapOf(int iconId) {
  switch (iconId) {
    case kIconIdHand:
      return QStyle::SP_MessageBoxCritical;
    case kIconIdQuestion:
      return QStyle::SP_MessageBoxQuestion;
    case kIconIdExclamation:
      return QStyle::SP_MessageBoxWarning;
    default:
      return QStyle::SP_MessageBoxInformation;
  }
}

}  // namespace

TDlgMsgBox::TDlgMsgBox(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TDlgMsgBox>()) {
  ui->setupUi(this);
  setFont(uilook::UiFont(16));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(uilook::AppTitle());
  connect(ui->ButtonOk, &QPushButton::clicked, this, [this] { done(1); });
  connect(ui->ButtonCancel, &QPushButton::clicked, this, [this] { done(2); });
  connect(ui->ButtonHelp, &QPushButton::clicked, this, &TDlgMsgBox::ButtonHelpClick);
}

TDlgMsgBox::~TDlgMsgBox() = default;

QCheckBox* TDlgMsgBox::CheckBox1() const { return ui->CheckBox1; }

int TDlgMsgBox::IconIdFromType(int iconType) {
  switch (iconType) {
    case 16:
      return kIconIdHand;
    case 32:
      return kIconIdQuestion;
    case 48:
      return kIconIdExclamation;
    case 64:
      return kIconIdAsterisk;
    default:
      return 0;
  }
}

int TDlgMsgBox::Execute(const std::string& text, int helpContext, int iconType, int checked,
                        const std::string& checkCaption) {
  ui->Label1->setWordWrap(false);
  setWindowTitle(uilook::AppTitle());
  ui->Label1->setText(uilook::BoxText(text));
  ui->Label1->adjustSize();  // sizes itself to the text
  ui->CheckBox1->setText(QString::fromStdString(checkCaption));
  ui->CheckBox1->setChecked(checked != 0);
  FHelpContext = helpContext;

  const int iconId = IconIdFromType(iconType);
  if (iconId == 0) {
    ui->Image1->clear();
  } else {
    ui->Image1->setPixmap(style()->standardIcon(PixmapOf(iconId)).pixmap(32, 32));
    ui->Image1->adjustSize();
  }

  const int top = height() - 40;
  for (QPushButton* b : {ui->ButtonOk, ui->ButtonCancel, ui->ButtonHelp}) b->move(b->x(), top);
  ui->ButtonOk->setDefault(true);
  ui->ButtonOk->setFocus();

  // Centred on the screen, not over the window that owns it.
  const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
  if (screen) {
    winId();  // the window exists, so its frame is known where the system tells it beforehand
    const QSize outer = frameGeometry().size();
    move(screen->availableGeometry().center() - QPoint(outer.width() / 2, outer.height() / 2));
  }

  // Esc and the close box reject: both count as Cancel.
  const int result = exec();
  return result == 1 ? 1 : 2;
}

void TDlgMsgBox::ButtonHelpClick() { help::ShowTopic(FHelpContext, this); }
