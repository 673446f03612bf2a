// Command-line switches and the file argument.
#include "printers/myapp.h"

#include "support/tempenv.h"

#include <gtest/gtest.h>

using testsupport::TempEnv;

namespace {

struct Started {
  TempEnv env;
  std::unique_ptr<TFWLOADApp> app;
  explicit Started(std::vector<std::string> args) {
    app = std::make_unique<TFWLOADApp>(std::move(args));
  }
};

}  // namespace

TEST(SwitchRule, AnAbsolutePathIsNeverASwitch) {
  for (const char* s : {"/NO", "/nm", "/NOW", "/HN=a=b", "/PR=q/NO", "/M=PX-1100", "/IM=1"}) {
    EXPECT_TRUE(IsSwitchArgument(s)) << s;
  }
  for (const char* s : {"/home/user/fw.FWB", "/tmp/x=y/a.FWV", "/NO/PR=x", "fw.FWB", "", "-x"}) {
    EXPECT_FALSE(IsSwitchArgument(s)) << s;
  }
}

TEST(CommandLine, EqualsSwitchesIgnoreCaseButMustBeWhole) {
  Started lower({"/nm", "/nc"});
  EXPECT_EQ(lower.app->ShowMessage, 0);
  EXPECT_EQ(lower.app->EnableCommand, 0);
  Started longer({"/NMX", "/NCC"});
  EXPECT_EQ(longer.app->ShowMessage, 1);
  EXPECT_EQ(longer.app->EnableCommand, 1);
}

TEST(CommandLine, ContainsSwitchesMatchAnywhere) {
  Started now({"/NOW"});
  EXPECT_EQ(now.app->Interactive, 0);
  Started inside({"/X=/no"});
  EXPECT_EQ(inside.app->Interactive, 0);
  Started none({"/N"});
  EXPECT_EQ(none.app->Interactive, 1);
}

TEST(CommandLine, HostNameBuildsTheFtpAddressFromTheLastEquals) {
  Started r({"/HN=a=b"});
  EXPECT_EQ(r.app->SelectedPrinter, "ftp://b/ketora0");
  EXPECT_EQ(r.app->ViewLocal, 0);
  Started lower({"/hn=10.0.0.5"});
  EXPECT_EQ(lower.app->SelectedPrinter, "ftp://10.0.0.5/ketora0");
}

TEST(CommandLine, FtpAddressesInEveryFormBecomeOneTarget) {
  // The forms themselves are the address parser's; here, that both switches go through it.
  const std::pair<const char*, const char*> cases[] = {
      {"/HN=ftp://10.0.0.5:2121/fw", "ftp://10.0.0.5:2121/fw"},
      {"/HN=10.0.0.5/", "ftp://10.0.0.5/"},  // an empty directory: refused when sent
      {"/PR=ftp://10.0.0.5", "ftp://10.0.0.5/ketora0"},
      {"/PR=ftp://10.0.0.5:2121/fw/", "ftp://10.0.0.5:2121/fw"},
  };
  for (const auto& [argument, target] : cases) {
    Started r({argument});
    EXPECT_EQ(r.app->SelectedPrinter, target) << argument;
  }
}

TEST(CommandLine, ValuesKeepTheirCaseAndMayBeEmpty) {
  Started r({"/pr=Office Laser"});
  EXPECT_EQ(r.app->SelectedPrinter, "Office Laser");
  Started empty({"/PR="});
  EXPECT_EQ(empty.app->SelectedPrinter, "");
}

TEST(CommandLine, TheLastPrinterArgumentWinsAndPrinterFollowsHostInOneArgument) {
  Started r({"/PR=first", "/HN=host"});
  EXPECT_EQ(r.app->SelectedPrinter, "ftp://host/ketora0");
  Started r2({"/HN=host", "/PR=queue"});
  EXPECT_EQ(r2.app->SelectedPrinter, "queue");
  // One argument, several switches: "/PR=" is applied after "/HN=".
  Started both({"/HN=/PR=q"});
  EXPECT_EQ(both.app->SelectedPrinter, "q");
  EXPECT_EQ(both.app->ViewLocal, 0);
}

TEST(CommandLine, OneArgumentActsAsSeveralSwitches) {
  // "/PR" before the first "=" holds no other "/": a switch, and it contains three of them.
  Started r({"/PR=x/M=PX-E3000/NO"});
  EXPECT_EQ(r.app->SelectedPrinter, "PX-E3000/NO");
  EXPECT_EQ(r.app->FtpModel, "PX-E3000/NO");
  EXPECT_EQ(r.app->Interactive, 0);
  Started n({"/NOM=PX-1100"});  // contains "/NO", but not "/M="
  EXPECT_EQ(n.app->Interactive, 0);
  EXPECT_EQ(n.app->FtpModel, "");
}

TEST(CommandLine, SwitchesJoinedByASlashAreAPlainArgument) {
  Started r({"/NO/PR=x"});
  EXPECT_EQ(r.app->Interactive, 1);
  EXPECT_EQ(r.app->SelectedPrinter, "");
  EXPECT_EQ(r.app->FileName, "/NO/PR=x");
}

TEST(CommandLine, ModelSetsTheFtpModelAndTheDriver) {
  Started r({"/M=PX-E3000"});
  EXPECT_EQ(r.app->FtpModel, "PX-E3000");
  EXPECT_EQ(r.app->PrinterInfo.Driver, "PX-E3000");
}

TEST(CommandLine, InitMemoryAnswersTheQuestionBeforehand) {
  Started on({"/IM=1"});
  EXPECT_TRUE(on.app->InitMemoryPreset);
  EXPECT_EQ(on.app->InitMemory, 1);
  Started off({"/im=0"});
  EXPECT_TRUE(off.app->InitMemoryPreset);
  EXPECT_EQ(off.app->InitMemory, 0);
  Started bad({"/IM=yes"});
  EXPECT_FALSE(bad.app->InitMemoryPreset);
  EXPECT_EQ(bad.app->InitMemory, 1);
  Started none({});
  EXPECT_FALSE(none.app->InitMemoryPreset);
}

TEST(CommandLine, TheFirstPlainArgumentIsTheFile) {
  Started r({"-reverse", "/NO", "/home/nora/a.FWB", "b.FWB"});
  EXPECT_EQ(r.app->FileName, "/home/nora/a.FWB");
  ASSERT_NE(r.app->GetDoc(), nullptr);
  EXPECT_EQ(r.app->Interactive, 0);
}

TEST(CommandLine, ToolkitOptionsAndTheirValuesAreNotFiles) {
  Started r({"-platform", "offscreen", "--style=fusion", "-style", "fusion", "--display", ":1"});
  EXPECT_TRUE(r.app->FileName.empty());
  EXPECT_EQ(r.app->GetDoc(), nullptr);
  Started f({"-platform", "offscreen", "fw.FWB", "/NO"});
  EXPECT_EQ(f.app->FileName, "fw.FWB");
  Started reverse({"-reverse", "fw.FWB"});  // takes no value
  EXPECT_EQ(reverse.app->FileName, "fw.FWB");
}

TEST(CommandLine, SwitchesOverrideTheSettingsButAreNotSaved) {
  TempEnv env;
  testsupport::WriteFile(env.SettingsFile(), "[FWLOAD.INI]\nShowMessage=1\nEnableCommand=1\n");
  {
    TFWLOADApp app({"/NM", "/NC", "/HN=h"});
    EXPECT_EQ(app.ShowMessage, 0);
    EXPECT_EQ(app.EnableCommand, 0);
  }
  TFWLOADApp app;
  EXPECT_EQ(app.ShowMessage, 1);
  EXPECT_EQ(app.EnableCommand, 1);
  // "/HN=" hid the list; the saved visibility carries that to the next start.
  EXPECT_EQ(app.ViewLocal, 0);
}

TEST(CommandLine, NoAndNmShapeOnlyTheRunTheyStart) {
  struct Case {
    const char* settings;
    std::vector<std::string> args;
    bool unattended;
    int showMessageAfter;  // once the run has ended: as the settings file says
  };
  const Case cases[] = {{"", {"/NO", "/NM"}, true, 1},
                        {"ShowMessage=0\n", {"/NO", "/NM"}, true, 0},
                        {"ShowMessage=0\n", {"/NO"}, true, 0},
                        {"", {"/NO"}, false, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings + ::testing::PrintToString(c.args));
    TempEnv env;
    testsupport::WriteFile(env.SettingsFile(), std::string("[FWLOAD.INI]\n") + c.settings);
    TFWLOADApp app(c.args);
    EXPECT_EQ(app.Unattended(), c.unattended);
    app.EndCommandLineRun();
    EXPECT_FALSE(app.Unattended());
    EXPECT_EQ(app.Interactive, 1);
    EXPECT_EQ(app.ShowMessage, c.showMessageAfter);
  }
}

TEST(CommandLine, LongFileNamesAreNotCut) {
  const std::string name = "/tmp/" + std::string(400, 'f') + ".FWB";
  Started r({name});
  EXPECT_EQ(r.app->FileName, name);
}
