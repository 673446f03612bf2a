// Unattended runs of the program, end to end: fwload FILE /PR=queue /NO /NM /IM=1 through the
// private print server to the simulated printer.
#include "app/strings.h"
#include "printers/printers_support.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <QProcess>

#include <gtest/gtest.h>

using testsupport::ReadFile;
using testsupport::Simulator;
using testsupport::TempEnv;

namespace {

// A plain firmware file: header, 0x1A, data.
std::string PlainFile(const std::string& models, const std::string& data) {
  return "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Test firmware\r\n"
         "DownLoadVersion=V1.00\r\nDownLoadPrinter=" +
         models + "\r\n\x1a" + data;
}

std::string Wrapped(const std::string& data, char memory) {
  char size[16];
  std::snprintf(size, sizeof size, "%08zu", data.size());
  return std::string("\x1b\x01@EJL\r\n@EJL SE LA = ESC/P\r\n@EJL EN LA = ESC/P\r\n\x1bz\xd0\x81",
                     52) +
         "Uf" + size + ",0*" + data + "Ug,1," + memory + "*";
}

struct Outcome {
  int exitCode = -1;
  std::string standardError;
};

Outcome RunProgram(const QStringList& args, int waitMs = 60000) {
  QProcess p;
  p.start(QString::fromStdString((testsupport::BinDir() / "fwload").string()),
          QStringList{"-platform", "offscreen"} + args);
  if (!p.waitForFinished(waitMs)) {
    p.kill();
    p.waitForFinished();
    return {};
  }
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          p.readAllStandardError().toStdString()};
}

class Unattended : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                      env.Root() / "printer", SimulatorOptions());
    queue = std::string("unattended-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    printerstest::sandbox::AddQueue(
        queue, "socket://127.0.0.1:" + std::to_string(sim->RawPort()) + "/?snmp=false",
        "TORVA VELOXIA M3");
    data = std::string("firmware\x00\x1a\xff", 11) + std::string(DataBytes(), 'x');
    file = env.Root() / "fw.FWB";
    testsupport::WriteFile(file, PlainFile("\"M3\"", data));
  }
  void TearDown() override {
    sim.reset();
    printerstest::sandbox::Remove(queue);
  }
  virtual std::vector<std::string> SimulatorOptions() { return {}; }
  virtual std::size_t DataBytes() { return 70000; }
  std::filesystem::path Log() { return env.DataHome() / "fwload" / "DownLoad.log"; }

  TempEnv env;
  std::unique_ptr<Simulator> sim;
  std::string queue;
  std::string data;
  std::filesystem::path file;
};

}  // namespace

TEST_F(Unattended, DownloadsWritesTheLogAndEndsWithZero) {
  const Outcome out = RunProgram({QString::fromStdString(file.string()),
                                  QString::fromStdString("/PR=" + queue), "/NO", "/NM", "/IM=1"});
  EXPECT_EQ(out.exitCode, 0) << out.standardError;
  const auto records = sim->WaitForRecords(1, std::chrono::seconds(20));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].Errors.empty());
  EXPECT_EQ(records[0].Shape, "wrapped+trailer");
  EXPECT_EQ(records[0].Memory, 1);
  EXPECT_EQ(ReadFile(sim->Dir() / records[0].File), Wrapped(data, '1'));
  const std::string log = ReadFile(Log());
  EXPECT_NE(log.find(file.string() + ",Test firmware V1.00=" + queue + ","), std::string::npos)
      << log;
}

TEST_F(Unattended, WithoutTheCommandTheFileIsSentAsItIs) {
  const Outcome out = RunProgram({QString::fromStdString(file.string()),
                                  QString::fromStdString("/PR=" + queue), "/NO", "/NM", "/NC"});
  EXPECT_EQ(out.exitCode, 0) << out.standardError;
  const auto records = sim->WaitForRecords(1, std::chrono::seconds(20));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(ReadFile(sim->Dir() / records[0].File), data);
}

TEST_F(Unattended, AMissingFileEndsWithFourAndSaysWhy) {
  const Outcome out = RunProgram({QString::fromStdString((env.Root() / "missing.FWB").string()),
                                  QString::fromStdString("/PR=" + queue), "/NO", "/NM", "/IM=1"});
  EXPECT_EQ(out.exitCode, 4);
  EXPECT_NE(out.standardError.find("ﾌｧｲﾙが見つかりません。"), std::string::npos)
      << out.standardError;
  EXPECT_TRUE(sim->Records().empty());
  EXPECT_FALSE(std::filesystem::exists(Log()));
}

TEST_F(Unattended, WithoutAFileOrAPrinterTheRunEndsWithItsCodeAndSaysWhy) {
  // Nobody watches the window such a run would leave: it ends and says why.
  struct Case {
    QStringList args;
    int code;
    int message;
  };
  const Case cases[] = {{{QString::fromStdString("/PR=" + queue), "/NO", "/NM", "/IM=1"}, 4, 4355},
                        {{QString::fromStdString(file.string()), "/NO", "/NM", "/IM=1"}, 5, 4356}};
  for (const Case& c : cases) {
    const Outcome out = RunProgram(c.args, 20000);
    EXPECT_EQ(out.exitCode, c.code) << out.standardError;
    EXPECT_NE(out.standardError.find(std::string(strings::Load(c.message))), std::string::npos)
        << out.standardError;
  }
  EXPECT_TRUE(sim->Records().empty());
}

TEST_F(Unattended, AnUnknownQueueEndsWithThePrinterCode) {
  const Outcome out = RunProgram(
      {QString::fromStdString(file.string()), "/PR=no-such-queue", "/NO", "/NM", "/IM=1"});
  EXPECT_EQ(out.exitCode, 32);
  EXPECT_TRUE(sim->Records().empty());
  EXPECT_FALSE(std::filesystem::exists(Log()));
}

namespace {

// The printer resets the line early in a download too large for the socket buffers; the queue's
// error policy then aborts the job.
class UnattendedDroppedConnection : public Unattended {
 protected:
  std::vector<std::string> SimulatorOptions() override { return {"--raw-fault", "drop:65536"}; }
  std::size_t DataBytes() override { return 16u << 20; }
};

}  // namespace

TEST_F(UnattendedDroppedConnection, AJobThePrintServerAbortsEndsWithThirtyFour) {
  const Outcome out = RunProgram({QString::fromStdString(file.string()),
                                  QString::fromStdString("/PR=" + queue), "/NO", "/NM", "/IM=0"});
  EXPECT_EQ(out.exitCode, 34) << out.standardError;
  EXPECT_FALSE(std::filesystem::exists(Log()));
}
