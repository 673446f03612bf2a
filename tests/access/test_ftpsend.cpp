// Sending the download file to an FTP printer through the access library, against the printer
// simulator's FTP server.
#include "access/fwloadaccess.h"
#include "common/codes.h"
#include "download/printthread.h"
#include "firmware/dwndoc.h"
#include "platform/tempfiles.h"
#include "printers/accesslib.h"
#include "printers/funcs.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::Simulator;
using testsupport::TempEnv;
using Clock = std::chrono::steady_clock;

// What the library told the progress window, and what the window answered.
class Receiver {
 public:
  // Decides the answer to each notification (1 = the user asked to abort).
  std::function<int(int, std::uint64_t)> Answer = [](int, std::uint64_t) { return 0; };
  std::vector<std::pair<int, std::uint64_t>> Events;

  static int Proc(void* context, int notification, std::uint64_t value) {
    auto* self = static_cast<Receiver*>(context);
    self->Events.emplace_back(notification, value);
    return self->Answer(notification, value);
  }

  std::vector<std::uint64_t> Progress() const {
    std::vector<std::uint64_t> values;
    for (const auto& [n, v] : Events) {
      if (n == FWL_NOTIFY_PROGRESS) values.push_back(v);
    }
    return values;
  }
  int Count(int notification) const {
    int count = 0;
    for (const auto& e : Events) count += e.first == notification ? 1 : 0;
    return count;
  }
};

class FtpSend : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName))
        << "the access library is not beside the program";
  }

  // A download file of the wrapped shape around `dataSize` bytes in which 00, 1A and FF occur.
  std::filesystem::path MakeStream(std::uint32_t dataSize) {
    TDownDocFile doc;
    doc.FData = std::make_unique<std::uint8_t[]>(dataSize);
    std::uint32_t x = 0x12345678;
    for (std::uint32_t i = 0; i < dataSize; ++i) {
      x = x * 1103515245u + 12345u;
      doc.FData[i] = static_cast<std::uint8_t>(x >> 24);
    }
    if (dataSize > 3) {
      doc.FData[0] = 0x00;
      doc.FData[1] = 0x1A;
      doc.FData[2] = 0xFF;
    }
    doc.FDataSize = dataSize;
    const auto file = MakeTempFileName("dwn");
    if (!file) throw std::runtime_error("no temporary file");
    if (!TPrintThread::MakeDownloadFile(*file, &doc, 1, 1).Ok()) {
      throw std::runtime_error("stream not built");
    }
    return *file;
  }

  static std::filesystem::path Script() { return Simulator::ScriptIn(testsupport::SourceDir()); }

  std::uint32_t Send(Receiver& receiver, const std::string& host, const std::string& directory,
                     const std::filesystem::path& file) {
    const auto start = Clock::now();
    const std::uint32_t code = AccessLibrary().SendFileToFtpPrinter(&Receiver::Proc, &receiver,
                                                                    host, directory, file.string());
    elapsed_ = Clock::now() - start;
    return code;
  }

  void SetStallSeconds(const TempEnv& env, int seconds) {
    testsupport::WriteFile(env.SettingsFile(),
                           "[Access]\nStallSeconds=" + std::to_string(seconds) + "\n");
  }

  Clock::duration elapsed_{};
};

TEST_F(FtpSend, UploadedFileIsTheStreamByteForByte) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto file = MakeStream(3'000'000);
  Receiver receiver;

  ASSERT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kSuccess);

  const auto uploaded = sim.FtpDir() / file.filename();
  ASSERT_TRUE(std::filesystem::exists(uploaded));
  EXPECT_EQ(ReadFile(uploaded), ReadFile(file));
  const auto records = sim.WaitForRecords(1, 10s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Channel, "ftp");
  EXPECT_EQ(records[0].Name, file.filename().string());
  EXPECT_EQ(records[0].Shape, "wrapped+trailer");
  EXPECT_EQ(records[0].SizeRecord, 3'000'000);
  EXPECT_EQ(records[0].DataLength, 3'000'000);
  EXPECT_EQ(records[0].Memory, 1);
  EXPECT_TRUE(records[0].Complete);
  EXPECT_TRUE(records[0].Errors.empty());
}

TEST_F(FtpSend, ProgressIsReportedInOrderAndAtMostOncePerPercent) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto file = MakeStream(8'000'000);
  const auto size = std::filesystem::file_size(file);
  Receiver receiver;

  ASSERT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kSuccess);

  ASSERT_FALSE(receiver.Events.empty());
  EXPECT_EQ(receiver.Events.front().first, FWL_NOTIFY_CONNECTING);
  EXPECT_EQ(receiver.Count(FWL_NOTIFY_DOWNLOADING), 1);
  // Connecting comes before downloading, and no progress before downloading.
  bool downloading = false;
  for (const auto& [n, v] : receiver.Events) {
    if (n == FWL_NOTIFY_DOWNLOADING) downloading = true;
    if (n == FWL_NOTIFY_CONNECTING) {
      EXPECT_FALSE(downloading);
    }
    if (n == FWL_NOTIFY_PROGRESS) {
      EXPECT_TRUE(downloading);
    }
  }
  const auto progress = receiver.Progress();
  ASSERT_FALSE(progress.empty());
  for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1], progress[i]);
  EXPECT_EQ(progress.back(), size);
  // One per percent step, plus a heartbeat each half second while a step takes longer.
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed_).count();
  EXPECT_LE(progress.size(), 101u + 2u * static_cast<std::size_t>(seconds) + 2u);
}

TEST_F(FtpSend, HostMayCarryTheSchemeAndATrailingSlash) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto file = MakeStream(1000);
  for (const std::string& host : {"ftp://" + sim.FtpHost(), "FTP://" + sim.FtpHost() + "/"}) {
    std::filesystem::remove(sim.FtpDir() / file.filename());
    Receiver receiver;
    EXPECT_EQ(Send(receiver, host, "ketora0", file), accesscode::kSuccess) << host;
    EXPECT_EQ(ReadFile(sim.FtpDir() / file.filename()), ReadFile(file)) << host;
  }
}

TEST_F(FtpSend, FileKeepsItsOwnNameWhateverCharactersItHolds) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto stream = MakeStream(1000);
  const auto file = stream.parent_path() / "fw 1#2%41;type=a?.bin";
  std::filesystem::copy_file(stream, file);
  Receiver receiver;
  ASSERT_EQ(Send(receiver, sim.FtpHost(), "/ketora0/", file), accesscode::kSuccess);
  EXPECT_EQ(testsupport::ListTree(sim.FtpDir()),
            std::vector<std::string>{file.filename().string()});
  // Sent as binary whatever the name says: the bytes are unchanged.
  EXPECT_EQ(ReadFile(sim.FtpDir() / file.filename()), ReadFile(stream));
}

TEST_F(FtpSend, DirectoryThatCannotBeEnteredIsReportedAsSuch) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto file = MakeStream(1000);
  Receiver receiver;
  EXPECT_EQ(Send(receiver, sim.FtpHost(), "nothere", file), accesscode::kDirectory);
  EXPECT_EQ(receiver.Count(FWL_NOTIFY_DOWNLOADING), 0);
  EXPECT_TRUE(testsupport::ListTree(sim.Dir() / "ftp") == std::vector<std::string>{"ketora0"});
}

TEST_F(FtpSend, NoDirectoryIsRefusedBeforeConnecting) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto file = MakeStream(1000);
  for (const char* directory : {"", "/", " // ", ".", "ketora0/.."}) {
    Receiver receiver;
    EXPECT_EQ(Send(receiver, sim.FtpHost(), directory, file), accesscode::kDirectory) << directory;
    EXPECT_TRUE(receiver.Events.empty()) << directory;
  }
  EXPECT_EQ(testsupport::ListTree(sim.Dir() / "ftp"), std::vector<std::string>{"ketora0"});
}

TEST_F(FtpSend, AbortDuringTheTransferStopsItAndLeavesNoPartialFile) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto file = MakeStream(32'000'000);
  const auto size = std::filesystem::file_size(file);
  Receiver receiver;
  receiver.Answer = [size](int n, std::uint64_t value) {
    return n == FWL_NOTIFY_PROGRESS && value >= size / 3 ? 1 : 0;
  };

  EXPECT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kAborted);

  const auto progress = receiver.Progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_LT(progress.back(), size);
  EXPECT_TRUE(testsupport::ListTree(sim.FtpDir()).empty());
  const auto records = sim.WaitForRecords(1, 10s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].Deleted);
  EXPECT_LT(records[0].Bytes, static_cast<std::int64_t>(size));
}

TEST_F(FtpSend, AbortBeforeTheDataFlowsSendsNothing) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer");
  const auto file = MakeStream(1000);
  for (int when : {FWL_NOTIFY_CONNECTING, FWL_NOTIFY_DOWNLOADING}) {
    Receiver receiver;
    receiver.Answer = [when](int n, std::uint64_t) { return n == when ? 1 : 0; };
    EXPECT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kAborted);
    EXPECT_EQ(receiver.Count(FWL_NOTIFY_PROGRESS), 0);
    EXPECT_TRUE(testsupport::ListTree(sim.FtpDir()).empty()) << when;
  }
}

TEST_F(FtpSend, PrinterNotListeningFailsQuickly) {
  TempEnv env;
  const auto file = MakeStream(1000);
  Receiver receiver;
  const std::string host = "127.0.0.1:" + std::to_string(testsupport::UnusedPort());
  EXPECT_EQ(Send(receiver, host, "ketora0", file), accesscode::kSendFailed);
  EXPECT_LT(elapsed_, 5s);
  EXPECT_EQ(receiver.Count(FWL_NOTIFY_DOWNLOADING), 0);
}

// A port that takes connections (the system completes them) but never says a word.
class SilentPort {
 public:
  SilentPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      throw std::runtime_error("no listening socket");
    }
    port_ = ntohs(a.sin_port);
  }
  ~SilentPort() { ::close(fd_); }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(FtpSend, PrinterThatNeverAnswersFailsAfterTheStallLimit) {
  TempEnv env;
  SetStallSeconds(env, 2);
  SilentPort silent;
  const auto file = MakeStream(1000);
  Receiver receiver;
  EXPECT_EQ(Send(receiver, silent.Host(), "ketora0", file), accesscode::kSendFailed);
  EXPECT_GE(elapsed_, 1s);
  EXPECT_LT(elapsed_, 8s);
  EXPECT_EQ(receiver.Count(FWL_NOTIFY_DOWNLOADING), 0);
}

TEST_F(FtpSend, AbortIsSeenWhileConnecting) {
  TempEnv env;
  SetStallSeconds(env, 0);  // never give up by itself
  SilentPort silent;
  const auto file = MakeStream(1000);
  Receiver receiver;
  const auto abortAt = Clock::now() + 1s;
  receiver.Answer = [abortAt](int, std::uint64_t) { return Clock::now() >= abortAt ? 1 : 0; };
  EXPECT_EQ(Send(receiver, silent.Host(), "ketora0", file), accesscode::kAborted);
  EXPECT_LT(elapsed_, 5s);
  // The window heard from the library while it waited.
  EXPECT_GE(receiver.Count(FWL_NOTIFY_CONNECTING), 2);
}

TEST_F(FtpSend, PrinterThatRefusesTheSessionIsAFailure) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer", {"--ftp-fault", "refuse"});
  const auto file = MakeStream(1000);
  Receiver receiver;
  EXPECT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kSendFailed);
  EXPECT_TRUE(testsupport::ListTree(sim.FtpDir()).empty());
}

TEST_F(FtpSend, EmptyOrMalformedHostFailsWithoutConnecting) {
  TempEnv env;
  const auto file = MakeStream(1000);
  for (const char* host :
       {"", "ftp://", "ftp:///ketora0", "FTP://", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:99999",
        "user@127.0.0.1", "a b", "[::1", "127.0.0.1:21/ketora0"}) {
    Receiver receiver;
    EXPECT_EQ(Send(receiver, host, "ketora0", file), accesscode::kSendFailed) << host;
    EXPECT_TRUE(receiver.Events.empty()) << host;
    EXPECT_LT(elapsed_, 1s) << host;
  }
}

TEST_F(FtpSend, LocalFileThatCannotBeReadIsReportedAsTheTemporaryFile) {
  TempEnv env;
  Receiver receiver;
  EXPECT_EQ(Send(receiver, "127.0.0.1:21", "ketora0", env.TmpDir() / "absent"),
            accesscode::kTempFile);
  EXPECT_EQ(Send(receiver, "127.0.0.1:21", "ketora0", env.TmpDir()), accesscode::kTempFile);
  EXPECT_TRUE(receiver.Events.empty());
}

TEST_F(FtpSend, ConnectionDroppedMidTransferFailsAndLeavesNoPartialFile) {
  TempEnv env;
  Simulator sim(Script(), env.Root() / "printer", {"--ftp-fault", "drop:1048576"});
  const auto file = MakeStream(4'000'000);
  Receiver receiver;

  EXPECT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kSendFailed);

  EXPECT_LT(elapsed_, 20s);
  EXPECT_TRUE(testsupport::ListTree(sim.FtpDir()).empty());
  const auto records = sim.WaitForRecords(1, 10s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].Complete);
  EXPECT_EQ(records[0].Bytes, 1048576);
  EXPECT_TRUE(records[0].Deleted);
}

TEST_F(FtpSend, StalledTransferFailsAfterTheStallLimitAndLeavesNoPartialFile) {
  TempEnv env;
  SetStallSeconds(env, 2);
  Simulator sim(Script(), env.Root() / "printer", {"--ftp-fault", "stall:262144"});
  const auto file = MakeStream(16'000'000);
  Receiver receiver;

  EXPECT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kSendFailed);

  EXPECT_GE(elapsed_, 2s);
  EXPECT_LT(elapsed_, 8s);
  EXPECT_TRUE(testsupport::ListTree(sim.FtpDir()).empty());
}

TEST_F(FtpSend, AbortIsSeenWhileThePrinterIsSilent) {
  // The printer stops reading; then, in the second round, stops answering altogether, so that its
  // partial file cannot be removed: the clean-up holds the abort at most 3 s.
  for (const bool silentForGood : {false, true}) {
    SCOPED_TRACE(silentForGood);
    TempEnv env;
    SetStallSeconds(env, 0);  // never give up by itself: only the abort ends it
    Simulator sim(Script(), env.Root() / "printer", {"--ftp-fault", "stall:262144"});
    const auto file = MakeStream(16'000'000);
    Receiver receiver;
    Clock::time_point abortAt{};
    Clock::time_point abortedAt{};
    receiver.Answer = [&](int n, std::uint64_t) {
      if (n == FWL_NOTIFY_DOWNLOADING && abortAt == Clock::time_point{})
        abortAt = Clock::now() + 500ms;
      if (abortAt == Clock::time_point{} || Clock::now() < abortAt) return 0;
      if (abortedAt == Clock::time_point{}) {
        if (silentForGood) ::kill(sim.Pid(), SIGSTOP);
        abortedAt = Clock::now();
      }
      return 1;
    };

    EXPECT_EQ(Send(receiver, sim.FtpHost(), "ketora0", file), accesscode::kAborted);
    const auto held = Clock::now() - abortedAt;
    ::kill(sim.Pid(), SIGCONT);
    EXPECT_LT(held, 4s);
    if (!silentForGood) {
      EXPECT_TRUE(testsupport::ListTree(sim.FtpDir()).empty());
    }
  }
}

}  // namespace
