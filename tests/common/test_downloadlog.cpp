// The download log when several downloads of one file end in the same second.
#include "common/downloadlog.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(DownloadLog, AppendKeepsEveryEntryOfOneSecondInSectionsOfItsOwn) {
  testsupport::TempEnv env;
  const auto log = env.Root() / "DownLoad.log";
  const QDateTime when(QDate(2026, 3, 4), QTime(10, 11, 12));
  const std::string section = downloadlog::SectionName(when);
  // Eight at once, as the targets of one send end: none is lost, each once.
  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i) {
    writers.emplace_back([&, i] {
      EXPECT_TRUE(downloadlog::Append(log, when, "/fw.FWB,D V1", "q" + std::to_string(i) + ",p"));
    });
  }
  for (auto& w : writers) w.join();
  const std::string text = testsupport::ReadFile(log);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(text.find("/fw.FWB,D V1=q" + std::to_string(i) + ",p\n"),
              text.rfind("/fw.FWB,D V1=q" + std::to_string(i) + ",p\n"))
        << text;
    EXPECT_NE(text.find("/fw.FWB,D V1=q" + std::to_string(i) + ",p\n"), std::string::npos) << text;
  }
  EXPECT_NE(text.find("[" + section + "]\n"), std::string::npos) << text;
  for (int n = 2; n <= 8; ++n) {
    EXPECT_NE(text.find("[" + section + " (" + std::to_string(n) + ")]\n"), std::string::npos)
        << text;
  }
  EXPECT_EQ(text.find(" (9)]"), std::string::npos) << text;

  // Write replaces the key in its section, as the window's log always has.
  EXPECT_TRUE(downloadlog::Write(log, when, "/fw.FWB,D V1", "again,p"));
  const std::string after = testsupport::ReadFile(log);
  std::size_t entries = 0;
  for (auto at = after.find("D V1="); at != std::string::npos; at = after.find("D V1=", at + 1)) {
    ++entries;
  }
  EXPECT_EQ(entries, 8u) << after;
  EXPECT_NE(after.find("[" + section + "]\n/fw.FWB,D V1=again,p\n"), std::string::npos) << after;
}

}  // namespace
