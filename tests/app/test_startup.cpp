// The program as a user starts it: one instance per user, settings written at exit.
#include "platform/singleinstance.h"
#include "support/tempenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using testsupport::ReadFile;
using testsupport::TempEnv;

namespace {

QString Program() { return QString::fromStdString((testsupport::BinDir() / "fwload").string()); }

QStringList Args(std::initializer_list<const char*> args) {
  QStringList list = {"-platform", "offscreen"};
  for (const char* a : args) list << QString::fromUtf8(a);
  return list;
}

// Runs the event loop until `done` holds or the time is up.
template <typename Pred>
bool WaitUntil(Pred done, int ms = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  return true;
}

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "test_startup";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) app_ = std::make_unique<QCoreApplication>(argc, argv);
  }
  TempEnv env;
  std::unique_ptr<QCoreApplication> app_;
};

}  // namespace

TEST_F(Startup, HelpAndVersionPrintAndExitWithZero) {
  QProcess p;
  p.start(Program(), {"--help"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_TRUE(p.readAllStandardOutput().contains("/IM=1"));
  p.start(Program(), {"--version"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_TRUE(p.readAllStandardOutput().startsWith("fwload "));
  // Nothing was started, so nothing was written.
  EXPECT_FALSE(std::filesystem::exists(env.SettingsFile()));
}

TEST_F(Startup, VersionSaysWhetherTheHelpFileAndLibraryLieBesideTheProgram) {
  // A copy of the program alone in a folder finds neither; /proc/self/exe decides, not the name
  // it was started by.
  std::filesystem::create_directories(env.Root() / "alone");
  const auto alone = std::filesystem::canonical(env.Root() / "alone");
  const auto bin = std::filesystem::canonical(testsupport::BinDir());
  std::filesystem::copy_file(bin / "fwload", alone / "fwload");
  const struct {
    std::filesystem::path dir;
    std::string mark;
  } cases[] = {{bin, ""}, {alone, " (missing)"}};
  for (const auto& c : cases) {
    QProcess p;
    p.start(QString::fromStdString((c.dir / "fwload").string()), {"--version"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    const std::string out = p.readAllStandardOutput().toStdString();
    EXPECT_NE(out.find("\nhelp file: " + (c.dir / "FWLOAD.HLP").string() + c.mark + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(
        out.find("\naccess library: " + (c.dir / "libfwloadaccess.so").string() + c.mark + "\n"),
        std::string::npos)
        << out;
  }
}

TEST_F(Startup, AStartAndANormalExitWriteTheSettings) {
  QProcess p;
  p.start(Program(), Args({}));
  ASSERT_TRUE(p.waitForStarted());
  // The socket appears once the window is up.
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(env.RuntimeDir() / "FWLOAD.sock"); }));
  p.terminate();  // a logout closes the window as the user would
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 0);
  const std::string ini = ReadFile(env.SettingsFile());
  EXPECT_NE(ini.find("[FWLOAD.INI]\nWindowPos=80,160,480,400\nColumn0=200\nColumn1=60\n"
                     "Column2=50\nColumn3=40\nColumn4=120\nOpenFolder=\nViewLocal=1\n"),
            std::string::npos)
      << ini;
  // The private temporary folder is gone.
  EXPECT_TRUE(testsupport::ListTree(env.TmpDir()).empty());
}

TEST_F(Startup, ASecondInstanceAsksTheFirstToRaiseAndEndsWithOne) {
  platform::SingleInstance first(env.RuntimeDir());
  ASSERT_TRUE(first.TryLock());
  int raises = 0;
  first.Listen([&] { ++raises; });

  QProcess second;
  second.start(Program(), Args({"/PR=queue"}));
  ASSERT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }));
  EXPECT_EQ(second.exitCode(), 1);
  EXPECT_EQ(raises, 1);
  // Its application model was still built and destroyed: it wrote the settings (the window's
  // place only a window writes).
  const std::string ini = ReadFile(env.SettingsFile());
  EXPECT_NE(ini.find("Column0=200\n"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("WindowPos="), std::string::npos) << ini;
}

TEST_F(Startup, TwoProgramsAtOnceLeaveExactlyOneRunning) {
  QProcess first;
  first.start(Program(), Args({}));
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(env.RuntimeDir() / "FWLOAD.sock"); }));
  QProcess second;
  second.start(Program(), Args({}));
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_EQ(second.exitCode(), 1);
  EXPECT_EQ(first.state(), QProcess::Running);
  first.terminate();
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitCode(), 0);
  // The lock went with the first instance: a new start gets it.
  platform::SingleInstance later(env.RuntimeDir());
  EXPECT_TRUE(later.TryLock());
}

TEST_F(Startup, TheHelpFileLiesBesideTheProgram) {
  const std::string help = ReadFile(testsupport::BinDir() / "FWLOAD.HLP");
  EXPECT_NE(help.find("name=\"1001\""), std::string::npos);
}
