#pragma once

// A main window over a fresh application model in a private home, with the message dialog, and
// every message box answered and recorded by the test.
#include "ui/frmmain.h"

#include "common/strings.h"
#include "printers/myapp.h"
#include "support/recordingboxes.h"
#include "support/tempenv.h"
#include "ui/dlgmsgbox.h"
#include "ui/forms.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TFWLOADApp>();
    window = std::make_unique<TfrmMain>(*app);
    dialog = std::make_unique<TDlgMsgBox>(window.get());
    DlgMsgBox = dialog.get();
  }
  void TearDown() override { DlgMsgBox = nullptr; }

  // The text of a message.
  static std::string Str(int id) { return std::string(strings::Load(id)); }

  testsupport::TempEnv env;
  testsupport::RecordingBoxes boxes;
  std::unique_ptr<TFWLOADApp> app;
  std::unique_ptr<TfrmMain> window;
  std::unique_ptr<TDlgMsgBox> dialog;
};
