// What the firmware and download tests cannot see of the file functions: a refused cut leaves the
// file alone, a positioned read moves nothing, a mapping never writes back and never follows a
// link, and only a regular file has a size.
#include "platform/filemap.h"
#include "platform/fileio.h"

#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(FileIo, CutMovesTheRestToTheFrontOrRefusesAndChangesNothing) {
  testsupport::TempEnv env;
  const auto path = env.Root() / "f";
  WriteFile(path, "headdata");
  platform::UniqueFd fd(platform::OpenForRewriting(path));
  EXPECT_FALSE(platform::CutFront(fd.Get(), 9, 8));
  EXPECT_EQ(ReadFile(path), "headdata");
  EXPECT_TRUE(platform::CutFront(fd.Get(), 4, 8));
  EXPECT_EQ(ReadFile(path), "data");
}

TEST(FileIo, ReadAtLeavesThePositionWhereItWas) {
  testsupport::TempEnv env;
  WriteFile(env.Root() / "f", "0123456789");
  platform::UniqueFd fd(platform::OpenForReading(env.Root() / "f"));
  char buffer[8] = {};
  std::size_t n = 0;
  ASSERT_TRUE(platform::ReadAt(fd.Get(), buffer, sizeof buffer, 6, n));
  EXPECT_EQ(std::string(buffer, n), "6789");
  ASSERT_TRUE(platform::ReadUpTo(fd.Get(), buffer, 2, n));
  EXPECT_EQ(std::string(buffer, n), "01");
}

TEST(FileIo, OnlyARegularFileHasASize) {
  testsupport::TempEnv env;
  WriteFile(env.Root() / "f", "abc");
  ASSERT_EQ(::mkfifo((env.Root() / "fifo").c_str(), 0600), 0);
  platform::UniqueFd file(platform::OpenRegular(env.Root() / "f"));
  platform::UniqueFd fifo(platform::OpenForRewriting(env.Root() / "fifo"));  // no wait for a peer
  EXPECT_EQ(platform::RegularFileSize(file.Get()), 3u);
  EXPECT_EQ(platform::RegularFileSize(fifo.Get()), std::nullopt);
  EXPECT_EQ(platform::RegularFileSize(-1), std::nullopt);
  std::FILE* stream = std::fopen(env.Root().c_str(), "r");  // a folder opens, but is no file
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(platform::RegularFileSize(stream), std::nullopt);
  std::fclose(stream);
}

TEST(FileMap, WritesStayInMemoryAndOnlyAFileOfTheGivenSizeIsMapped) {
  testsupport::TempEnv env;
  const auto path = env.Root() / "f";
  WriteFile(path, "mapped");
  std::filesystem::create_symlink(path, env.Root() / "link");
  EXPECT_EQ(platform::MapFileCopyOnWrite(env.Root() / "link", 6), nullptr);
  EXPECT_EQ(platform::MapFileCopyOnWrite(path, 5), nullptr);
  std::uint8_t* block = platform::MapFileCopyOnWrite(path, 6);
  ASSERT_NE(block, nullptr);
  std::memcpy(block, "change", 6);
  EXPECT_EQ(ReadFile(path), "mapped");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 6), "change");
  platform::UnmapFile(block, 6);
}

}  // namespace
