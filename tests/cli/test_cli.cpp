// fwload-cli end to end: usage errors, many printers in one send through the private print server
// and over FTP to the printer simulator, questions nobody answers, duplicates, close signals.
#include "cli/cli_support.h"
#include "download/transfer_support.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <map>
#include <memory>

namespace {

using namespace std::chrono_literals;
using clitest::RunCli;
using testsupport::ReadFile;
using testsupport::Simulator;
using transfertest::kCommandModel;
using transfertest::TestQueue;

constexpr const char* kPlainModel = "TORVA PX-PLAIN";

// A plain firmware file for `models`: header, 0x1A, data.
std::string PlainFile(const std::string& models, const std::string& data) {
  return "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=CLI firmware\r\n"
         "DownLoadVersion=V2.00\r\nDownLoadPrinter=\"" +
         models + "\"\r\n\x1a" + data;
}

QJsonObject Json(const std::string& out) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
  return doc.object();
}

// The results of a JSON document by target.
std::map<std::string, QJsonObject> ResultsOf(const QJsonObject& doc) {
  std::map<std::string, QJsonObject> results;
  for (const auto& r : doc["results"].toArray()) {
    results[r.toObject()["target"].toString().toStdString()] = r.toObject();
  }
  return results;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::WriteFile(env.SettingsFile(), std::string("[Printers]\n") + kCommandModel +
                                                   "=3000,1\n" + kPlainModel + "=4000\n");
    data = transfertest::TestData(70000, 7);
    file = env.Root() / "fw.FWB";
    testsupport::WriteFile(file, PlainFile(kCommandModel, data));
  }
  std::string Prefix() const {
    return std::string("cli-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  std::unique_ptr<Simulator> StartSimulator(const std::string& name,
                                            const std::vector<std::string>& args = {}) {
    return std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                       env.Root() / name, args);
  }
  // A queue of the private server in front of its own simulated raw printer.
  void AddRawPrinter(const std::string& name, const std::string& model,
                     const std::vector<std::string>& args = {"--no-ftp", "--no-ipp"}) {
    sims[name] = StartSimulator(name, args);
    queues.push_back(
        std::make_unique<TestQueue>(name, TestQueue::SocketUri(sims[name]->RawPort()), model));
  }
  std::string Stream(int memory = 1) const {
    return transfertest::ExpectedStream(data, true, true, memory);
  }

  testsupport::TempEnv env;
  std::string data;
  std::filesystem::path file;
  std::map<std::string, std::unique_ptr<Simulator>> sims;
  std::vector<std::unique_ptr<TestQueue>> queues;
};

TEST_F(Cli, UsageErrorsEndWithTwoAndSayWhatIsWrong) {
  const std::string f = file.string();
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{}, "no command"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"send", f, "q", "--bogus"}, "unknown option '--bogus'"},
      {{"inspect", f, "--yes"}, "unknown option '--yes' for inspect"},
      {{"send"}, "needs a firmware FILE"},
      {{"send", f}, "needs at least one TARGET"},
      {{"send", f, "q", "--parallel", "0"}, "--parallel takes a number"},
      {{"send", f, "q", "--parallel", "four"}, "--parallel takes a number"},
      {{"send", f, "q", "--parallel"}, "--parallel needs a value"},
      {{"send", f, "q", "--memory", "maybe"}, "--memory takes 'keep' or 'init'"},
      {{"send", f, "q", "--verify=soon"}, "--verify=SECONDS"},
      {{"send", f, "http://host/x"}, "neither a queue name nor an FTP address"},
      {{"send", f, "some/queue"}, "neither a queue name nor an FTP address"},
      {{"send", f, "ftp://"}, "is no FTP address"},
      {{"history", "extra"}, "takes no operand"},
  };
  for (const Case& c : cases) {
    const auto run = RunCli(c.args, env.Root());
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(run.Code, 2) << line << run.Err;
    EXPECT_NE(run.Err.find(c.says), std::string::npos) << line << run.Err;
    EXPECT_EQ(run.Out, "") << line;
  }
  EXPECT_EQ(RunCli({"--help"}, env.Root()).Code, 0);
  const auto version = RunCli({"--version"}, env.Root());
  EXPECT_EQ(version.Code, 0);
  EXPECT_EQ(version.Out.rfind("fwload-cli ", 0), 0u) << version.Out;
}

TEST_F(Cli, InspectDescribesTheFileAndWritesNoSettings) {
  std::filesystem::remove(env.SettingsFile());
  const std::filesystem::path withRows = env.Root() / "rows.FWB";
  testsupport::WriteFile(withRows,
                         "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=D\r\n"
                         "DownLoadVersion=V9\r\nDownLoadPrinter=\"NEW-1\"\r\n"
                         "[Printers]\r\nNEW-1=777,1\r\n\x1a" +
                             data);
  const auto run = RunCli({"inspect", withRows.string(), "--json"}, env.Root());
  EXPECT_EQ(run.Code, 0) << run.Err;
  const QJsonObject doc = Json(run.Out);
  EXPECT_EQ(doc["schema"].toInt(), 1);
  EXPECT_EQ(doc["exit"].toInt(), 0);
  const QJsonObject f = doc["file"].toObject();
  EXPECT_EQ(f["path"].toString().toStdString(), withRows.string());
  EXPECT_TRUE(f["recognised"].toBool());
  EXPECT_EQ(f["description"].toString(), "D");
  EXPECT_EQ(f["version"].toString(), "V9");
  EXPECT_EQ(f["models"].toArray(), QJsonArray{"NEW-1"});
  EXPECT_EQ(f["data_bytes"].toInteger(), static_cast<qint64>(data.size()));
  EXPECT_TRUE(f["begin_message"].isString());
  const QJsonObject command = doc["stream"].toObject()["command_model"].toObject();
  EXPECT_EQ(command["shape"].toString(), "wrapped+trailer");
  EXPECT_EQ(command["bytes"].toInteger(), static_cast<qint64>(data.size() + 72));
  EXPECT_EQ(doc["stream"].toObject()["other_model"].toObject()["shape"].toString(), "plain");
  // The rows the file brings stay out of the settings file.
  EXPECT_FALSE(std::filesystem::exists(env.SettingsFile()));

  const auto missing =
      RunCli({"inspect", (env.Root() / "none.FWB").string(), "--json"}, env.Root());
  EXPECT_EQ(missing.Code, 4);
  const QJsonObject failed = Json(missing.Out);
  EXPECT_TRUE(failed["file"].toObject()["recognised"].isNull());
  EXPECT_EQ(failed["exit"].toInt(), 4);
}

TEST_F(Cli, PrintersSaysWhichQueuesCanBeUpdatedAndWhyNot) {
  const std::string command = Prefix() + "-command";
  const std::string unknown = Prefix() + "-unknown";
  AddRawPrinter(command, kCommandModel);
  AddRawPrinter(unknown, "TORVA NOBODY-1");
  const auto run = RunCli({"printers", "--json"}, env.Root());
  EXPECT_EQ(run.Code, 0) << run.Err;
  std::map<std::string, QJsonObject> rows;
  for (const auto& p : Json(run.Out)["printers"].toArray()) {
    rows[p.toObject()["name"].toString().toStdString()] = p.toObject();
  }
  ASSERT_TRUE(rows.count(command) && rows.count(unknown)) << run.Out;
  EXPECT_EQ(rows[command]["driver"].toString().toStdString(), kCommandModel);
  EXPECT_EQ(rows[command]["model_code"].toString(), "3000");
  EXPECT_TRUE(rows[command]["takes_command"].toBool());
  EXPECT_TRUE(rows[command]["updatable"].toBool());
  EXPECT_TRUE(rows[command]["why_not"].isNull());
  EXPECT_FALSE(rows[unknown]["updatable"].toBool());
  EXPECT_TRUE(rows[unknown]["model_code"].isNull());
  EXPECT_TRUE(rows[unknown]["why_not"].toString().contains("model table"));

  const auto history = RunCli({"history", "--json", "--limit", "5"}, env.Root());
  EXPECT_EQ(history.Code, 0) << history.Err;
  EXPECT_TRUE(Json(history.Out)["history"].isArray()) << history.Out;
}

TEST_F(Cli, TwentyQueuesAndTwoFtpPrintersInOneSendEachGetTheExactStream) {
  std::vector<std::string> targets;
  for (int i = 0; i < 20; ++i) {
    const std::string name = Prefix() + "-" + std::to_string(i);
    AddRawPrinter(name, kCommandModel);
    targets.push_back(name);
  }
  // Two FTP printers; the first reports its model over IPP, the second is named by --model.
  auto ftpA = StartSimulator("ftpA", {"--no-raw", "--model", kCommandModel});
  auto ftpB = StartSimulator("ftpB", {"--no-raw", "--no-ipp"});
  testsupport::WriteFile(env.SettingsFile(), ReadFile(env.SettingsFile()) + "[Access]\nIppPort=" +
                                                 std::to_string(ftpA->IppPort()) + "\n");
  targets.push_back("ftp://" + ftpA->FtpHost());
  targets.push_back("ftp://" + ftpB->FtpHost() + "/ketora0");

  std::vector<std::string> args = {"send", file.string()};
  args.insert(args.end(), targets.begin(), targets.end());
  for (const char* a : {"--yes", "--memory", "init", "--model", kCommandModel, "--json"}) {
    args.push_back(a);
  }
  const auto run = RunCli(args, env.Root());
  EXPECT_EQ(run.Code, 0) << run.Err;
  const QJsonObject doc = Json(run.Out);
  EXPECT_EQ(doc["exit"].toInt(), 0);
  EXPECT_EQ(doc["file"].toObject()["version"].toString(), "V2.00");
  const auto results = ResultsOf(doc);
  ASSERT_EQ(doc["results"].toArray().size(), 22);
  for (int i = 0; i < 20; ++i) {
    const QJsonObject r = results.at(targets[i]);
    EXPECT_EQ(r["code"].toInt(-1), 0) << targets[i];
    EXPECT_EQ(r["kind"].toString(), "queue");
    EXPECT_EQ(r["message_id"].toInt(), 4113);
    EXPECT_GT(r["job_id"].toInt(), 0);
    EXPECT_TRUE(r["stopped_by"].isNull());
    EXPECT_EQ(r["takes_command"].toBool(), true);
    EXPECT_EQ(r["model_code"].toString(), "3000");
    EXPECT_EQ(r["bytes"].toInteger(), static_cast<qint64>(Stream().size()));
    EXPECT_EQ(r["verified"].toString(), "skipped");
    const auto received = sims.at(targets[i])->WaitForRecords(1, 20s);
    ASSERT_EQ(received.size(), 1u) << targets[i];
    EXPECT_TRUE(ReadFile(sims.at(targets[i])->Dir() / received[0].File) == Stream()) << targets[i];
  }
  for (auto* sim : {ftpA.get(), ftpB.get()}) {
    const std::string target = "ftp://" + sim->FtpHost() + "/ketora0";
    const QJsonObject r = results.at(target);
    EXPECT_EQ(r["code"].toInt(-1), 0) << target;
    EXPECT_EQ(r["kind"].toString(), "ftp");
    EXPECT_TRUE(r["job_id"].isNull());
    EXPECT_EQ(r["model"].toString().toStdString(), kCommandModel);
    const auto received = sim->WaitForRecords(1, 20s);
    ASSERT_EQ(received.size(), 1u) << target;
    EXPECT_TRUE(ReadFile(sim->Dir() / received[0].File) == Stream()) << target;
  }
  // Progress went to standard error, one line per step; 22 entries in the log, none replaced.
  EXPECT_NE(run.Err.find(targets[0] + ": starting"), std::string::npos) << run.Err;
  const std::string log = ReadFile(env.DataHome() / "fwload" / "DownLoad.log");
  std::size_t entries = 0;
  for (std::size_t at = log.find(file.string() + ","); at != std::string::npos;
       at = log.find(file.string() + ",", at + 1)) {
    ++entries;
  }
  EXPECT_EQ(entries, 22u) << log;

  // One unknown queue more: that one 32, the others sent again, the run ends with 32.
  args.insert(args.begin() + 2, "no-such-queue-" + Prefix());
  const auto again = RunCli(args, env.Root());
  EXPECT_EQ(again.Code, 32) << again.Err;
  const QJsonObject doc2 = Json(again.Out);
  EXPECT_EQ(doc2["exit"].toInt(), 32);
  ASSERT_EQ(doc2["results"].toArray().size(), 23);
  const QJsonObject unknown = doc2["results"].toArray()[0].toObject();
  EXPECT_EQ(unknown["code"].toInt(), 32);
  EXPECT_TRUE(unknown["job_id"].isNull());
  int succeeded = 0;
  for (const auto& r : doc2["results"].toArray()) succeeded += r.toObject()["code"].toInt(-1) == 0;
  EXPECT_EQ(succeeded, 22);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(sims.at(targets[i])->WaitForRecords(2, 20s).size(), 2u);
}

TEST_F(Cli, QuestionsNobodyAnswersStopTheirTargetWithThree) {
  const std::string fits = Prefix() + "-fits";
  const std::string misfit = Prefix() + "-misfit";
  AddRawPrinter(fits, kCommandModel);
  AddRawPrinter(misfit, kPlainModel);
  struct Case {
    std::vector<std::string> options;
    std::map<std::string, int> stoppedBy;  // target -> the message that stopped it
  };
  const Case cases[] = {
      // Without --yes: the misfit's confirmation, the command model's memory question.
      {{}, {{misfit, 4103}, {fits, 4101}}},
      // --yes answers the confirmations (the misfit, which takes no command, is sent), not the
      // settings-memory question.
      {{"--yes"}, {{fits, 4101}}},
      // --memory without --yes: its own confirmation still stops it.
      {{"--memory", "keep"}, {{misfit, 4103}, {fits, 4194}}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"send", file.string(), misfit, fits, "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = RunCli(args, env.Root());
    EXPECT_EQ(run.Code, 3) << run.Err;
    const auto results = ResultsOf(Json(run.Out));
    if (!c.stoppedBy.count(misfit)) {
      EXPECT_EQ(results.at(misfit)["code"].toInt(-1), 0);
    }
    for (const auto& [target, id] : c.stoppedBy) {
      EXPECT_EQ(results.at(target)["code"].toInt(), 3) << target;
      EXPECT_EQ(results.at(target)["stopped_by"].toInt(), id) << target;
      EXPECT_EQ(results.at(target)["message_id"].toInt(), id) << target;
    }
  }
  EXPECT_NE(
      RunCli({"send", file.string(), fits, "--yes"}, env.Root()).Err.find("--memory keep|init"),
      std::string::npos);
  EXPECT_TRUE(sims.at(fits)->Records().empty());
  // Only the run with --yes sent the file as it is to the model without the command.
  const auto received = sims.at(misfit)->WaitForRecords(1, 20s);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_TRUE(ReadFile(sims.at(misfit)->Dir() / received[0].File) == data);
}

TEST_F(Cli, TheSamePrinterNamedTwiceIsSentOnce) {
  const std::string name = Prefix();
  AddRawPrinter(name, kCommandModel);
  auto ftp = StartSimulator("ftp", {"--no-raw", "--no-ipp"});
  std::string upper = name;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const auto run = RunCli({"send", file.string(), name, upper, "ftp://" + ftp->FtpHost(),
                           "FTP://" + ftp->FtpHost() + "/ketora0", "--yes", "--memory", "init",
                           "--model", kCommandModel, "--json"},
                          env.Root());
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(Json(run.Out)["results"].toArray().size(), 2);
  EXPECT_NE(run.Err.find("sent once"), std::string::npos) << run.Err;
  EXPECT_EQ(sims.at(name)->WaitForRecords(1, 20s).size(), 1u);
  EXPECT_EQ(ftp->WaitForRecords(1, 20s).size(), 1u);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(sims.at(name)->Records().size(), 1u);
  EXPECT_EQ(ftp->Records().size(), 1u);
}

TEST_F(Cli, AFileThatFailsToOpenTouchesNoTarget) {
  const std::string name = Prefix();
  AddRawPrinter(name, kCommandModel);
  const auto run = RunCli(
      {"send", (env.Root() / "none.FWB").string(), name, "--yes", "--memory", "init", "--json"},
      env.Root());
  EXPECT_EQ(run.Code, 4) << run.Err;
  const QJsonObject doc = Json(run.Out);
  ASSERT_EQ(doc["results"].toArray().size(), 1);
  EXPECT_EQ(doc["results"].toArray()[0].toObject()["code"].toInt(), 4);
  EXPECT_TRUE(doc["results"].toArray()[0].toObject()["job_id"].isNull());
  EXPECT_TRUE(sims.at(name)->Records().empty());
}

TEST_F(Cli, AReaderThatClosesTheOutputEarlyCostsTheOutputNotTheDownload) {
  const std::string name = Prefix();
  AddRawPrinter(name, kCommandModel);
  clitest::CliProcess cli({"send", file.string(), name, "--yes", "--memory", "init", "--json"},
                          env.Root(), true);
  EXPECT_EQ(cli.Wait(), 0) << cli.Err();
  EXPECT_NE(cli.Err().find("standard output could not be written"), std::string::npos) << cli.Err();
  const auto received = sims.at(name)->WaitForRecords(1, 20s);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_TRUE(ReadFile(sims.at(name)->Dir() / received[0].File) == Stream());
}

TEST_F(Cli, ACloseSignalCancelsEveryJobOnTheServerAndLeavesNoTemporaryFile) {
  // Printers that stop reading: the jobs stay processing on the server.
  data = transfertest::TestData(8 << 20, 3);
  testsupport::WriteFile(file, PlainFile(kCommandModel, data));
  const std::string a = Prefix() + "-a";
  const std::string b = Prefix() + "-b";
  for (const auto& q : {a, b})
    AddRawPrinter(q, kCommandModel, {"--no-ftp", "--no-ipp", "--raw-fault", "stall:1000"});
  clitest::CliProcess cli({"send", file.string(), a, b, "--yes", "--memory", "init", "--json"},
                          env.Root());
  const auto processing = [](const std::string& q) {
    const int job = transfertest::NewestJob(q);
    return job > 0 && transfertest::JobState(q, job) == 5;
  };
  ASSERT_TRUE(clitest::WaitFor([&] { return processing(a) && processing(b); }, 60s)) << cli.Err();
  ASSERT_EQ(::kill(cli.Pid(), SIGINT), 0);
  EXPECT_EQ(cli.Wait(30s), 40) << cli.Err();
  for (const auto& q : {a, b}) {
    EXPECT_EQ(transfertest::WaitForEndState(q, transfertest::NewestJob(q), 10s), 7) << q;
  }
  const auto results = ResultsOf(Json(cli.Out()));
  EXPECT_EQ(results.at(a)["code"].toInt(), 40);
  EXPECT_EQ(results.at(b)["code"].toInt(), 40);
  EXPECT_EQ(testsupport::ListTree(env.TmpDir()), std::vector<std::string>{});
}

TEST_F(Cli, AnFtpSendLoadsNoWindowLibraryAndASignalDeletesThePartialFile) {
  data = transfertest::TestData(4 << 20, 5);
  testsupport::WriteFile(file, PlainFile(kCommandModel, data));
  auto ftp = StartSimulator("ftp", {"--no-raw", "--no-ipp", "--ftp-fault", "stall:65536"});
  const std::string target = "ftp://" + ftp->FtpHost();
  clitest::CliProcess cli(
      {"send", file.string(), target, "--yes", "--memory", "init", "--model", kCommandModel},
      env.Root());
  ASSERT_TRUE(
      clitest::WaitFor([&] { return cli.Err().find(": uploading") != std::string::npos; }, 30s))
      << cli.Err();
  const std::string maps = ReadFile("/proc/" + std::to_string(cli.Pid()) + "/maps");
  EXPECT_NE(maps.find("libQt6Core"), std::string::npos);
  EXPECT_EQ(maps.find("libQt6Widgets"), std::string::npos);
  EXPECT_EQ(maps.find("libQt6Gui"), std::string::npos);
  EXPECT_EQ(maps.find("libfwloadaccess"), std::string::npos);
  ASSERT_EQ(::kill(cli.Pid(), SIGTERM), 0);
  EXPECT_EQ(cli.Wait(30s), 40) << cli.Err();
  EXPECT_EQ(testsupport::ListTree(ftp->FtpDir()), std::vector<std::string>{});
  EXPECT_EQ(testsupport::ListTree(env.TmpDir()), std::vector<std::string>{});
}

}  // namespace
