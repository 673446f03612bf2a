// Unattended runs of the program, end to end: fwload FILE /PR=queue /NO /NM /IM=1 through the
// private print server to the simulated printer.
#include "common/strings.h"
#include "printers/printers_support.h"
#include "support/run.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// The same with arguments that are bytes, not text: a name that is not valid UTF-8 stays as it is.
Outcome RunWithBytes(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {(testsupport::BinDir() / "fwload").string(), "-platform",
                                   "offscreen"};
  argv.insert(argv.end(), args.begin(), args.end());
  Outcome out;
  out.exitCode = testsupport::Run(argv, {.Captured = &out.standardError, .ErrorsToOutput = true});
  return out;
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

TEST_F(Unattended, ANameThatIsNotUtf8IsOpenedSentAndLoggedUnderItsOwnBytes) {
  // A name from an archive made on a code page 932 system: "fw-" あ, then a byte UTF-8 never has.
  const std::filesystem::path named = env.Root() / "fw-\x82\xa0\xff.FWB";
  std::filesystem::rename(file, named);
  const Outcome out = RunWithBytes({named.string(), "/PR=" + queue, "/NO", "/NM", "/IM=1"});
  EXPECT_EQ(out.exitCode, 0) << out.standardError;
  const auto records = sim->WaitForRecords(1, std::chrono::seconds(20));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(ReadFile(sim->Dir() / records[0].File), Wrapped(data, '1'));
  const std::string log = ReadFile(Log());
  EXPECT_NE(log.find(named.string() + ",Test firmware V1.00=" + queue + ","), std::string::npos)
      << log;
}

TEST_F(Unattended, FtpAddressesOnTheCommandLineReachTheirDirectoryOrNothing) {
  struct Case {
    std::string address;
    int exitCode;
  };
  const std::string host = sim->FtpHost();
  const Case cases[] = {
      {host + "/ketora0", 0},
      {"ftp://" + host, 0},
      {host + "/", 35},  // never into the login directory
      {":" + std::to_string(sim->FtpPort()) + "/ketora0", 33},
  };
  std::size_t sent = 0;
  for (const Case& c : cases) {
    const Outcome out =
        RunWithBytes({file.string(), "/HN=" + c.address, "/M=M3", "/NO", "/NM", "/IM=1"});
    EXPECT_EQ(out.exitCode, c.exitCode) << c.address << "\n" << out.standardError;
    if (c.exitCode == 0) ++sent;
    const auto records = sim->WaitForRecords(sent, std::chrono::seconds(20));
    ASSERT_EQ(records.size(), sent) << c.address;
  }
  for (const auto& record : sim->Records()) {
    EXPECT_EQ(record.Channel, "ftp");
    EXPECT_EQ(record.File.rfind("ftp/ketora0/", 0), 0u) << record.File;
    EXPECT_EQ(ReadFile(sim->Dir() / record.File), Wrapped(data, '1'));
  }
  EXPECT_EQ(testsupport::ListTree(sim->Dir() / "ftp").size(), 1u + sent);
}

TEST_F(Unattended, AFifoOrAFolderGivenAsAFileEndsWithFourAtOnce) {
  for (const char* name : {"pipe.fwv", "pipe.FWB", "pipe.fw_"}) {
    ASSERT_EQ(::mkfifo((env.Root() / name).c_str(), 0600), 0);
  }
  std::filesystem::create_directory(env.Root() / "folder.FWV");
  for (const char* name : {"pipe.fwv", "pipe.FWB", "pipe.fw_", "folder.FWV"}) {
    const Outcome out = RunProgram({QString::fromStdString((env.Root() / name).string()),
                                    QString::fromStdString("/PR=" + queue), "/NO", "/NM"});
    EXPECT_EQ(out.exitCode, 4) << name << "\n" << out.standardError;
    EXPECT_NE(out.standardError.find("ファイルのオープンに失敗しました。"), std::string::npos)
        << out.standardError;
  }
  EXPECT_TRUE(sim->Records().empty());
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
