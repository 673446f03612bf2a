#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QRect>

#include <memory>
#include <vector>

class QMenu;
class QAction;
class TFWLOADApp;

namespace Ui {
class TfrmMain;
}

// The main window: the chosen file, the selected printer and the printer list, and every command.
class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(TFWLOADApp& app, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Brings the window to the front (a second start of the program asks for it).
  void RaiseToFront();

  Ui::TfrmMain* Form() const { return ui.get(); }
  QMenu* PopupMenu1() const { return FPopupMenu1; }

 public slots:
  void MF_ExitClick();
  void PM_LocalClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void InitControls();
  void SetLocalView(int mode);
  void RestoreBounds();
  void RememberBounds();

  std::unique_ptr<Ui::TfrmMain> ui;
  TFWLOADApp& FApp;
  QMenu* FPopupMenu1 = nullptr;
  // The window's outer bounds, kept while it is visible so they can be stored at the end.
  QRect FBounds;
  bool FBoundsRestored = false;
};

// The minimum outer size of the main window.
inline constexpr int kMinTrackWidth = 480;
inline constexpr int kMinTrackHeight = 360;
