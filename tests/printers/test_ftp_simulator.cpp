// FTP printers' identities through the real access library, against the printer simulator's own
// IPP identity: every kind of answer, and a printer restarting after an update it took over FTP.
#include "common/codes.h"
#include "printers/accesslib.h"
#include "printers/versioncheck.h"
#include "printers/printers_support.h"
#include "support/simulator.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testsupport::SimIdentity;
using testsupport::Simulator;
using testsupport::TempEnv;
using Clock = std::chrono::steady_clock;

// The library's "printer not reached".
constexpr std::uint32_t kNotReached = 0x20000002;

struct Info {
  bool Ok = false;
  std::string Model;
  std::string Version;
  std::uint32_t LastError = 0;
};

class FtpIdentity : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }

  std::unique_ptr<Simulator> Start(const SimIdentity& identity) {
    auto sim = std::make_unique<Simulator>(Simulator::ScriptIn(testsupport::SourceDir()),
                                           env_.Root() / ("printer" + std::to_string(++count_)),
                                           identity.Args());
    printerstest::ipp::UseIppPort(env_, sim->IppPort());
    return sim;
  }

  static Info Ask(const Simulator& sim) {
    Info info;
    info.Ok =
        AccessLibrary().GetFtpPrinterInfo(sim.FtpHost(), info.Model, info.Version, info.LastError);
    return info;
  }

  TempEnv env_;
  int count_ = 0;
};

TEST_F(FtpIdentity, EachAnswerOfThePrinterHasItsOutcome) {
  struct Case {
    const char* name;
    SimIdentity identity;
    Info expected;
  };
  const Case cases[] = {
      {"model and version", {"TORVA PX-E3000", "V1.23"}, {true, "TORVA PX-E3000", "V1.23", 0}},
      {"version as the printer spells it",
       {"PX-E3000", "v 1.24 beta"},
       {true, "PX-E3000", "v 1.24 beta", 0}},
      {"no version", {"PX-E3000", ""}, {true, "PX-E3000", "", 0}},
      {"no model", {"", "V2.00"}, {false, "", "", accesscode::kModelUnknown}},
      {"garbage", {"PX-E3000", "V1.23", "", 0, "garbage"}, {false, "", "", kNotReached}},
      {"silent", {"PX-E3000", "V1.23", "", 0, "silent"}, {false, "", "", kNotReached}},
  };
  for (const Case& c : cases) {
    const auto sim = Start(c.identity);
    const auto start = Clock::now();
    const Info info = Ask(*sim);
    // The library's own limits: 5 s to connect, 10 s for the answer.
    EXPECT_LT(Clock::now() - start, 16s) << c.name;
    EXPECT_EQ(info.Ok, c.expected.Ok) << c.name;
    EXPECT_EQ(info.Model, c.expected.Model) << c.name;
    EXPECT_EQ(info.Version, c.expected.Version) << c.name;
    EXPECT_EQ(info.LastError, c.expected.LastError) << c.name;
    // The failures come from the answer, not from a printer that was never asked.
    EXPECT_EQ(sim->IppLog().size(), 1u) << c.name;
  }
}

int Nothing(void*, int, std::uint64_t) { return 0; }

TEST_F(FtpIdentity, APrinterRestartsAfterAnUpdateAndReportsWhatItRuns) {
  struct Case {
    const char* name;
    SimIdentity identity;
    std::optional<std::string> after;  // nullopt: never answers again
  };
  const Case cases[] = {
      {"takes the new version", {"PX-E3000", "V1.00", "V2.00", 1.5, ""}, "V2.00"},
      {"keeps its old version", {"PX-E3000", "V1.00", "", 1.5, ""}, "V1.00"},
      {"never comes back", {"PX-E3000", "V1.00", "", 0, "down"}, std::nullopt},
  };
  const auto update = env_.Root() / "FW.BIN";
  testsupport::WriteFile(update, "firmware bytes without the download command");
  for (const Case& c : cases) {
    const auto sim = Start(c.identity);
    EXPECT_EQ(Ask(*sim).Version, "V1.00") << c.name;

    ASSERT_EQ(AccessLibrary().SendFileToFtpPrinter(&Nothing, nullptr, sim->FtpHost(), "ketora0",
                                                   update.string()),
              accesscode::kSuccess)
        << c.name;
    const auto sent = Clock::now();
    const auto records = sim->WaitForRecords(1, 10s);
    ASSERT_EQ(records.size(), 1u) << c.name;
    EXPECT_EQ(records[0].VersionAfter, c.after.value_or("")) << c.name;

    // Restarting: the port is closed, so the answer is a quick refusal.
    const Info during = Ask(*sim);
    EXPECT_FALSE(during.Ok) << c.name;
    EXPECT_EQ(during.LastError, kNotReached) << c.name;
    Info back;
    while (!back.Ok && Clock::now() - sent < 6s) {
      std::this_thread::sleep_for(100ms);
      back = Ask(*sim);
    }
    EXPECT_EQ(back.Ok, c.after.has_value()) << c.name;
    if (!c.after) continue;
    EXPECT_GE(Clock::now() - sent, 1400ms) << c.name;
    EXPECT_EQ(back.Version, *c.after) << c.name;
    EXPECT_EQ(back.Model, "PX-E3000") << c.name;
  }
}

// The version check after an update, asking the printer the three ways a target leads to it.
TEST_F(FtpIdentity, TheVersionCheckWaitsForTheRestartedPrinter) {
  struct Case {
    const char* name;
    SimIdentity identity;
    const char* address;  // %R: raw port, %I: IPP port, %F: FTP host
    Verified expected;
    std::optional<std::string> after;
  };
  const Case cases[] = {
      {"updated, over FTP",
       {"PX-E3000", "V1.00", "V2.00", 1.5, ""},
       "ftp://%F/ketora0",
       Verified::Updated,
       "V2.00"},
      {"unchanged, behind a socket queue",
       {"PX-E3000", "V1.00", "", 0.5, ""},
       "socket://127.0.0.1:%R/?snmp=false",
       Verified::Unchanged,
       "V1.00"},
      {"never back, by its IPP address",
       {"PX-E3000", "V1.00", "", 0, "down"},
       "ipp://127.0.0.1:%I/ipp/print",
       Verified::Unknown,
       std::nullopt},
  };
  const auto update = env_.Root() / "FW.BIN";
  testsupport::WriteFile(update, "firmware bytes without the download command");
  for (const Case& c : cases) {
    const auto sim = Start(c.identity);
    std::string address = c.address;
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"%R", std::to_string(sim->RawPort())},
          {"%I", std::to_string(sim->IppPort())},
          {"%F", sim->FtpHost()}}) {
      if (const auto at = address.find(mark); at != std::string::npos) {
        address.replace(at, mark.size(), value);
      }
    }
    EXPECT_EQ(versioncheck::AskVersion(address), "V1.00") << c.name;
    ASSERT_EQ(AccessLibrary().SendFileToFtpPrinter(&Nothing, nullptr, sim->FtpHost(), "ketora0",
                                                   update.string()),
              accesscode::kSuccess)
        << c.name;
    ASSERT_EQ(sim->WaitForRecords(1, 10s).size(), 1u) << c.name;
    const auto start = Clock::now();
    const versioncheck::Outcome outcome =
        versioncheck::WaitForVersion(address, "v 2.00", 4s, 300ms, nullptr);
    EXPECT_EQ(outcome.Result, c.expected) << c.name;
    EXPECT_EQ(outcome.After.has_value(), c.after.has_value()) << c.name;
    if (c.after && outcome.After) {
      EXPECT_EQ(*outcome.After, *c.after) << c.name;
    }
    // Only an updated printer ends the wait early.
    EXPECT_EQ(Clock::now() - start < 3500ms, c.expected == Verified::Updated) << c.name;
  }
}

TEST(VersionCheck, VersionsCompareWithoutBlanksALeadingVOrCase) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {{"V1.23", "1.23", true},   {"v 1.23", "V1.23", true}, {" V1.23b ", "v1.23B", true},
               {"V1.23", "V1.24", false}, {"", "", false},           {"V", "v", false},
               {"VV1", "V1", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(versioncheck::SameVersion(c.a, c.b), c.same) << c.a << " / " << c.b;
  }
}

}  // namespace
