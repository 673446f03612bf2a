// The printer catalogue over a spooler and an access library that the tests describe: port
// rules, record filling, and the FTP branch with its remembered model.
#include "common/codes.h"
#include "firmware/dwndoc.h"
#include "platform/spooler_cups.h"
#include "printers/funcs.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/fakeaccess.h"
#include "support/fakespooler.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using platform::SpoolPrinterData;
using printerstest::RecordingChooser;
using testsupport::FakeAccessLibrary;
using testsupport::FakeSpooler;
using testsupport::TempEnv;

SpoolPrinterData Queue(const std::string& name, const std::string& driver,
                       const std::string& port) {
  SpoolPrinterData d;
  d.Name = name;
  d.Driver = driver;
  d.Port = port;
  return d;
}

TEST(PortRules, FlagsOfPortTexts) {
  struct Case {
    const char* port;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {"LPT1:,LPT2:", kPortParallel | kPortSeveral},
      {"lpt3:", kPortParallel},
      {"LPT9:", kPortParallel},
      {"LPT10:", 0},
      {"LPT0:", 0},
      {"COM1:", 0},
      {"FILE:,LPT1:", kPortSeveral},
      {"LPT1", 0},
      {"LPT1:x", 0},
      {",LPT2:", kPortParallel},  // empty parts are skipped
      {"LPT2:,", kPortParallel},
      {"", 0},
      {",,", 0},
      {"socket://10.0.0.5:9100/?snmp=false", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(PortFlagsOf(c.port), c.flags) << c.port;
}

TEST(PortRules, GetPortFlagsReadsThePrintersPortText) {
  FakeSpooler spooler;
  spooler.Add(Queue("two", "d", "LPT1:,LPT2:"));
  spooler.Add(Queue("lower", "d", "lpt3:"));
  spooler.Add(Queue("ten", "d", "LPT10:"));
  spooler.Add(Queue("com", "d", "COM1:"));
  spooler.Add(Queue("file-first", "d", "FILE:,LPT1:"));
  spooler.Add(Queue("noport", "d", ""));
  spooler.Add(Queue("unreadable", "d", "LPT1:"));
  spooler.Unreadable.push_back("unreadable");
  EXPECT_EQ(GetPortFlags("two"), 0x101u);
  EXPECT_EQ(GetPortFlags("lower"), 0x001u);
  EXPECT_EQ(GetPortFlags("ten"), 0u);
  EXPECT_EQ(GetPortFlags("com"), 0u);
  EXPECT_EQ(GetPortFlags("file-first"), 0x100u);
  EXPECT_EQ(GetPortFlags("noport"), 0u);
  EXPECT_EQ(GetPortFlags("unreadable"), 0u);
  EXPECT_EQ(GetPortFlags("missing"), 0u);
}

TEST(PortRules, DeviceUrisBecomePortTexts) {
  EXPECT_EQ(platform::PortTextOfDeviceUri("parallel:/dev/lp0"), "LPT1:");
  EXPECT_EQ(platform::PortTextOfDeviceUri("parallel:/dev/lp8"), "LPT9:");
  EXPECT_EQ(platform::PortTextOfDeviceUri("parallel:/dev/lp9"), "LPT10:");
  EXPECT_EQ(platform::PortTextOfDeviceUri("parallel:/dev/lp"), "parallel:/dev/lp");
  EXPECT_EQ(platform::PortTextOfDeviceUri("parallel:/dev/lpx"), "parallel:/dev/lpx");
  EXPECT_EQ(platform::PortTextOfDeviceUri("parallel:/dev/usb/lp0"), "parallel:/dev/usb/lp0");
  EXPECT_EQ(platform::PortTextOfDeviceUri("socket://127.0.0.1:9100/?snmp=false"),
            "socket://127.0.0.1:9100/?snmp=false");
  EXPECT_EQ(platform::PortTextOfDeviceUri(""), "");
}

TEST(PortRules, JobStatesBecomeStatusBits) {
  EXPECT_EQ(platform::JobStatusOfState(9), platform::kJobStatusPrinted);
  EXPECT_EQ(platform::JobStatusOfState(7), platform::kJobStatusPrinted | platform::kJobStatusError);
  EXPECT_EQ(platform::JobStatusOfState(8), platform::kJobStatusPrinted | platform::kJobStatusError);
  for (int pendingToStopped : {3, 4, 5, 6}) {
    EXPECT_EQ(platform::JobStatusOfState(pendingToStopped), 0u) << pendingToStopped;
  }
}

TEST(Catalogue, EnumPrinterNamesAppendsInTheSpoolersOrder) {
  FakeSpooler spooler;
  spooler.Add(Queue("b", "d", ""));
  spooler.Add(Queue("a", "d", ""));
  std::vector<std::string> names = {"kept"};
  EXPECT_EQ(EnumPrinterNames(names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"kept", "b", "a"}));

  FakeSpooler none;
  names.clear();
  EXPECT_EQ(EnumPrinterNames(names), 0);
  EXPECT_TRUE(names.empty());

  none.EnumStatus = platform::SpoolStatus::Unreachable;
  names = {"kept"};
  EXPECT_EQ(EnumPrinterNames(names), kEnumSpoolerUnreachable);
  EXPECT_NE(kEnumSpoolerUnreachable, static_cast<int>(rc::kOutOfMemory));
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
}

TEST(Catalogue, QueryPrinterFillsTheRecord) {
  TempEnv env;
  FakeSpooler spooler;
  SpoolPrinterData d = Queue("px1400", "TORVA LEAFSPRINT PX-1400", "LPT1:");
  d.Location = "2F";
  d.Comment = "First line\r\nSecond line\nthird\rfourth";
  spooler.Add(d);
  TFWLOADApp app({}, env.SettingsFile());
  TPrnInfo info;
  info.Version = "left from an FTP printer";
  EXPECT_EQ(app.QueryPrinter("px1400", info), 1);
  EXPECT_EQ(info.Name, "px1400");
  EXPECT_EQ(info.Driver, "TORVA LEAFSPRINT PX-1400");
  EXPECT_EQ(info.Port, "LPT1:");
  EXPECT_EQ(info.Location, "2F");
  EXPECT_EQ(info.Comment, "First line//Second line/third/fourth");
  EXPECT_EQ(info.Version, "");
  EXPECT_EQ(info.Code, 4);
  EXPECT_EQ(info.CodeText, "4");
  EXPECT_EQ(info.Known, 1);
  EXPECT_EQ(info.Command, 0);
}

TEST(Catalogue, NamesAreNeverCutButOtherTextsAre) {
  TempEnv env;
  FakeSpooler spooler;
  const std::string longName(300, 'q');
  SpoolPrinterData d = Queue(longName, std::string(300, 'd'), "LPT1:");
  d.Comment = std::string(250, 'c') + "漢字漢字漢字";  // a cut never splits a character
  d.Location = std::string(400, 'l');
  spooler.Add(d);
  TFWLOADApp app({}, env.SettingsFile());
  TPrnInfo info;
  EXPECT_EQ(app.QueryPrinter(longName, info), 1);
  ASSERT_FALSE(spooler.Opened.empty());
  EXPECT_EQ(spooler.Opened.back(), longName);  // the spooler is given the whole name
  EXPECT_EQ(info.Name, longName);
  EXPECT_EQ(info.Driver.size(), 259u);
  EXPECT_EQ(info.Location.size(), 259u);
  EXPECT_EQ(info.Comment, std::string(250, 'c') + "漢字漢字");

  // A name of 260 characters that the spooler does not know is asked for whole.
  const std::string name260(260, 'n');
  EXPECT_EQ(app.QueryPrinter(name260, info), 1);
  EXPECT_EQ(spooler.Opened.back(), name260);
  EXPECT_EQ(info.Name, name260);
}

TEST(Catalogue, APrinterThatCannotBeOpenedOrReadKeepsNothingOfThePrevious) {
  TempEnv env;
  FakeSpooler spooler;
  SpoolPrinterData d = Queue("m3", "TORVA VELOXIA M3", "LPT1:,LPT2:");
  d.Location = "here";
  d.Comment = "note";
  spooler.Add(d);
  spooler.Add(Queue("unreadable", "TORVA PX-1300", "LPT1:"));
  spooler.Unreadable.push_back("unreadable");
  TFWLOADApp app({}, env.SettingsFile());

  TPrnInfo info;
  ASSERT_EQ(app.QueryPrinter("m3", info), 1);
  ASSERT_EQ(info.Command, 1);
  info.Version = "V1";
  EXPECT_EQ(app.QueryPrinter("gone", info), 1);
  EXPECT_EQ(info.Name, "gone");
  for (const std::string* field :
       {&info.Driver, &info.Port, &info.Location, &info.Comment, &info.CodeText, &info.Version}) {
    EXPECT_EQ(*field, "");
  }
  EXPECT_EQ(info.Code, 0);
  EXPECT_EQ(info.Command, 0);
  EXPECT_EQ(info.Known, 0);

  ASSERT_EQ(app.QueryPrinter("m3", info), 1);
  EXPECT_EQ(app.QueryPrinter("unreadable", info), 0);
  EXPECT_EQ(info.Name, "unreadable");
  EXPECT_EQ(info.Driver, "");
  EXPECT_EQ(info.Port, "");
  EXPECT_EQ(info.Command, 0);

  // No name: nothing changes.
  ASSERT_EQ(app.QueryPrinter("m3", info), 1);
  EXPECT_EQ(app.QueryPrinter("", info), 0);
  EXPECT_EQ(info.Name, "m3");
  EXPECT_EQ(info.Command, 1);
}

TEST(Catalogue, TheRowsOfASnapshotSayWhatThePrintersSayWhenAsked) {
  TempEnv env;
  FakeSpooler spooler;
  spooler.Add(Queue("m3", "TORVA VELOXIA M3", "socket://10.0.0.3"));
  spooler.Add(Queue("old-lpt", "TORVA PX-1300", "LPT1:"));
  spooler.Add(Queue("old-net", "TORVA PX-1300", "socket://10.0.0.4"));
  spooler.Add(Queue("chosen", "???", "socket://10.0.0.5"));
  spooler.Add(Queue("unreadable", "TORVA VELOXIA M3", "LPT1:"));
  spooler.Unreadable.push_back("unreadable");
  spooler.Order.push_back("gone");  // listed, then deleted before it could be opened
  TFWLOADApp app({}, env.SettingsFile());
  app.Doc = std::make_unique<TDownDocFile>();
  app.Doc->FDownLoadPrinter = {"PX-1300", "M3"};
  // The selected printer counts with the model it was selected with.
  app.SelectPrinter("chosen");
  app.PrinterInfo.Driver = "TORVA VELOXIA M3";

  const TPrinterSnapshot snapshot = GatherPrinters();
  ASSERT_EQ(snapshot.Result, 0);
  ASSERT_EQ(snapshot.Printers.size(), 6u);
  const std::map<std::string, bool> ghosted = {{"m3", false},        {"old-lpt", false},
                                               {"old-net", true},    {"chosen", false},
                                               {"unreadable", true}, {"gone", true}};
  for (const TPrinterSnapshot::Printer& p : snapshot.Printers) {
    SCOPED_TRACE(p.Name);
    const TPrinterRow row = app.PrinterRowOf(p);
    TPrnInfo asked;
    EXPECT_EQ(row.Read, app.QueryPrinter(p.Name, asked));
    EXPECT_EQ(row.Info.Name, asked.Name);
    EXPECT_EQ(row.Info.Driver, asked.Driver);
    EXPECT_EQ(row.Info.Port, asked.Port);
    EXPECT_EQ(row.Info.Code, asked.Code);
    EXPECT_EQ(row.Info.CodeText, asked.CodeText);
    EXPECT_EQ(row.Ghosted, !app.IsUpgradable(p.Name) || !app.IsFileForPrinter(p.Name));
    EXPECT_EQ(row.Ghosted, ghosted.at(p.Name));
  }

  // A changed printer changes the snapshot's fingerprint; the server being gone leaves none.
  spooler.Printers["old-net"].Location = "moved";
  const TPrinterSnapshot later = GatherPrinters();
  ASSERT_TRUE(snapshot.Fingerprint && later.Fingerprint);
  EXPECT_NE(*snapshot.Fingerprint, *later.Fingerprint);
  EXPECT_EQ(*later.Fingerprint, *GatherPrinters().Fingerprint);
  spooler.EnumStatus = platform::SpoolStatus::Unreachable;
  const TPrinterSnapshot gone = GatherPrinters();
  EXPECT_EQ(gone.Result, kEnumSpoolerUnreachable);
  EXPECT_FALSE(gone.Fingerprint);
}

TEST(Catalogue, DriverNameOfTheSelectedPrinterAsksNobody) {
  TempEnv env;
  FakeSpooler spooler;
  spooler.Add(Queue("q", "TORVA PX-1300", "LPT1:"));
  TFWLOADApp app({}, env.SettingsFile());
  app.SelectPrinter("q");
  spooler.Opened.clear();
  app.PrinterInfo.Driver = "TORVA VELOXIA M3";  // what the record says counts
  EXPECT_EQ(app.DriverNameOf("q"), "TORVA VELOXIA M3");
  EXPECT_EQ(app.IsCommandModel("q"), 1);
  EXPECT_TRUE(spooler.Opened.empty());
  // Letter case matters here: another spelling is asked of the spooler.
  EXPECT_EQ(app.DriverNameOf("Q"), "");
  EXPECT_EQ(spooler.Opened, std::vector<std::string>{"Q"});
}

TEST(FtpPrinters, TheSelectedPrinterIsAskedOnce) {
  TempEnv env;
  FakeSpooler spooler;
  FakeAccessLibrary library;
  library.Hosts["printer1"] = {true, "PX-E3000", "V1.23", 0};
  TFWLOADApp app({}, env.SettingsFile());
  RecordingChooser chooser(std::nullopt);
  app.SetModelChooser(&chooser);

  app.SelectPrinter("ftp://printer1/ketora0");
  EXPECT_EQ(library.Asked, std::vector<std::string>{"printer1"});
  EXPECT_EQ(app.PrinterInfo.Name, "");  // the remembered model before the query
  EXPECT_EQ(app.PrinterInfo.Driver, "PX-E3000");
  EXPECT_EQ(app.PrinterInfo.Version, "V1.23");
  EXPECT_EQ(app.PrinterInfo.Port, "ftp://printer1/ketora0");
  EXPECT_EQ(app.PrinterInfo.Code, 7);
  EXPECT_EQ(app.PrinterInfo.Command, 1);
  EXPECT_EQ(app.FtpModel, "PX-E3000");
  EXPECT_EQ(app.FtpVersion, "V1.23");
  EXPECT_EQ(chooser.Asked, 0);

  TPrnInfo again;
  EXPECT_EQ(app.QueryPrinter("FTP://PRINTER1/KETORA0" + std::string(), again), 1);
  // "FTP://" is no FTP address (letter case counts there) ...
  EXPECT_EQ(again.Driver, "");
  // ... but the selected one, compared without regard to case, is answered from memory.
  EXPECT_EQ(app.QueryPrinter("ftp://PRINTER1/ketora0", again), 1);
  EXPECT_EQ(again.Name, "PX-E3000");
  EXPECT_EQ(again.Driver, "PX-E3000");
  EXPECT_EQ(again.Version, "V1.23");
  EXPECT_EQ(app.DriverNameOf("ftp://printer1/ketora0"), "PX-E3000");
  EXPECT_EQ(app.IsCommandModel("ftp://printer1/ketora0"), 1);
  EXPECT_EQ(library.Asked.size(), 1u);

  // Another FTP printer is asked, and becomes the remembered one.
  library.Hosts["printer2:2121"] = {true, "PX-1400", "", 0};
  EXPECT_EQ(app.DriverNameOf("ftp://printer2:2121/ketora0"), "PX-1400");
  EXPECT_EQ(library.Asked.back(), "printer2:2121");
  EXPECT_EQ(app.FtpModel, "PX-1400");
  // One that does not answer leaves what was remembered, which is no answer for it.
  EXPECT_EQ(app.DriverNameOf("ftp://silent/ketora0"), "");
  EXPECT_EQ(app.FtpModel, "PX-1400");
}

TEST(FtpPrinters, AModelFromTheCommandLineIsNeverAsked) {
  TempEnv env;
  FakeAccessLibrary library;
  TFWLOADApp app({"/HN=printer1", "/M=PX-1400"}, env.SettingsFile());
  app.SelectPrinter(app.SelectedPrinter);
  EXPECT_TRUE(library.Asked.empty());
  EXPECT_EQ(app.PrinterInfo.Driver, "PX-1400");
  EXPECT_EQ(app.PrinterInfo.Code, 4);
  EXPECT_EQ(app.PrinterInfo.Port, "ftp://printer1/ketora0");
}

TEST(FtpPrinters, APrinterThatDoesNotAnswerIsNoTarget) {
  TempEnv env;
  FakeAccessLibrary library;
  TFWLOADApp app({}, env.SettingsFile());
  RecordingChooser chooser(std::string("PX-1100"));
  app.SetModelChooser(&chooser);
  app.SelectPrinter("ftp://silent/ketora0");
  EXPECT_EQ(app.PrinterInfo.Driver, "???");
  EXPECT_EQ(app.PrinterInfo.Version, "");
  EXPECT_EQ(app.PrinterInfo.Known, 0);
  EXPECT_EQ(app.IsTargetModel(app.SelectedPrinter), 0);
  EXPECT_EQ(chooser.Asked, 0);
  EXPECT_EQ(app.FtpModel, "???");
  // Further queries answer from "???" without asking again.
  TPrnInfo again;
  app.QueryPrinter(app.SelectedPrinter, again);
  EXPECT_EQ(again.Driver, "???");
  EXPECT_EQ(library.Asked.size(), 1u);
}

TEST(FtpPrinters, APrinterWithoutAModelLetsTheUserChoose) {
  TempEnv env;
  FakeAccessLibrary library;
  library.Hosts["quiet"] = {false, "", "", accesscode::kModelUnknown};
  TFWLOADApp app({}, env.SettingsFile());

  RecordingChooser cancel(std::nullopt);
  app.SetModelChooser(&cancel);
  app.SelectPrinter("ftp://quiet/ketora0");
  EXPECT_EQ(cancel.Asked, 1);
  EXPECT_EQ(app.PrinterInfo.Driver, "");
  EXPECT_EQ(app.PrinterInfo.Code, 0);
  EXPECT_EQ(app.PrinterInfo.Known, 0);

  RecordingChooser choose(std::string("M2-212"));
  app.SetModelChooser(&choose);
  app.SelectPrinter("ftp://quiet/ketora0");
  EXPECT_EQ(choose.Asked, 1);
  EXPECT_EQ(app.PrinterInfo.Driver, "M2-212");
  EXPECT_EQ(app.PrinterInfo.Code, 6);
  EXPECT_EQ(app.PrinterInfo.Command, 1);
  // The choice stands for the printer from now on: no question and no request again.
  const std::size_t asked = library.Asked.size();
  app.SelectPrinter("ftp://quiet/ketora0");
  EXPECT_EQ(choose.Asked, 1);
  EXPECT_EQ(library.Asked.size(), asked);
  EXPECT_EQ(app.PrinterInfo.Code, 6);
}

TEST(FtpPrinters, HostsAreTakenFromTheTarget) {
  TempEnv env;
  FakeAccessLibrary library;
  library.Hosts["h"] = {true, "M3", "", 0};
  TFWLOADApp app({}, env.SettingsFile());
  TPrnInfo info;
  app.QueryPrinter("ftp://h", info);  // no directory part
  EXPECT_EQ(info.Driver, "M3");
  EXPECT_EQ(library.Asked, (std::vector<std::string>{"h"}));
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"ftp://host/ketora0", "host"},
      {"ftp://host", "host"},
      {"ftp://host:2121/a/b", "host:2121"},
      {"ftp://[::1]:2121/ketora0", "[::1]:2121"},
      {"ftp://host/", "host"},
      {"ftp://ftp://10.0.0.5/ketora0", std::nullopt},
      {"printer at ftp://h/ketora0", std::nullopt},
      {"host/ketora0", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [target, host] : cases) EXPECT_EQ(GetFtpHost(target), host) << target;
}

TEST(FtpPrinters, TheRememberedModelBelongsToItsPrinter) {
  TempEnv env;
  FakeAccessLibrary library;
  library.Hosts["a"] = {true, "TORVA PX-E3000", "V1", 0};
  library.Hosts["b"] = {true, "TORVA M3", "V2", 0};
  TFWLOADApp app({}, env.SettingsFile());
  RecordingChooser chooser(std::nullopt);
  app.SetModelChooser(&chooser);
  app.SelectPrinter("ftp://a/ketora0");
  EXPECT_EQ(app.PrinterInfo.Driver, "TORVA PX-E3000");
  // A second printer is asked for its own model: it never inherits the first one's.
  app.SelectPrinter("ftp://b/ketora0");
  EXPECT_EQ(app.PrinterInfo.Driver, "TORVA M3");
  EXPECT_EQ(app.PrinterInfo.Version, "V2");
  EXPECT_EQ(app.PrinterInfo.Code, 8);
  // The same printer under another directory or letter case is answered from memory.
  app.SelectPrinter("ftp://B:21/fw");
  EXPECT_EQ(app.PrinterInfo.Driver, "TORVA M3");
  EXPECT_EQ(library.Asked, (std::vector<std::string>{"a", "b"}));

  // "/M=" with "/HN=" gives the model of that printer, not of the next one.
  TFWLOADApp given({"/HN=a:2121", "/M=M2-212"}, env.SettingsFile());
  given.SelectPrinter(given.SelectedPrinter);
  EXPECT_EQ(given.PrinterInfo.Driver, "M2-212");
  EXPECT_EQ(library.Asked.size(), 2u);
  given.SelectPrinter("ftp://b/ketora0");
  EXPECT_EQ(given.PrinterInfo.Driver, "TORVA M3");
  EXPECT_EQ(chooser.Asked, 0);
}

}  // namespace
