// The printer model table: built-in rows, the Printers section of the settings file, lookups and
// the checks of a printer against the open firmware file.
#include "common/strings.h"
#include "firmware/dwndoc.h"
#include "platform/profile.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/fakespooler.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testsupport::FakeSpooler;
using testsupport::TempEnv;

// The built-in rows as the string table holds them: key and value.
std::vector<std::pair<std::string, std::string>> BuiltinRows() {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int id = 1; id <= 199; ++id) {
    const std::string row(strings::Load(id));
    if (row.empty()) continue;
    const auto eq = row.find('=');
    rows.emplace_back(row.substr(0, eq), row.substr(eq + 1));
  }
  return rows;
}

std::vector<std::string> RowNames(const TDLPrinterList& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Get(i)->Name);
  return names;
}

const TDLPrinter* Row(const TFWLOADApp& app, const std::string& name) {
  return app.ModelTable.Get(app.ModelTable.IndexOf(name));
}

// The record LookupModel fills for a driver name.
TPrnInfo Looked(const TFWLOADApp& app, const std::string& driver) {
  TPrnInfo info;
  info.Driver = driver;
  app.LookupModel(info);
  return info;
}

// An open firmware file meant for `models`.
void OpenFileFor(TFWLOADApp& app, std::vector<std::string> models) {
  app.Doc = std::make_unique<TDownDocFile>();
  app.Doc->FDownLoadPrinter = std::move(models);
}

// Makes `driver` the selected printer's driver, as SelectPrinter leaves it.
void SelectDriver(TFWLOADApp& app, const std::string& printer, const std::string& driver) {
  app.SelectedPrinter = printer;
  app.PrinterInfo.Driver = driver;
  app.LookupModel(app.PrinterInfo);
}

TEST(ModelTable, FreshStartHoldsTheBuiltinRowsInResourceOrder) {
  TempEnv env;
  const auto builtin = BuiltinRows();
  ASSERT_EQ(builtin.size(), 51u);
  {
    TFWLOADApp app({}, env.SettingsFile());
    std::vector<std::string> expected;
    for (const auto& [key, value] : builtin) expected.push_back(key);
    EXPECT_EQ(RowNames(app.ModelTable), expected);
    EXPECT_EQ(platform::ProfileFile(env.SettingsFile()).Keys("Printers"), expected);
    for (const auto& [key, value] : builtin) {
      EXPECT_EQ(platform::ProfileFile(env.SettingsFile()).Read("Printers", key), value) << key;
    }
    EXPECT_EQ(Row(app, "PX-E3000")->Code, 7);
    EXPECT_EQ(Row(app, "PX-E3000")->Command, 1);
    EXPECT_EQ(Row(app, "PX-1100")->Code, 1);
    EXPECT_EQ(Row(app, "PX-1100")->Command, 0);
    EXPECT_EQ(Row(app, "TORVA Printer Driver")->CodeText, "0");
    EXPECT_EQ(Row(app, "TORVA VELOXIA PX-E3500")->Code, 10);
  }
  // The model table is merged at start, the window's settings are written at exit after it.
  const std::string file = testsupport::ReadFile(env.SettingsFile());
  EXPECT_EQ(file.rfind("[Printers]", 0), 0u) << file.substr(0, 40);
  EXPECT_NE(file.find("[FWLOAD.INI]"), std::string::npos);
}

TEST(ModelTable, UserValuesSurviveEveryStartAndEmptyValuesAreRestored) {
  TempEnv env;
  testsupport::WriteFile(env.SettingsFile(),
                         "[Printers]\nTORVA PX-1400=2\nTORVA PX-1100=\nMy Driver=3,1\n");
  for (int start = 0; start < 2; ++start) {
    TFWLOADApp app({}, env.SettingsFile());
    const platform::ProfileFile ini(env.SettingsFile());
    EXPECT_EQ(ini.Read("Printers", "TORVA PX-1400"), "2");
    EXPECT_EQ(ini.Read("Printers", "TORVA PX-1100"), "1");
    EXPECT_EQ(Looked(app, "TORVA PX-1400").Code, 2);
    EXPECT_EQ(Looked(app, "TORVA PX-1100").Code, 1);
    EXPECT_EQ(Looked(app, "My Driver").Command, 1);
    // Rows keep the order of the section: the user's rows first, the missing built-ins after.
    EXPECT_EQ(app.ModelTable.Count(), 52);
    EXPECT_EQ(app.ModelTable.Get(0)->Name, "TORVA PX-1400");
    EXPECT_EQ(app.ModelTable.Get(2)->Name, "My Driver");
    EXPECT_EQ(app.ModelTable.Get(3)->Name, "TORVA Printer Driver");
  }
}

TEST(ModelTable, BuiltinRowsCountWhenTheSettingsFileCannotBeWritten) {
  TempEnv env;
  // The settings file's folder is a file: nothing can be written there, not even by root.
  testsupport::WriteFile(env.Root() / "blocked", "a file, not a folder\n");
  const auto settings = env.Root() / "blocked" / "FWLOAD.INI";
  TFWLOADApp app({}, settings);
  EXPECT_EQ(app.ModelTable.Count(), 51);
  EXPECT_EQ(Looked(app, "TORVA VELOXIA M3").Code, 8);
  EXPECT_FALSE(std::filesystem::exists(settings));
}

TEST(ModelTable, DeletedBuiltinRowComesBackAtTheNextStart) {
  TempEnv env;
  { TFWLOADApp app({}, env.SettingsFile()); }
  std::string file = testsupport::ReadFile(env.SettingsFile());
  const std::string row = "TORVA VELOXIA M3=8,1\n";
  ASSERT_NE(file.find(row), std::string::npos);
  file.erase(file.find(row), row.size());
  testsupport::WriteFile(env.SettingsFile(), file);
  TFWLOADApp app({}, env.SettingsFile());
  EXPECT_EQ(Looked(app, "TORVA VELOXIA M3").Code, 8);
  EXPECT_EQ(app.ModelTable.Get(app.ModelTable.Count() - 1)->Name, "TORVA VELOXIA M3");
}

TEST(ModelTable, CodeAndFlagParsing) {
  TempEnv env;
  testsupport::WriteFile(env.SettingsFile(),
                         "[Printers]\n"
                         "A=7,1\nB=7\nC=7,2\nD=,1\nE=\nF=7,1,9\nG=  8 , 1 \nH=px.ico,1\n"
                         "I=0x10,1\nJ=-3\nK=\"9,1\"\nL=,,5,1\n");
  TFWLOADApp app({}, env.SettingsFile());
  struct Expect {
    const char* name;
    const char* codeText;
    int code;
    int command;
  };
  const Expect table[] = {
      {"A", "7", 7, 1},      {"B", "7", 7, 0},       {"C", "7", 7, 0},
      {"D", "1", 1, 0},      {"E", "", 0, 0},        {"F", "7", 7, 1},
      {"G", "8 ", 8, 1},     {"H", "px.ico", 0, 1},  {"I", "0x10", 0, 1},
      {"J", "-3", -3, 0},    {"K", "9", 9, 1},       {"L", "5", 5, 1},
  };
  for (const auto& e : table) {
    const TDLPrinter* row = Row(app, e.name);
    ASSERT_NE(row, nullptr) << e.name;
    EXPECT_EQ(row->CodeText, e.codeText) << e.name;
    EXPECT_EQ(row->Code, e.code) << e.name;
    EXPECT_EQ(row->Command, e.command) << e.name;
  }
}

TEST(ModelTable, LongValuesAndKeysAreCut) {
  TempEnv env;
  const std::string sevens(300, '7');
  // The flag stands past the 259th character: the value is cut before it is split.
  const std::string lateFlag = "5" + std::string(270, ' ') + "x,1";
  const std::string earlyFlag = "3,1," + std::string(296, 'x');
  const std::string longKey = "TORVA PX-1400 WITH A VERY LONG DRIVER NAME";
  testsupport::WriteFile(env.SettingsFile(), "[Printers]\nS=" + sevens + "\nL=" + lateFlag +
                                                 "\nE=" + earlyFlag + "\n" + longKey + "=4\n");
  TFWLOADApp app({}, env.SettingsFile());
  EXPECT_EQ(Row(app, "S")->CodeText, std::string(31, '7'));
  EXPECT_EQ(Row(app, "S")->Code, 0);  // no number fits
  EXPECT_EQ(Row(app, "L")->Command, 0);
  EXPECT_EQ(Row(app, "E")->Code, 3);
  EXPECT_EQ(Row(app, "E")->Command, 1);
  // A key longer than 31 characters is cut, so the whole driver name is never found.
  EXPECT_EQ(Looked(app, longKey).Known, 0);
  const TPrnInfo cut = Looked(app, longKey.substr(0, 31));
  EXPECT_EQ(cut.Known, 1);
  EXPECT_EQ(cut.Code, 4);
}

TEST(ModelTable, GarbageInThePrintersSectionIsIgnored) {
  TempEnv env;
  testsupport::WriteFile(env.SettingsFile(),
                         std::string("[Printers]\n"
                                     "no equals sign here\n"
                                     "=9\n"
                                     "   \n"
                                     "; comment=1\n"
                                     "# other=2\n") +
                             "\x01\x02\xff\xfe binary\n" + "\xff\xfe=\x80,1\n" +
                             "Valid Driver=3,1\r\n" + std::string(5000, 'z') + "\n[Next]\nX=1\n");
  TFWLOADApp app({}, env.SettingsFile());
  EXPECT_EQ(Looked(app, "Valid Driver").Code, 3);
  EXPECT_EQ(Looked(app, "Valid Driver").Command, 1);
  EXPECT_EQ(Looked(app, "X").Known, 0);  // another section
  for (int i = 0; i < app.ModelTable.Count(); ++i) {
    const std::string& name = app.ModelTable.Get(i)->Name;
    EXPECT_FALSE(name.empty());
    EXPECT_NE(name[0], ';');
    EXPECT_NE(name[0], '#');
  }
  // The 51 built-in rows, the valid row and the row whose key is not text.
  EXPECT_EQ(app.ModelTable.Count(), 53);
  EXPECT_EQ(Looked(app, "PX-1100").Code, 1);
}

TEST(ModelTable, GetOutsideTheListIsNone) {
  TempEnv env;
  TFWLOADApp app({}, env.SettingsFile());
  EXPECT_EQ(app.ModelTable.Get(-1), nullptr);
  EXPECT_EQ(app.ModelTable.Get(app.ModelTable.Count()), nullptr);
  EXPECT_NE(app.ModelTable.Get(app.ModelTable.Count() - 1), nullptr);
  TDLPrinterList empty;
  EXPECT_EQ(empty.Get(0), nullptr);
  EXPECT_EQ(empty.IndexOf("PX-1100"), -1);
}

TEST(ModelTable, LookupIgnoresLetterCaseAndMatchesWholeNames) {
  TempEnv env;
  TFWLOADApp app({}, env.SettingsFile());
  const TPrnInfo lower = Looked(app, "torva px-1100");
  EXPECT_EQ(lower.Known, 1);
  EXPECT_EQ(lower.Code, 1);
  EXPECT_EQ(lower.CodeText, "1");
  EXPECT_EQ(app.ModelTable.IndexOf("TORVA PX-1100series"),
            app.ModelTable.IndexOf("TORVA PX-1100") + 1);
  for (const char* notARow : {"TORVA PX-11", "TORVA PX-1100 ", " TORVA PX-1100", "TORVA PX-1100s",
                              "", "???"}) {
    const TPrnInfo info = Looked(app, notARow);
    EXPECT_EQ(info.Known, 0) << notARow;
    EXPECT_EQ(info.Code, 0) << notARow;
    EXPECT_EQ(info.CodeText, "") << notARow;
    EXPECT_EQ(info.Command, 0) << notARow;
  }
  // A lookup clears what a previous driver left.
  TPrnInfo info = Looked(app, "TORVA VELOXIA M3");
  info.Driver = "Unknown";
  app.LookupModel(info);
  EXPECT_EQ(info.Code, 0);
  EXPECT_EQ(info.Command, 0);
  EXPECT_EQ(info.Known, 0);
}

TEST(ModelTable, FilesFitPrintersOfTheirModelCode) {
  TempEnv env;
  TFWLOADApp app({}, env.SettingsFile());
  struct Case {
    const char* fileModel;
    const char* driver;
    int fits;
  };
  const Case cases[] = {
      {"PX-1500", "TORVA LEAFSPRINT PX-1400", 1},  // code 4 shared
      {"PX-1400", "TORVA PX-1500", 1},
      {"PX-1200", "TORVA PX-1250", 1},             // code 2 shared
      {"PX-1100", "TORVA Printer Driver", 0},      // code 0 and text "0" against 1
      {"PX-1100", "torva px-1100series", 1},
      {"PX-E3000", "TORVA PX-E3500", 0},
      {"M2-212", "TORVA VELOXIA M2-212 v5", 1},
      // A printer of no known model never fits because the file's models are unknown too.
      {"PX-9999", "ACME Laser", 0},
      {"", "", 0},
  };
  for (const auto& c : cases) {
    OpenFileFor(app, {c.fileModel});
    SelectDriver(app, "queue", c.driver);
    EXPECT_EQ(app.IsFileForPrinter("queue"), c.fits) << c.fileModel << " / " << c.driver;
  }
  // Any listed model may fit.
  OpenFileFor(app, {"M3", "PX-1300", "PX-E3500"});
  SelectDriver(app, "queue", "TORVA LEAFSPRINT PX-1300series");
  EXPECT_EQ(app.IsFileForPrinter("queue"), 1);
  // No file, or a file that names no model, fits nothing.
  OpenFileFor(app, {});
  EXPECT_EQ(app.IsFileForPrinter("queue"), 0);
  app.Doc.reset();
  EXPECT_EQ(app.IsFileForPrinter("queue"), 0);
}

TEST(ModelTable, TargetCommandAndUpgradableChecks) {
  TempEnv env;
  FakeSpooler spooler;
  spooler.Add({"m3-net", "TORVA VELOXIA M3", "socket://10.1.2.3:9100", "", "", "", false});
  spooler.Add({"px1300-lpt", "TORVA PX-1300", "LPT1:", "", "", "", false});
  spooler.Add({"px1300-com", "TORVA PX-1300", "COM1:", "", "", "", false});
  spooler.Add({"px1300-two", "TORVA PX-1300", "LPT1:,LPT2:", "", "", "", false});
  spooler.Add({"other", "ACME Laser", "LPT1:", "", "", "", false});
  TFWLOADApp app({}, env.SettingsFile());
  struct Case {
    const char* printer;
    int target, command, upgradable;
  };
  const Case cases[] = {
      {"m3-net", 1, 1, 1},      // takes the download command on any port
      {"px1300-lpt", 1, 0, 1},  // only through the standard parallel interface
      {"px1300-com", 1, 0, 0},
      {"px1300-two", 1, 0, 1},
      {"other", 0, 0, 0},
      {"missing", 0, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app.IsTargetModel(c.printer), c.target) << c.printer;
    EXPECT_EQ(app.IsCommandModel(c.printer), c.command) << c.printer;
    EXPECT_EQ(app.IsUpgradable(c.printer), c.upgradable) << c.printer;
  }
}

TEST(ModelTable, RowsAFileBringsAreStoredAndLoaded) {
  TempEnv env;
  TFWLOADApp app({}, env.SettingsFile());
  app.Doc = std::make_unique<TDownDocFile>();
  app.Doc->FPrinters = {{"TORVA PX-9000", "11,1"}, {"TORVA PX-1400", "5"}};
  app.StoreFileModels();
  app.LoadModelTable();
  EXPECT_EQ(Looked(app, "TORVA PX-9000").Code, 11);
  EXPECT_EQ(Looked(app, "TORVA PX-9000").Command, 1);
  EXPECT_EQ(Looked(app, "TORVA PX-1400").Code, 5);  // a file's row replaces the value
  EXPECT_EQ(app.ModelTable.Count(), 52);
  EXPECT_EQ(app.ModelTable.Get(51)->Name, "TORVA PX-9000");
  // And the next start keeps them.
  TFWLOADApp again({}, env.SettingsFile());
  EXPECT_EQ(Looked(again, "TORVA PX-1400").Code, 5);
}

TEST(ModelTable, AFileThatFailsToOpenBringsNoRows) {
  TempEnv env;
  TFWLOADApp app({}, env.SettingsFile());
  // A recognised header whose data file is missing: the open fails with 17.
  const auto file = env.Root() / "fw.FWB";
  testsupport::WriteFile(
      file, "[FW_DownLoad]\nFileFormat=FWB\nDownLoadFile=" + (env.Root() / "missing.bin").string() +
                "\n[Printers]\nTORVA PX-9000=11,1\n");
  app.OpenFile(file.string());
  ASSERT_EQ(app.GetDoc()->FError, 17);
  EXPECT_EQ(Looked(app, "TORVA PX-9000").Known, 0);
  EXPECT_EQ(testsupport::ReadFile(env.SettingsFile()).find("PX-9000"), std::string::npos);
}

}  // namespace
