// The main window's firmware file: choosing it in the file dialog, opening it, showing its state.
#include "ui/frmmain.h"

#include "ui_frmmain.h"

#include "common/strings.h"
#include "firmware/dwndoc.h"
#include "printers/myapp.h"
#include "ui/uilook.h"
#include "ui/waitcursor.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>

namespace {

// The file dialog's filter from the string table ("caption|patterns|caption|patterns"), shown
// with the patterns as the table writes them ("*.FWB *.FW_ *.FWV"); the dialog matches them
// without regard to letter case, so fw.fwb shows as well as FW.FWB.
QString DialogFilter() {
  const QStringList parts = uilook::Qs(strings::Load(strings::kFileFilter)).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      // "*.*" of the other platform means every file, also one without a dot.
      patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    // The dialog takes the patterns from the last parentheses: the caption's own list goes.
    QString caption = parts[i];
    if (caption.endsWith(')') && caption.contains('(')) caption.truncate(caption.lastIndexOf('('));
    filters << caption.trimmed() + " (" + patterns.join(' ') + ")";
  }
  return filters.join(QStringLiteral(";;"));
}

// The folder of a path: up to its last "/", the root keeping its "/".
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

void TfrmMain::edtFileNameChange() { ui->pnlFileName->setText(ui->edtFileName->text()); }

void TfrmMain::FileOpen() {
  const QString remembered = ui->edtFileName->text();
  QFileDialog dialog(this);
  dialog.setObjectName(QStringLiteral("OpenDialog"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setOption(QFileDialog::ReadOnly, true);
  // Our own dialog: the platform's would apply its own letter-case rules to the filter.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  dialog.setNameFilter(DialogFilter());
  dialog.setDirectory(QString::fromStdString(FApp.OpenFolder));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    dialog.selectFile(remembered);
    return;
  }
  const QString path = dialog.selectedFiles().first();
  FApp.OpenFolder = FolderOf(path.toStdString());
  WaitCursor wait;
  QApplication::processEvents();
  LoadFirmwareFile(path);
  UpdateStatusText();
}

void TfrmMain::LoadFirmwareFile(const QString& path) {
  WaitCursor wait;
  FApp.OpenFile(QFile::encodeName(path).toStdString());
  const TDownDocFile* doc = FApp.GetDoc();
  if (doc->FError != 0) {
    std::string text;
    unsigned style = 0;
    int help = 0;
    GetResultMessage(doc->FError, text, style, help);
    // Which of the package's data files is missing or unreadable.
    if (!doc->FErrorFile.empty()) text += "\n" + doc->FErrorFile;
    ShowConfirmBox(text, style, help);
    return;
  }
  if (doc->FFormatValid != 1) {
    std::string text;
    unsigned style = 0;
    int help = 0;
    GetResultMessage(64, text, style, help);
    ShowConfirmBox(text, style, help);
  }
  ui->edtFileName->setText(path);
  ShowFileState(doc);
  LoadPrinterIcons();
  lstvwPrintersPaint();
}

void TfrmMain::ShowFileState(const TDownDocFile* doc) {
  if (!doc) return;
  ui->pnlFileState->setText(
      QString::fromStdString(doc->FDownLoadDesc + " " + doc->FDownLoadVersion));
}
