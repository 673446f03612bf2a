// The spooler layer and the printer catalogue against the private print server of the fixtures
// (tests/printers/fixtures.sh lists its queues).
#include "firmware/dwndoc.h"
#include "platform/spooler.h"
#include "platform/spooler_cups.h"
#include "printers/funcs.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/privateserver.h"
#include "support/run.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::SpoolStatus;
using printerstest::TcpSink;
using testsupport::ScopedEnv;
namespace sandbox = printerstest::sandbox;
using testsupport::TempEnv;

const char* const kStandardQueues[] = {"px1400", "px1300-lpt1", "px1300-lpt2",
                                       "lpt10",  "veloxia-m3",  "プリンタ東京",
                                       "rawq",   "nomodel",     "lpt-pair"};

class Cups : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sandbox::Dir().empty()) << "run through ctest: the print server is a fixture";
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    EXPECT_EQ(platform::Spooler().EnumPrinters(names), SpoolStatus::Ok);
    return names;
  }
  // The standard queues among `names`, in their order: tests that run beside this one add and
  // remove queues of their own at any time.
  static std::vector<std::string> Standard(std::vector<std::string> names) {
    std::erase_if(names, [](const std::string& n) {
      return std::find(std::begin(kStandardQueues), std::end(kStandardQueues), n) ==
             std::end(kStandardQueues);
    });
    return names;
  }
  platform::SpoolPrinterData Data(const std::string& name) {
    auto printer = platform::Spooler().OpenPrinter(name);
    EXPECT_TRUE(printer) << name;
    if (!printer) return {};
    auto data = printer->GetData();
    EXPECT_TRUE(data) << name;
    return data ? *data : platform::SpoolPrinterData();
  }
  // Waits until the job has ended (or `limit` has passed).
  platform::SpoolJobData WaitForEnd(platform::ISpoolPrinter& printer, int job,
                                    std::chrono::milliseconds limit = 20s) {
    platform::SpoolJobData data;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (printer.GetJob(job, data) == SpoolStatus::Ok && data.State >= 7) break;
      std::this_thread::sleep_for(50ms);
    }
    return data;
  }
  TempEnv env_;
};

TEST_F(Cups, ListsEveryQueueAndClassInTheServersOrder) {
  const std::vector<std::string> names = Names();
  for (const char* q : kStandardQueues) {
    EXPECT_NE(std::find(names.begin(), names.end(), q), names.end()) << q;
  }
  // The order the server's own client lists them in.
  std::string lpstat;
  ASSERT_EQ(testsupport::Run({"lpstat", "-e"}, {.Captured = &lpstat}), 0);
  std::vector<std::string> expected;
  std::size_t start = 0;
  while (start < lpstat.size()) {
    const std::size_t nl = lpstat.find('\n', start);
    expected.push_back(lpstat.substr(start, nl - start));
    start = nl == std::string::npos ? lpstat.size() : nl + 1;
  }
  EXPECT_EQ(Standard(names), Standard(expected));
  // A rebuild's snapshot lists the same.
  platform::SpoolerSnapshot snapshot;
  EXPECT_EQ(Standard(Names()), Standard(names));
}

TEST_F(Cups, InstancesOfTheUsersOptionsAreNoPrinters) {
  const std::vector<std::string> plain = Names();
  ScopedEnv home("HOME", env_.Root().string());
  testsupport::WriteFile(env_.Root() / ".cups" / "lpoptions",
                         "Dest px1400/draft sides=one-sided\nDest ghost/x copies=2\n"
                         "Default rawq/fast\n");
  const std::vector<std::string> names = Names();
  EXPECT_EQ(Standard(names), Standard(plain));
  for (const auto& n : names) EXPECT_EQ(n.find('/'), std::string::npos) << n;
}

TEST_F(Cups, PrinterDataAsTheServerHasIt) {
  const auto px1400 = Data("px1400");
  EXPECT_EQ(px1400.Name, "px1400");
  EXPECT_EQ(px1400.Driver, "TORVA LEAFSPRINT PX-1400");
  EXPECT_EQ(px1400.Port, "socket://127.0.0.1:9/?snmp=false");
  EXPECT_EQ(px1400.DeviceUri, "socket://127.0.0.1:9/?snmp=false");
  EXPECT_EQ(px1400.Location, "2F 東側");
  EXPECT_EQ(px1400.Comment, "First line\r\nSecond line");
  EXPECT_FALSE(px1400.IsClass);

  EXPECT_EQ(Data("px1300-lpt1").Port, "LPT1:");
  EXPECT_EQ(Data("px1300-lpt2").Port, "LPT2:");
  EXPECT_EQ(Data("lpt10").Port, "LPT10:");
  EXPECT_EQ(Data("rawq").Driver, "Local Raw Printer");
  EXPECT_EQ(Data("nomodel").Driver, "???");  // the queue reports an empty make-and-model
  EXPECT_EQ(Data("プリンタ東京").Name, "プリンタ東京");
  EXPECT_EQ(Data("プリンタ東京").Driver, "TORVA PX-1100");

  const auto pair = Data("lpt-pair");
  EXPECT_TRUE(pair.IsClass);
  EXPECT_EQ(pair.Port, "LPT1:,LPT2:");
  EXPECT_EQ(pair.DeviceUri, "");

  // Queue names ignore letter case on the server.
  EXPECT_EQ(Data("PX1400").Name, "px1400");

  // A rebuild's snapshot gives the same data for every queue.
  std::vector<platform::SpoolPrinterData> asked;
  for (const char* q : kStandardQueues) asked.push_back(Data(q));
  platform::SpoolerSnapshot snapshot;
  for (std::size_t i = 0; i < asked.size(); ++i) {
    const auto fromSnapshot = Data(kStandardQueues[i]);
    EXPECT_EQ(fromSnapshot.Name, asked[i].Name);
    EXPECT_EQ(fromSnapshot.Driver, asked[i].Driver) << asked[i].Name;
    EXPECT_EQ(fromSnapshot.Port, asked[i].Port) << asked[i].Name;
    EXPECT_EQ(fromSnapshot.Location, asked[i].Location) << asked[i].Name;
    EXPECT_EQ(fromSnapshot.Comment, asked[i].Comment) << asked[i].Name;
    EXPECT_EQ(fromSnapshot.IsClass, asked[i].IsClass) << asked[i].Name;
  }
  EXPECT_EQ(Data("PX1400").Name, "px1400");
}

TEST_F(Cups, UnknownAndOverlongNamesDoNotOpen) {
  for (const std::string& name : {std::string("no-such-queue"), std::string(260, 'p'),
                                  std::string("px1400/draft"), std::string("")}) {
    SpoolStatus why = SpoolStatus::Ok;
    EXPECT_FALSE(platform::Spooler().OpenPrinter(name, &why)) << name;
    EXPECT_EQ(why, SpoolStatus::NotFound) << name;
  }
  platform::SpoolerSnapshot snapshot;
  EXPECT_FALSE(platform::Spooler().OpenPrinter(std::string(260, 'p')));
}

TEST_F(Cups, AQueueDeletedAfterOpeningGivesNoData) {
  sandbox::AddQueue("doomed", "socket://127.0.0.1:9/?snmp=false", "TORVA PX-1400");
  auto printer = platform::Spooler().OpenPrinter("doomed");
  ASSERT_TRUE(printer);
  sandbox::Remove("doomed");
  EXPECT_FALSE(printer->GetData());

  TFWLOADApp app({}, env_.SettingsFile());
  TPrnInfo info;
  info.Driver = "kept";
  EXPECT_EQ(app.ReadSpoolerInfo(*printer, info), 0);
  EXPECT_EQ(info.Driver, "kept");
}

TEST_F(Cups, QueryPrinterDescribesTheQueues) {
  TFWLOADApp app({}, env_.SettingsFile());
  TPrnInfo info;
  EXPECT_EQ(app.QueryPrinter("px1400", info), 1);
  EXPECT_EQ(info.Name, "px1400");
  EXPECT_EQ(info.Driver, "TORVA LEAFSPRINT PX-1400");
  EXPECT_EQ(info.Comment, "First line//Second line");
  EXPECT_EQ(info.Location, "2F 東側");
  EXPECT_EQ(info.Version, "");
  EXPECT_EQ(info.Code, 4);
  EXPECT_EQ(info.Known, 1);

  EXPECT_EQ(app.QueryPrinter("プリンタ東京", info), 1);
  EXPECT_EQ(info.Name, "プリンタ東京");
  EXPECT_EQ(info.Code, 1);

  EXPECT_EQ(app.QueryPrinter("nomodel", info), 1);
  EXPECT_EQ(info.Driver, "???");
  EXPECT_EQ(info.Known, 0);

  // A name of 260 characters is asked for whole; the server knows no such queue.
  const std::string longName(260, 'x');
  EXPECT_EQ(app.QueryPrinter(longName, info), 1);
  EXPECT_EQ(info.Name, longName);
  EXPECT_EQ(info.Driver, "");
  EXPECT_EQ(info.Port, "");
  EXPECT_EQ(info.Known, 0);
}

TEST_F(Cups, PortsAndUpgradability) {
  TFWLOADApp app({}, env_.SettingsFile());
  struct Case {
    const char* queue;
    std::uint32_t flags;
    int target, command, upgradable;
  };
  const Case cases[] = {
      {"px1300-lpt1", 0x001, 1, 0, 1},   {"px1300-lpt2", 0x001, 1, 0, 1},
      {"lpt10", 0x000, 1, 0, 0},         {"lpt-pair", 0x101, 0, 0, 0},
      {"veloxia-m3", 0x000, 1, 1, 1},    {"px1400", 0x000, 1, 0, 0},
      {"rawq", 0x000, 0, 0, 0},          {"nomodel", 0x000, 0, 0, 0},
      {"no-such-queue", 0x000, 0, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetPortFlags(c.queue), c.flags) << c.queue;
    EXPECT_EQ(app.IsTargetModel(c.queue), c.target) << c.queue;
    EXPECT_EQ(app.IsCommandModel(c.queue), c.command) << c.queue;
    EXPECT_EQ(app.IsUpgradable(c.queue), c.upgradable) << c.queue;
  }
  app.Doc = std::make_unique<TDownDocFile>();
  app.Doc->FDownLoadPrinter = {"PX-1500"};
  EXPECT_EQ(app.IsFileForPrinter("px1400"), 1);
  EXPECT_EQ(app.IsFileForPrinter("px1300-lpt1"), 0);
  EXPECT_EQ(app.IsFileForPrinter("nomodel"), 0);

  // A queue without a model is not asked about: "???" is its model, and no target.
  struct Never : IModelChooser {
    bool ChooseModel(std::string&) override {
      ADD_FAILURE() << "asked for a model";
      return false;
    }
  } never;
  app.SetModelChooser(&never);
  app.SelectPrinter("nomodel");
  EXPECT_EQ(app.PrinterInfo.Driver, "???");
}

TEST_F(Cups, ARebuildInASnapshotAsksTheServerOnce) {
  testsupport::PrivateServer server(testsupport::PrivateServer::Use::Exported);
  ASSERT_TRUE(server.Running());  // only this test's requests reach it
  const char* const queues[] = {"px1400", "px1300-lpt1", "rawq"};
  server.AddQueue(queues[0], "socket://127.0.0.1:9/?snmp=false", "TORVA LEAFSPRINT PX-1400");
  server.AddQueue(queues[1], "parallel:/dev/lp0", "TORVA PX-1300");
  server.AddQueue(queues[2], "socket://127.0.0.1:9/?snmp=false");
  TFWLOADApp app({}, env_.SettingsFile());
  app.Doc = std::make_unique<TDownDocFile>();
  app.Doc->FDownLoadPrinter = {"PX-1400"};
  const auto rebuild = [&app]() {
    std::vector<std::string> names;
    EXPECT_EQ(EnumPrinterNames(names), 0);
    int upgradable = 0;
    for (const auto& n : names) {
      TPrnInfo info;
      app.QueryPrinter(n, info);
      upgradable += app.IsUpgradable(n) + app.IsFileForPrinter(n);
    }
    return std::make_pair(names.size(), upgradable);
  };
  std::size_t before = server.Requests(200ms);
  std::pair<std::size_t, int> withSnapshot;
  {
    platform::SpoolerSnapshot snapshot;
    withSnapshot = rebuild();
  }
  EXPECT_EQ(server.Requests(200ms) - before, 1u);

  before = server.Requests(200ms);
  const auto withoutSnapshot = rebuild();
  EXPECT_GT(server.Requests(200ms) - before, withoutSnapshot.first);
  EXPECT_EQ(withSnapshot, withoutSnapshot);
  EXPECT_EQ(withSnapshot.first, std::size(queues));
}

TEST_F(Cups, ARawJobArrivesByteForByte) {
  TcpSink printerPort;
  const std::string queue = "sink" + std::to_string(printerPort.Port());
  sandbox::AddQueue(queue,
                    "socket://127.0.0.1:" + std::to_string(printerPort.Port()) + "/?snmp=false");
  auto printer = platform::Spooler().OpenPrinter(queue);
  ASSERT_TRUE(printer);
  EXPECT_FALSE(printer->Write("x", 1));  // no document yet

  std::string sent;
  for (int i = 0; i < 3 * 512 + 100; ++i) sent += static_cast<char>(i * 7 % 256);
  const int job = printer->StartRawDocument("ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱﾃﾞｰﾀ");
  ASSERT_GT(job, 0);
  for (std::size_t at = 0; at < sent.size(); at += 512) {
    const std::size_t n = std::min<std::size_t>(512, sent.size() - at);
    ASSERT_TRUE(printer->Write(sent.data() + at, n));
  }
  EXPECT_TRUE(printer->Write(sent.data(), 0));
  ASSERT_TRUE(printer->EndDocument());
  EXPECT_FALSE(printer->EndDocument());  // ended once

  const platform::SpoolJobData done = WaitForEnd(*printer, job);
  EXPECT_EQ(done.JobId, job);
  EXPECT_EQ(done.State, 9);
  EXPECT_EQ(done.Status, platform::kJobStatusPrinted);
  std::string received;
  for (const auto& connection : printerPort.Received()) received += connection;
  EXPECT_EQ(received, sent);
  sandbox::Remove(queue);
}

TEST_F(Cups, JobsCanBeCancelledAndAborted) {
  // Nothing answers on port 9: the server keeps such a job processing.
  sandbox::AddQueue("stall", "socket://127.0.0.1:9/?snmp=false");
  auto printer = platform::Spooler().OpenPrinter("stall");
  ASSERT_TRUE(printer);

  const int waiting = printer->StartRawDocument("waiting");
  ASSERT_GT(waiting, 0);
  ASSERT_TRUE(printer->Write("data", 4));
  ASSERT_TRUE(printer->EndDocument());
  platform::SpoolJobData job;
  ASSERT_EQ(printer->GetJob(waiting, job), SpoolStatus::Ok);
  EXPECT_LT(job.State, 7);
  EXPECT_EQ(job.Status, 0u);
  EXPECT_TRUE(printer->CancelJob(waiting));
  job = WaitForEnd(*printer, waiting);
  EXPECT_EQ(job.State, 7);
  EXPECT_EQ(job.Status, platform::kJobStatusPrinted | platform::kJobStatusError);
  EXPECT_TRUE(printer->CancelJob(waiting));  // already ended: nothing left to do

  const int aborted = printer->StartRawDocument("aborted");
  ASSERT_GT(aborted, 0);
  ASSERT_TRUE(printer->Write("part", 4));
  printer->AbortDocument();
  EXPECT_FALSE(printer->Write("more", 4));
  job = WaitForEnd(*printer, aborted);
  EXPECT_GE(job.State, 7);
  EXPECT_NE(job.Status & platform::kJobStatusError, 0u);

  // A handle closed with its document open aborts the job.
  int dropped = 0;
  {
    auto other = platform::Spooler().OpenPrinter("stall");
    dropped = other->StartRawDocument("dropped");
    ASSERT_GT(dropped, 0);
    ASSERT_TRUE(other->Write("part", 4));
  }
  job = WaitForEnd(*printer, dropped);
  EXPECT_NE(job.Status & platform::kJobStatusError, 0u);

  EXPECT_EQ(printer->GetJob(987654321, job), SpoolStatus::NotFound);
  sandbox::Remove("stall");
}

TEST_F(Cups, JobQueriesToAServerThatWentAwayFailWithoutAnAnswer) {
  auto printer = platform::Spooler().OpenPrinter("px1400");
  ASSERT_TRUE(printer);
  ScopedEnv gone("CUPS_SERVER", (env_.Root() / "no-server.sock").string());
  platform::SpoolJobData job;
  EXPECT_EQ(printer->GetJob(1, job), SpoolStatus::Unreachable);
  EXPECT_EQ(printer->StartRawDocument("x"), 0);
}

TEST_F(Cups, NoPrintersIsAnEmptyListAndNoError) {
  ScopedEnv empty("CUPS_SERVER", sandbox::Socket(sandbox::EmptyDir()).string());
  std::vector<std::string> names;
  EXPECT_EQ(EnumPrinterNames(names), 0);
  EXPECT_TRUE(names.empty());
  platform::SpoolerSnapshot snapshot;
  EXPECT_EQ(EnumPrinterNames(names), 0);
  EXPECT_TRUE(names.empty());
}

TEST_F(Cups, AServerThatIsDownGivesAnEmptyListAtOnce) {
  TFWLOADApp app({}, env_.SettingsFile());
  for (const std::string& server :
       {(env_.Root() / "no-server.sock").string(), std::string("/nonexistent/cups.sock"),
        std::string("127.0.0.1:1")}) {
    ScopedEnv down("CUPS_SERVER", server);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> names;
    EXPECT_EQ(EnumPrinterNames(names), kEnumSpoolerUnreachable) << server;
    EXPECT_TRUE(names.empty());
    {
      platform::SpoolerSnapshot snapshot;
      EXPECT_EQ(EnumPrinterNames(names), kEnumSpoolerUnreachable) << server;
      TPrnInfo info;
      EXPECT_EQ(app.QueryPrinter("px1400", info), 1);
      EXPECT_EQ(info.Name, "px1400");
      EXPECT_EQ(info.Driver, "");
    }
    TPrnInfo info;
    info.Driver = "left over";
    EXPECT_EQ(app.QueryPrinter("px1400", info), 1);
    EXPECT_EQ(info.Driver, "");
    EXPECT_EQ(GetPortFlags("px1300-lpt1"), 0u);
    EXPECT_EQ(app.IsUpgradable("px1300-lpt1"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << server;
  }
}

TEST_F(Cups, AServerThatNeverAnswersIsGivenUp) {
  TcpSink silent;  // takes the connection and the request, and never answers
  ScopedEnv hung("CUPS_SERVER", "127.0.0.1:" + std::to_string(silent.Port()));
  platform::CupsSpooler spooler({250, 0.25, 0.25});
  platform::SetSpooler(&spooler);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> names;
  {
    // A rebuild waits for one request only.
    platform::SpoolerSnapshot snapshot;
    EXPECT_EQ(EnumPrinterNames(names), kEnumSpoolerUnreachable);
    EXPECT_FALSE(spooler.OpenPrinter("px1400"));
  }
  EXPECT_EQ(EnumPrinterNames(names), kEnumSpoolerUnreachable);
  platform::SetSpooler(nullptr);
  EXPECT_TRUE(names.empty());
  // libcups waits up to a second for the server's go-ahead before each request's body.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
}

}  // namespace
