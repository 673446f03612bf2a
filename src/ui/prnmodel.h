#pragma once

#include "printers/myapp.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class TdlgPrnModel;
}

class QComboBox;
class QPushButton;

// The model choice dialog, shown when a printer does not report its model. Built once and shown
// again and again: a later showing starts with the previous choice.
class TdlgPrnModel : public QDialog {
  Q_OBJECT
 public:
  // Modal results: 1 (OK) and 2 (cancel button, Esc or the close box).
  static constexpr int kResultOk = QDialog::Accepted;
  static constexpr int kResultCancel = 2;

  explicit TdlgPrnModel(QWidget* parent = nullptr);
  ~TdlgPrnModel() override;

  void reject() override;

  // The chosen model name after the dialog closed with OK; empty before the first choice.
  std::string ModelName;

  QComboBox* cmbModel() const;
  QPushButton* btnOk() const;
  QPushButton* btnCancel() const;

 private slots:
  void cmbModelChange();
  void btnOkClick();

 private:
  std::unique_ptr<Ui::TdlgPrnModel> ui;
};

// Shows the model choice dialog for SelectPrinter.
class TPrnModelChooser : public IModelChooser {
 public:
  explicit TPrnModelChooser(TdlgPrnModel* dialog) : FDialog(dialog) {}

  // An unattended run (/NO with /NM) never waits for a person: the choice then counts as
  // cancelled and a line on standard error says so. Asked at each choice, as the run is
  // unattended only until it has ended.
  void SetUnattended(std::function<bool()> unattended) { FUnattended = std::move(unattended); }
  bool Unattended() const { return FUnattended && FUnattended(); }

  bool ChooseModel(std::string& modelName) override;

 private:
  TdlgPrnModel* FDialog;
  std::function<bool()> FUnattended;
};
