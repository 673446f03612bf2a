// The program's entry point: one instance per user, the application model before any window,
// the five forms, the event loop.
#include "app/application.h"
#include "common/strings.h"
#include "platform/paths.h"
#include "platform/singleinstance.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "ui/dlgmsgbox.h"
#include "ui/forms.h"
#include "ui/frmmain.h"
#include "ui/frmprntview.h"
#include "ui/ftpconnect.h"
#include "ui/help.h"
#include "ui/messagebox.h"
#include "ui/messageboxes.h"
#include "ui/prnmodel.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "Usage: fwload [FILE] [/PR=queue] [/HN=host] [/M=model] [/NO] [/NM] [/NC] [/IM=1|0]\n"
    "\n"
    "Updates the firmware of a printer with FILE (.FWB, .FW_ or .FWV).\n"
    "\n"
    "  /PR=queue   select the print queue 'queue' (or an FTP printer ftp://host[:port]/dir)\n"
    "  /HN=host    select the FTP printer ftp://host/ketora0; also host:port,\n"
    "              ftp://host[:port], each optionally followed by /dir\n"
    "              (the directory on the printer, ketora0 when none is given)\n"
    "  /M=model    the model of the FTP printer (it is not asked)\n"
    "  /NO         unattended: download at once and exit\n"
    "  /NM         no confirmation boxes (counted as answered with OK)\n"
    "  /NC         never send the download command\n"
    "  /IM=1|0     answer the settings-memory question beforehand (initialise or not)\n"
    "  --help      this text\n"
    "  --version   the version, and where the help file and access library are looked for\n"
    "\n"
    "Toolkit options such as '-platform offscreen' are passed on.\n";

// The help file beside the program.
constexpr char kHelpFileName[] = "FWLOAD.HLP";

// The version, and where the program takes the parts it loads from beside itself, so that an
// installation can be checked without a display.
void PrintVersion() {
  std::printf("fwload %s\n", FWLOAD_VERSION);
  const auto dir = platform::ProgramDir();
  const auto part = [](const char* what, const std::filesystem::path& path) {
    std::error_code ec;
    const bool readable =
        std::filesystem::is_regular_file(path, ec) && std::ifstream(path, std::ios::binary).good();
    std::printf("%s: %s%s\n", what, path.c_str(), readable ? "" : " (missing)");
  };
  part("help file", dir / kHelpFileName);
  part("access library", dir / kAccessLibraryName);
}

void DeleteForms() {
  // The main window stores its layout in the application model when it is destroyed.
  delete dlgPrnModel;
  delete FtpConnect;
  delete DlgMsgBox;
  delete frmPrntView;
  delete frmMain;
  dlgPrnModel = nullptr;
  FtpConnect = nullptr;
  DlgMsgBox = nullptr;
  frmPrntView = nullptr;
  frmMain = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  for (const auto& a : arguments) {
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      PrintVersion();
      return 0;
    }
  }

  CatchCloseSignals();

  // The application model exists before any window, also in a second instance.
  auto model = std::make_unique<TFWLOADApp>(arguments);
  Myapp = model.get();

  platform::SingleInstance instance;
  if (!instance.TryLock()) {
    instance.RequestRaise();
    Myapp = nullptr;
    model.reset();
    platform::RemoveTempDir();
    return 1;
  }

  int exitCode = 0;
  {
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fwload"));
    QApplication::setQuitOnLastWindowClosed(true);
    QtMessageBoxes boxes;
    platform::SetMessageBoxes(&boxes);
    help::SetHelpFile(platform::ProgramDir() / kHelpFileName);
    // Without the library the program still runs; its commands then fail as it would.
    LoadAccessLibrary(platform::ProgramDir() / kAccessLibraryName);

    bool started = false;
    try {
      frmMain = new TfrmMain(*Myapp);
      frmPrntView = new TfrmPrntView(frmMain);
      DlgMsgBox = new TDlgMsgBox(frmMain);
      FtpConnect = new TFtpConnect(frmMain);
      dlgPrnModel = new TdlgPrnModel(frmMain);
      started = true;
    } catch (const std::exception& e) {
      platform::MessageBoxes().Show(e.what(), platform::mb::kIconStop, 0);
      exitCode = 2;  // a start that failed is not reported as success
    }

    TPrnModelChooser chooser(dlgPrnModel);
    if (started) {
      // A run nobody watches never waits on the model choice either.
      chooser.SetUnattended([] { return Myapp && Myapp->Unattended(); });
      Myapp->SetModelChooser(&chooser);
      SetMessageBoxOwner(frmMain);
      CloseMainWindowOnSignals(frmMain);
      instance.Listen([]() {
        if (frmMain) frmMain->RaiseToFront();
      });
      frmMain->show();
      const int loopCode = app.exec();
      CloseMainWindowOnSignals(nullptr);
      exitCode = ProgramExitCode(loopCode, *frmMain);
    }
    SetMessageBoxOwner(nullptr);
    Myapp->SetModelChooser(nullptr);
    DeleteForms();
    platform::SetMessageBoxes(nullptr);
  }

  Myapp = nullptr;
  model.reset();
  platform::RemoveTempDir();
  return exitCode;
}
