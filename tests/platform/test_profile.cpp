#include "platform/profile.h"

#include "support/tempenv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using platform::IniText;
using platform::ProfileFile;
using platform::Quotes;
using testsupport::ReadFile;
using testsupport::TempEnv;
using testsupport::WriteFile;

namespace {

const char kSample[] =
    "; hand-written comment\n"
    "[Main]\n"
    "Key = value with blanks  \n"
    "Quoted=\"  inside  \"\n"
    "Single='x'\n"
    "Mismatch=\"x'\n"
    "# another comment=not a key\n"
    "no equals sign here\n"
    "dup=first\n"
    "DUP=second\n"
    "\n"
    "[other]\n"
    "a=1\n"
    "[MAIN]\n"
    "late=ignored because the first section counts\n";

}  // namespace

TEST(ProfileRead, SectionsAndKeysIgnoreLetterCase) {
  IniText ini(kSample);
  EXPECT_EQ(ini.Value("main", "KEY").value_or("-"), "value with blanks");
  EXPECT_EQ(ini.Value("OTHER", "A").value_or("-"), "1");
  EXPECT_FALSE(ini.Value("main", "late").has_value());
  EXPECT_FALSE(ini.Value("missing", "a").has_value());
}

TEST(ProfileRead, QuotesFollowTheFilesRule) {
  IniText settings(kSample, Quotes::Double);
  EXPECT_EQ(*settings.Value("Main", "Quoted"), "  inside  ");
  EXPECT_EQ(*settings.Value("Main", "Single"), "'x'");
  EXPECT_EQ(*settings.Value("Main", "Mismatch"), "\"x'");
  IniText header(kSample, Quotes::DoubleOrSingle);
  EXPECT_EQ(*header.Value("Main", "Single"), "x");
  EXPECT_EQ(*header.Value("Main", "Mismatch"), "\"x'");
}

TEST(ProfileRead, CommentsAndLinesWithoutEqualsAreNotKeys) {
  IniText ini(kSample);
  const std::vector<std::string> keys = ini.Keys("main");
  EXPECT_EQ(keys, (std::vector<std::string>{"Key", "Quoted", "Single", "Mismatch", "dup"}));
  EXPECT_EQ(*ini.Value("Main", "dup"), "first");
}

TEST(ProfileRead, CrLfLinesAndAMissingFinalLineBreak) {
  IniText ini("[S]\r\nA=1\r\nB= 2 \r\nC=3");
  EXPECT_EQ(*ini.Value("s", "a"), "1");
  EXPECT_EQ(*ini.Value("s", "b"), "2");
  EXPECT_EQ(*ini.Value("s", "c"), "3");
}

TEST(ProfileWrite, ReplacesAValueInPlaceAndKeepsEveryOtherByte) {
  IniText ini(kSample);
  ini.Set("MAIN", "dup", "new");
  std::string expected = kSample;
  expected.replace(expected.find("dup=first"), 9, "dup=new");
  EXPECT_EQ(ini.Bytes(), expected);
}

TEST(ProfileWrite, NewKeyGoesToTheEndOfItsSectionBeforeBlankLines) {
  IniText ini(kSample);
  ini.Set("main", "Added", "7");
  std::string expected = kSample;
  expected.insert(expected.find("DUP=second\n") + 11, "Added=7\n");
  EXPECT_EQ(ini.Bytes(), expected);
  EXPECT_EQ(ini.Keys("main").back(), "Added");
}

TEST(ProfileWrite, MissingSectionIsAppended) {
  IniText ini("[A]\nx=1");
  ini.Set("B", "y", "2");
  EXPECT_EQ(ini.Bytes(), "[A]\nx=1\n\n[B]\ny=2\n");
  IniText empty;
  empty.Set("B", "y", "2");
  EXPECT_EQ(empty.Bytes(), "[B]\ny=2\n");
}

TEST(ProfileWrite, KeepsTheFilesLineBreaks) {
  IniText ini("[A]\r\nx=1\r\n");
  ini.Set("A", "y", "2");
  ini.Set("C", "z", "3");
  EXPECT_EQ(ini.Bytes(), "[A]\r\nx=1\r\ny=2\r\n\r\n[C]\r\nz=3\r\n");
}

TEST(ProfileWrite, SectionAtTheEndWithoutFinalLineBreak) {
  IniText ini("[A]\nx=1\n[B]");
  ini.Set("B", "k", "v");
  EXPECT_EQ(ini.Bytes(), "[A]\nx=1\n[B]\nk=v\n");
}

TEST(ProfileFileTest, CreatesFolderAndFileAndReadsBack) {
  TempEnv env;
  const auto path = env.Root() / "new" / "dir" / "FWLOAD.INI";
  ProfileFile file(path);
  EXPECT_EQ(file.ReadString("S", "k", "default"), "default");
  ASSERT_TRUE(file.Write("S", "k", "v"));
  EXPECT_EQ(ReadFile(path), "[S]\nk=v\n");
  EXPECT_EQ(file.ReadString("s", "K", "default"), "v");
}

TEST(ProfileFileTest, NonUtf8BytesElsewhereSurviveAWrite) {
  TempEnv env;
  const auto path = env.Root() / "x.ini";
  const std::string garbage = std::string("\x82\xa0\xff\x00\x1a binary\n", 13);
  WriteFile(path, garbage + "[S]\nk=old\n" + garbage);
  ASSERT_TRUE(ProfileFile(path).Write("S", "k", "new"));
  EXPECT_EQ(ReadFile(path), garbage + "[S]\nk=new\n" + garbage);
}

TEST(ProfileFileTest, WritesThroughASymbolicLinkAndKeepsTheMode) {
  TempEnv env;
  const auto target = env.Root() / "real.ini";
  const auto link = env.Root() / "link.ini";
  WriteFile(target, "[S]\n");
  ::chmod(target.c_str(), 0640);
  std::filesystem::create_symlink(target, link);
  ASSERT_TRUE(ProfileFile(link).Write("S", "k", "v"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "[S]\nk=v\n");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ProfileFileTest, LeavesNoTemporaryFilesBehind) {
  TempEnv env;
  const auto dir = env.Root() / "cfg";
  ProfileFile file(dir / "FWLOAD.INI");
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(file.Write("S", "k" + std::to_string(i), "v"));
  EXPECT_EQ(testsupport::ListTree(dir), (std::vector<std::string>{"FWLOAD.INI", "FWLOAD.INI.lock"}));
}

TEST(ProfileFileTest, RefusesLineBreaksInKeysAndValues) {
  TempEnv env;
  const auto path = env.Root() / "x.ini";
  WriteFile(path, "[S]\nk=1\n");
  ProfileFile file(path);
  EXPECT_FALSE(file.Write("S", "k", "a\nb=c"));
  EXPECT_FALSE(file.Write("S", "a\nb", "c"));
  EXPECT_EQ(ReadFile(path), "[S]\nk=1\n");
}

TEST(ProfileFileTest, AFolderInsteadOfTheFileIsNotDestroyed) {
  TempEnv env;
  const auto path = env.Root() / "FWLOAD.INI";
  std::filesystem::create_directories(path / "inside");
  ProfileFile file(path);
  EXPECT_FALSE(file.Write("S", "k", "v"));
  EXPECT_TRUE(std::filesystem::is_directory(path / "inside"));
  EXPECT_EQ(file.ReadString("S", "k", "d"), "d");
}

TEST(ProfileFileTest, WritesInPlaceWhenOnlyTheFileIsWritable) {
  TempEnv env;
  const auto dir = env.Root() / "ro";
  const auto path = dir / "x.ini";
  WriteFile(path, "[S]\nk=1\n");
  const std::string failure = testsupport::AsUnprivilegedUser(env, [&]() -> std::string {
    if (::chmod(dir.c_str(), 0555) != 0) return "chmod failed";
    const bool written = ProfileFile(path).Write("S", "k", "2");
    ::chmod(dir.c_str(), 0755);
    if (!written) return "the write failed";
    if (ReadFile(path) != "[S]\nk=2\n") return "wrong content: " + ReadFile(path);
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(ProfileFileTest, AReadOnlyFileIsNotReplaced) {
  TempEnv env;
  const auto path = env.Root() / "x.ini";
  WriteFile(path, "[S]\nk=1\n");
  const std::string failure = testsupport::AsUnprivilegedUser(env, [&]() -> std::string {
    ::chmod(path.c_str(), 0444);
    if (ProfileFile(path).Write("S", "k", "2")) return "a read-only file was written";
    if (ReadFile(path) != "[S]\nk=1\n") return "the file changed";
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(ProfileFileTest, ConcurrentWritersLoseNoKeys) {
  TempEnv env;
  const auto path = env.Root() / "shared.ini";
  constexpr int kWriters = 4;
  constexpr int kKeys = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ProfileFile file(path);
      bool ok = true;
      for (int k = 0; k < kKeys; ++k) {
        ok = file.Write("S", "w" + std::to_string(w) + "k" + std::to_string(k), "v") && ok;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(ProfileFile(path).Keys("S").size(), static_cast<std::size_t>(kWriters * kKeys));
}
