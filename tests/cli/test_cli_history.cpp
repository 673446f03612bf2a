// What fwload-cli leaves in the history: the version check of send --verify (the printer behind a
// queue of the private print server asked before and after, as the simulator plays a restart),
// and the row of a process killed in the middle of a transfer.
#include "cli/cli_support.h"
#include "download/transfer_support.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <signal.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(CliVerify, ThePrinterIsAskedUntilItReportsTheFilesVersion) {
  struct Case {
    const char* name;
    std::vector<std::string> identity;  // the simulator's IPP identity after a download
    const char* wait;
    int code;
    const char* verified;
    QJsonValue after;
    std::chrono::seconds limit;  // the run's longest time: the wait and one question more
  };
  const Case cases[] = {
      {"takes the new version",
       {"--apply-version", "v 2.00", "--restart-seconds", "1"},
       "--verify=30",
       0,
       "updated",
       "v 2.00",
       12s},
      {"keeps its old version",
       {"--restart-seconds", "0.5"},
       "--verify=3",
       37,
       "unchanged",
       "V1.00",
       9s},
      {"never comes back",
       {"--restart-seconds", "120"},
       "--verify=2",
       38,
       "unknown",
       QJsonValue::Null,
       8s},
  };
  for (const Case& c : cases) {
    testsupport::TempEnv env;
    std::vector<std::string> args = {"--no-ftp", "--model", transfertest::kCommandModel,
                                     "--version", "V1.00"};
    args.insert(args.end(), c.identity.begin(), c.identity.end());
    testsupport::Simulator sim(testsupport::Simulator::ScriptIn(testsupport::SourceDir()),
                               env.Root() / "printer", args);
    testsupport::WriteFile(env.SettingsFile(),
                           std::string("[Printers]\n") + transfertest::kCommandModel + "=3000,1\n" +
                               "[Access]\nIppPort=" + std::to_string(sim.IppPort()) + "\n");
    const std::string queue = std::string("cli-verify-") + std::to_string(&c - cases);
    const transfertest::TestQueue q(queue, transfertest::TestQueue::SocketUri(sim.RawPort()),
                                    transfertest::kCommandModel);
    const auto file = env.Root() / "fw.FWB";
    testsupport::WriteFile(file, std::string("[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=V\r\n"
                                             "DownLoadVersion=V2.00\r\n\x1a") +
                                     transfertest::TestData(5000, 3));

    const auto start = Clock::now();
    const auto run = clitest::RunCli(
        {"send", file.string(), queue, "--yes", "--memory", "keep", c.wait, "--json"}, env.Root());
    EXPECT_LT(Clock::now() - start, c.limit) << c.name;
    EXPECT_EQ(run.Code, c.code) << c.name << run.Err;
    const QJsonObject result =
        QJsonDocument::fromJson(QByteArray::fromStdString(run.Out))["results"][0].toObject();
    EXPECT_EQ(result["code"].toInt(), c.code) << c.name;
    EXPECT_EQ(result["verified"].toString().toStdString(), c.verified) << c.name;
    EXPECT_EQ(result["version_before"].toString().toStdString(), "V1.00") << c.name;
    EXPECT_EQ(result["version_after"], c.after) << c.name;
    if (c.code != 0) {
      EXPECT_EQ(result["message_id"].toInt(), c.code == 37 ? 4367 : 4368) << c.name;
    }
    EXPECT_EQ(sim.WaitForRecords(1, 10s).size(), 1u) << c.name;

    // The history has the check too.
    const auto history = clitest::RunCli({"history", "--json", "--limit", "1"}, env.Root());
    EXPECT_NE(history.Out.find(std::string("\"") + c.verified + "\""), std::string::npos)
        << c.name << history.Out;
  }
}

TEST(CliHistory, AProcessKilledDuringATransferLeavesARowReadAsInterrupted) {
  testsupport::TempEnv env;
  // A printer that stops reading: the job stays processing on the server.
  testsupport::Simulator sim(testsupport::Simulator::ScriptIn(testsupport::SourceDir()),
                             env.Root() / "printer",
                             {"--no-ftp", "--no-ipp", "--raw-fault", "stall:1000"});
  const transfertest::TestQueue q("cli-killed", transfertest::TestQueue::SocketUri(sim.RawPort()));
  const auto file = env.Root() / "fw.FWB";
  testsupport::WriteFile(file, std::string("[FW_DownLoad]\r\nFileFormat=FWB\r\n\x1a") +
                                   transfertest::TestData(8 << 20, 4));
  const auto state = [&] {
    const auto run = clitest::RunCli({"history", "--json"}, env.Root());
    const auto rows = QJsonDocument::fromJson(QByteArray::fromStdString(run.Out))["history"];
    return rows[0]["state"].toString().toStdString();
  };
  {
    clitest::CliProcess cli({"send", file.string(), "cli-killed", "--yes", "--no-command"},
                            env.Root());
    ASSERT_TRUE(clitest::WaitFor([&] { return state() == "pending"; }, 30s)) << cli.Err();
    ASSERT_EQ(::kill(cli.Pid(), SIGKILL), 0);
    EXPECT_EQ(cli.Wait(10s), -1);
  }
  EXPECT_EQ(state(), "interrupted");
}

}  // namespace
