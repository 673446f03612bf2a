// The settings file as the application model reads and writes it.
#include "printers/myapp.h"

#include "platform/profile.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ReadFile;
using testsupport::TempEnv;
using testsupport::WriteFile;

namespace {

// The section "FWLOAD.INI" of a settings file, as text.
std::string OwnSection(const std::filesystem::path& file) {
  const std::string all = ReadFile(file);
  const std::size_t start = all.find("[FWLOAD.INI]");
  if (start == std::string::npos) return {};
  const std::size_t end = all.find("\n[", start);
  return all.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}

}  // namespace

TEST(Settings, DefaultsWithoutAFile) {
  TempEnv env;
  TFWLOADApp app;
  EXPECT_EQ(app.SettingsFile(), env.SettingsFile());
  EXPECT_EQ(WindowPos::Read(app.SettingsFile()), (WindowPos{80, 160, 480, 400}));
  const int columns[8] = {200, 60, 50, 40, 120, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(app.GetColumnWidth(i), columns[i]) << i;
  EXPECT_EQ(app.ShowMessage, 1);
  EXPECT_EQ(app.EnableCommand, 1);
  EXPECT_EQ(app.ViewLocal, 1);
  EXPECT_EQ(app.Interactive, 1);
  EXPECT_EQ(app.InitMemory, 1);
  EXPECT_EQ(app.LastResult, 0);
  EXPECT_EQ(app.GetDoc(), nullptr);
  EXPECT_TRUE(app.FileName.empty());
  EXPECT_TRUE(app.SelectedPrinter.empty());
  EXPECT_TRUE(app.OpenFolder.empty());
}

TEST(Settings, AFreshFileAfterStartAndExit) {
  TempEnv env;
  { TFWLOADApp app; }
  // The window writes its own place ("WindowPos"); the program's start-up test sees it.
  EXPECT_EQ(OwnSection(env.SettingsFile()),
            "[FWLOAD.INI]\nColumn0=200\nColumn1=60\nColumn2=50\n"
            "Column3=40\nColumn4=120\nOpenFolder=\nViewLocal=1\n");
  // The model table merged at start comes first.
  const std::string all = ReadFile(env.SettingsFile());
  EXPECT_LT(all.find("[Printers]"), all.find("[FWLOAD.INI]"));
}

TEST(Settings, HandWrittenContentSurvivesAStartAndExit) {
  TempEnv env;
  const std::string before =
      "; my printers, do not touch\n"
      "[Other]\n"
      "x = keep me\n"
      "\n"
      "[fwload.ini]\n"
      "# comment inside\n"
      "WindowPos=1,2,600,500\n"
      "Unknown=kept\n"
      "Column0=10\n"
      "Column1=11\n"
      "Column2=12\n"
      "Column3=13\n"
      "Column4=14\n"
      "Column5=15\n"
      "OpenFolder=/home/nora/fw\n"
      "ViewLocal=1\n"
      "ShowMessage=0\n";
  WriteFile(env.SettingsFile(), before);
  {
    TFWLOADApp app;
    EXPECT_EQ(app.ShowMessage, 0);
    EXPECT_EQ(app.GetColumnWidth(5), 15);
    EXPECT_EQ(app.OpenFolder, "/home/nora/fw");
  }
  const std::string after = ReadFile(env.SettingsFile());
  // Unchanged values are written back unchanged; only the model table is new.
  EXPECT_EQ(after.substr(0, before.size()), before);
}

TEST(Settings, WrittenValuesComeBack) {
  TempEnv env;
  {
    TFWLOADApp app;
    WindowPos{-5, 7, 700, 555}.Write(app.SettingsFile());
    app.SetColumnWidth(4, 33);
    app.SetColumnWidth(6, 99);  // never written
    app.OpenFolder = "/data/ﾌｧｰﾑ";
    app.ViewLocal = 0;
  }
  TFWLOADApp app;
  EXPECT_EQ(WindowPos::Read(app.SettingsFile()), (WindowPos{-5, 7, 700, 555}));
  EXPECT_EQ(app.GetColumnWidth(4), 33);
  EXPECT_EQ(app.GetColumnWidth(6), 0);
  EXPECT_EQ(app.OpenFolder, "/data/ﾌｧｰﾑ");
  EXPECT_EQ(app.ViewLocal, 0);
}

struct WindowPosCase {
  const char* value;
  int left, top, width, height;
};

class WindowPosRules : public ::testing::TestWithParam<WindowPosCase> {};

TEST_P(WindowPosRules, ReadsAsTheSettingsFileAlwaysHas) {
  TempEnv env;
  const WindowPosCase& c = GetParam();
  WriteFile(env.SettingsFile(), std::string("[FWLOAD.INI]\nWindowPos=") + c.value + "\n");
  EXPECT_EQ(WindowPos::Read(env.SettingsFile()), (WindowPos{c.left, c.top, c.width, c.height}));
}

INSTANTIATE_TEST_SUITE_P(
    Values, WindowPosRules,
    ::testing::Values(WindowPosCase{"?", 80, 160, 480, 400},
                      WindowPosCase{"10,20,300,200", 10, 20, 300, 200},
                      WindowPosCase{" 10 , 20 , 300 , 200 ", 10, 20, 300, 200},
                      WindowPosCase{"1,2", 1, 2, 0, 0},         // missing parts are 0
                      WindowPosCase{",,5,,6,7,8", 5, 6, 7, 8},  // empty parts skipped
                      WindowPosCase{"left,top,wide,high", 0, 0, 0, 0},
                      WindowPosCase{"0x10,-3,12x,9", 16, -3, 0, 9}, WindowPosCase{"", 0, 0, 0, 0}));

TEST(Settings, IntegersFollowTheWholeValueRule) {
  TempEnv env;
  WriteFile(env.SettingsFile(),
            "[FWLOAD.INI]\nColumn0=0x20\nColumn1=0x\nColumn2=12abc\nColumn3= 7 \n"
            "ShowMessage=5\nEnableCommand=0\nViewLocal=nonsense\n");
  TFWLOADApp app;
  EXPECT_EQ(app.GetColumnWidth(0), 32);
  EXPECT_EQ(app.GetColumnWidth(1), 60);  // "0x" alone is no number: default
  EXPECT_EQ(app.GetColumnWidth(2), 50);
  EXPECT_EQ(app.GetColumnWidth(3), 7);
  EXPECT_EQ(app.ShowMessage, 1);  // nonzero is on
  EXPECT_EQ(app.EnableCommand, 0);
  EXPECT_EQ(app.ViewLocal, 1);
}

TEST(Settings, GarbageAndLongLinesNeitherCrashNorGetLost) {
  TempEnv env;
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131) % 256);
  const std::string longLine = "[FWLOAD.INI]\nOpenFolder=" + std::string(300000, 'x') + "\n";
  WriteFile(env.SettingsFile(), garbage + "\n" + longLine + garbage);
  {
    TFWLOADApp app;
    EXPECT_EQ(app.OpenFolder.size(), 300000u);
    app.OpenFolder = "/short";
  }
  const std::string after = ReadFile(env.SettingsFile());
  EXPECT_EQ(after.substr(0, garbage.size()), garbage);
  EXPECT_NE(after.find("OpenFolder=/short\n"), std::string::npos);
  EXPECT_NE(after.find(garbage, garbage.size()), std::string::npos);
}

TEST(Settings, AnUnwritableConfigurationFolderChangesNothing) {
  TempEnv env;
  WriteFile(env.SettingsFile(), "[FWLOAD.INI]\nViewLocal=0\n");
  const auto file = env.SettingsFile();
  const std::string failure = testsupport::AsUnprivilegedUser(env, [&]() -> std::string {
    ::chmod(file.c_str(), 0444);
    ::chmod(file.parent_path().c_str(), 0555);
    int viewLocal = -1;
    {
      TFWLOADApp app;
      viewLocal = app.ViewLocal;
    }
    ::chmod(file.parent_path().c_str(), 0755);
    if (viewLocal != 0) return "the setting was not read";
    if (ReadFile(file) != "[FWLOAD.INI]\nViewLocal=0\n") return "the file changed";
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(Settings, AFileWhereTheFolderShouldBeIsNoCrash) {
  TempEnv env;
  // The configuration folder cannot be made: the run goes on with the defaults and the
  // built-in model table.
  WriteFile(env.ConfigHome() / "fwload", "not a folder");
  {
    TFWLOADApp app;
    EXPECT_EQ(app.GetColumnWidth(0), 200);
    EXPECT_EQ(app.ModelTable.Count(), 51);
  }
  EXPECT_EQ(ReadFile(env.ConfigHome() / "fwload"), "not a folder");
}
