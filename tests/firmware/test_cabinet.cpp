// Cabinet packages from hand-made bytes: member names, the callback's decisions, damaged
// cabinets, the command-line fallback and the clean-up.

#include "firmwaretest.h"

#include "common/codes.h"
#include "firmware/packages.h"
#include "platform/cabinet.h"
#include "platform/process.h"

#include <mspack.h>
#include <sys/stat.h>

#include <chrono>

namespace {

using fixtures::CabEntry;
using fixtures::FirmwareBytes;
using fixtures::StoredCabinet;

const std::string kHeader =
    "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=DATA\\FW1.BIN,fw2.bin\r\n";

class Package : public FirmwareTest {
 protected:
  std::unique_ptr<TDownDocFile> OpenCab(const std::vector<CabEntry>& files,
                                        const std::string& name = "fw.FWV") {
    return Open(name, StoredCabinet(files));
  }
};

TEST_F(Package, StoredCabinetGivesTheNamedFilesInOrder) {
  const std::string one = FirmwareBytes(50000, 21);  // spans two blocks
  const std::string two = FirmwareBytes(777, 22);
  auto doc = OpenCab({{"HEADER.FWB", kHeader}, {"DATA\\FW1.BIN", one}, {"fw2.bin", two}});
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(Data(*doc), one + two);
  EXPECT_EQ(doc->FWorkDir.back(), '/');
  EXPECT_EQ(std::filesystem::path(doc->FWorkDir).parent_path().parent_path(), tempDir_);
}

TEST_F(Package, NamesMatchWithoutRegardToCase) {
  auto doc =
      OpenCab({{"Header.Fwb", kHeader}, {"data\\fw1.bin", "1"}, {"FW2.BIN", "2"}}, "lower.fwv");
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(Data(*doc), "12");
}

TEST_F(Package, LaterOfTwoCaseEqualNamesWins) {
  auto doc = OpenCab({{"HEADER.FWB", "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=a\r\n"},
                      {"DATA\\FW1.BIN", "first"},
                      {"header.fwb", kHeader},
                      {"data\\fw1.bin", "second"},
                      {"Fw2.Bin", "2"}});
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), "second2");
}

TEST_F(Package, NamesAreCodePage932UnlessMarkedUtf8) {
  // "データ.bin" in code page 932 and a half-width "ﾃﾞｰﾀ.bin"; a third name is UTF-8 with the flag.
  const std::string cpName = "\x83\x66\x81\x5B\x83\x5E.bin";
  const std::string halfWidth = "\xC3\xDE\xB0\xC0.bin";
  const std::string header = "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=" + cpName + "," +
                             halfWidth + ",\x83\x74\x83\x40.bin\r\n";  // ファ.bin
  auto doc =
      OpenCab({{"HEADER.FWB", header}, {cpName, "A"}, {halfWidth, "B"}, {"ファ.bin", "C", 0xA0}});
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), "ABC");
}

TEST_F(Package, HeaderWithoutDataFilesCarriesItsOwnData) {
  const std::string data = FirmwareBytes(40000, 5);
  auto doc = OpenCab({{"HEADER.FWB", "[FW_DownLoad]\r\nFileFormat=FWB\r\n\x1A" + data}});
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), data);
}

TEST_F(Package, MissingHeaderIsUnrecognisedAndEmpty) {
  auto doc = OpenCab({{"README.TXT", "no header here"}});
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 0);
  EXPECT_EQ(doc->FDataSize, 0u);
  EXPECT_EQ(std::filesystem::path(doc->FDownLoadFile).filename(), "HEADER.FWB");
}

TEST_F(Package, MissingDataFileFailsWith17) {
  auto doc = OpenCab({{"HEADER.FWB", kHeader}, {"DATA\\FW1.BIN", "1"}});
  EXPECT_EQ(doc->FError, rc::kFileOpen);
  EXPECT_EQ(doc->FErrorFile, "fw2.bin");
  EXPECT_EQ(doc->FDataSize, 0u);
}

TEST_F(Package, SubfoldersAreCreatedAtAnyDepth) {
  // No member at the root comes first, and the folders are three deep.
  auto doc = OpenCab(
      {{"A\\B\\C\\deep.bin", "deep"},
       {"HEADER.FWB", "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=a\\b\\c\\DEEP.BIN\r\n"}});
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), "deep");
}

TEST_F(Package, FileWhereAFolderShouldBeOrTheOtherWayRoundIsSkipped) {
  // "DATA" is a file, so "DATA\FW1.BIN" has nowhere to go.
  auto doc = OpenCab(
      {{"HEADER.FWB", kHeader}, {"DATA", "file"}, {"DATA\\FW1.BIN", "1"}, {"fw2.bin", "2"}});
  EXPECT_EQ(doc->FError, rc::kFileOpen);
  EXPECT_EQ(doc->FErrorFile, "DATA\\FW1.BIN");
  // "fw2.bin\x" made a folder first; the file fw2.bin is then skipped and the folder is no data.
  auto folder = OpenCab(
      {{"HEADER.FWB", kHeader}, {"DATA\\FW1.BIN", "1"}, {"fw2.bin\\x", "x"}, {"FW2.BIN", "2"}});
  EXPECT_EQ(folder->FError, rc::kFileOpen);
  EXPECT_EQ(folder->FErrorFile, "fw2.bin");
}

TEST_F(Package, IconsAreCopiedIntoTheDataFolder) {
  const auto dataDir = env_.DataHome() / "fwload";
  fixtures::Write(dataDir / "px1100.ico", "old icon");
  auto doc = OpenCab({{"HEADER.FWB", kHeader},
                      {"DATA\\FW1.BIN", "1"},
                      {"fw2.bin", "2"},
                      {"PX1100.ICO", "new icon"},
                      {"px1200.Ico", "icon 2"},
                      {"DATA\\inner.ico", "not at the top"},
                      {"icons.ico.txt", "no icon"}});
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(testsupport::ListTree(dataDir), (std::vector<std::string>{"px1100.ico", "px1200.Ico"}));
  EXPECT_EQ(testsupport::ReadFile(dataDir / "px1100.ico"), "new icon");
  EXPECT_EQ(testsupport::ReadFile(dataDir / "px1200.Ico"), "icon 2");
}

TEST_F(Package, FailedOpenCopiesNoIcons) {
  auto doc = OpenCab({{"HEADER.FWB", kHeader}, {"PX1100.ICO", "icon"}});
  EXPECT_EQ(doc->FError, rc::kFileOpen);
  EXPECT_FALSE(std::filesystem::exists(env_.DataHome() / "fwload" / "PX1100.ICO"));
}

TEST_F(Package, NamesThatEscapeTheExtractionFolderWriteNothingOutsideIt) {
  const std::string tag = env_.Root().filename().string();
  const std::string absolute = "/tmp/" + tag + "-escaped";
  const std::vector<CabEntry> members = {{"../escaped-1", "x"},
                                         {"..\\escaped-2", "x"},
                                         {"DATA\\..\\..\\escaped-3", "x"},
                                         {"C:\\escaped-4", "x"},
                                         {"c:escaped-5", "x"},
                                         {absolute, "abs"},
                                         {"\\\\server\\share\\x.bin", "unc"},
                                         {"/HEADER.FWB", kHeader},
                                         {"\\DATA\\FW1.BIN", "1"},
                                         {"\\\\fw2.bin", "2"}};
  // Into a folder of a sandbox: only the folder may change.
  const auto sandbox = inputs_ / "sandbox";
  fixtures::Write(inputs_ / "escape.cab", StoredCabinet(members));
  ASSERT_EQ(IterateCabinet((inputs_ / "escape.cab").c_str(), (sandbox / "x").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(absolute));
  const std::string inside = "x/tmp/" + tag + "-escaped";
  EXPECT_EQ(testsupport::ListTree(sandbox),
            (std::vector<std::string>{"x", "x/DATA", "x/DATA/FW1.BIN", "x/HEADER.FWB", "x/fw2.bin",
                                      "x/server", "x/server/share", "x/server/share/x.bin", "x/tmp",
                                      inside}));
  EXPECT_EQ(testsupport::ReadFile(sandbox / inside), "abs");

  // Opened as a package, the members whose leading separators were dropped are found.
  auto doc = OpenCab(members);
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), "12");
  EXPECT_FALSE(std::filesystem::exists(absolute));
  EXPECT_EQ(testsupport::ListTree(tempDir_.parent_path()),
            (std::vector<std::string>{tempDir_.filename().string()}));
}

TEST_F(Package, DamagedCabinetsGetAClearResult) {
  const std::string one = FirmwareBytes(70000, 1);
  const std::string cab =
      StoredCabinet({{"HEADER.FWB", kHeader}, {"DATA\\FW1.BIN", one}, {"fw2.bin", "2"}});
  // Cut inside the data: the members that are not whole are missing, nothing partial is kept.
  auto cut = Open("cut.FWV", cab.substr(0, cab.size() - 30000));
  EXPECT_EQ(cut->FError, rc::kFileOpen);
  EXPECT_EQ(cut->FDataSize, 0u);
  // Cut inside the member list: no cabinet at all.
  auto head = Open("head.FWV", cab.substr(0, 60));
  EXPECT_EQ(head->FError, 0);
  EXPECT_EQ(head->FFormatValid, 0);
  // A member that claims more bytes than the folder holds: raise the last member's size field
  // (its entry follows the header's and the first data file's).
  std::string longer = cab;
  const std::size_t entry = 36 + 8 + (16 + 11) + (16 + 13);
  ASSERT_EQ(longer.substr(entry + 16, 7), "fw2.bin");
  longer[entry + 1] = '\x10';
  auto claimed = Open("claim.FWV", longer);
  EXPECT_EQ(claimed->FError, rc::kFileOpen);
  EXPECT_EQ(claimed->FErrorFile, "fw2.bin");
  // Not a cabinet.
  auto text = Open("text.FWV", "MSCF but not really a cabinet");
  EXPECT_EQ(text->FError, 0);
  EXPECT_EQ(text->FDataSize, 0u);
}

TEST_F(Package, EmptyBlocksAndMissingBlocksAreNoCrash) {
  // The folder promises nine blocks; the first holds nothing and the file ends after it. The
  // library then reads from a file it never opened.
  std::string cab = StoredCabinet({{"HEADER.FWB", kHeader}, {"a\\b", "xyz"}});
  const std::size_t blocks = cab.size() - (8 + kHeader.size() + 3);
  cab.resize(blocks);
  cab += std::string(8, '\0');
  cab[36 + 4] = 9;
  auto doc = Open("empty-block.FWV", cab);
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 0);
  EXPECT_EQ(doc->FDataSize, 0u);
}

class CallbackTest : public FirmwareTest {};

TEST_F(CallbackTest, DecidesTargetsInsideTheRememberedFolder) {
  const std::filesystem::path target = inputs_ / "x";
  const std::string withSlash = target.string() + "/";
  EXPECT_EQ(CabinetCallback(const_cast<char*>(withSlash.c_str()), kCabinetInfo, 0, 0),
            kCabinetNoError);
  const auto place = [](const std::string& name, std::string* where = nullptr) {
    TCabinetFileInfo info;
    info.NameInCabinet = name;
    const unsigned answer =
        CabinetCallback(nullptr, kFileInCabinet, reinterpret_cast<std::uintptr_t>(&info), 0);
    if (where) *where = info.FullTargetName;
    return answer;
  };
  std::string where;
  EXPECT_EQ(place("HEADER.FWB", &where), kCabinetExtract);
  // No second separator after a folder that already ends with one.
  EXPECT_EQ(where, (target / "HEADER.FWB").string());
  EXPECT_TRUE(std::filesystem::is_directory(target));
  EXPECT_EQ(place("a\\b\\c.bin", &where), kCabinetExtract);
  EXPECT_EQ(where, (target / "a" / "b" / "c.bin").string());
  EXPECT_TRUE(std::filesystem::is_directory(target / "a" / "b"));
  EXPECT_EQ(place("A\\B\\C.BIN", &where), kCabinetExtract);
  EXPECT_EQ(where, (target / "a" / "b" / "C.BIN").string());
  fixtures::Write(target / "a" / "b" / "c.bin", "");
  EXPECT_EQ(place("A\\B\\C.BIN", &where), kCabinetExtract);
  EXPECT_EQ(where, (target / "a" / "b" / "c.bin").string());
  EXPECT_EQ(place("..\\x"), kCabinetSkip);
  EXPECT_EQ(place("a/../../x"), kCabinetSkip);
  EXPECT_EQ(place("D:\\x"), kCabinetSkip);
  EXPECT_EQ(place("\\"), kCabinetSkip);
  EXPECT_EQ(place(""), kCabinetSkip);
  EXPECT_EQ(place("a\\b"), kCabinetSkip);            // a folder stands there
  EXPECT_EQ(place("a\\b\\c.bin\\d"), kCabinetSkip);  // a file stands there
  EXPECT_EQ(place("//a//./b//e.bin", &where), kCabinetExtract);
  EXPECT_EQ(where, (target / "a" / "b" / "e.bin").string());
  EXPECT_EQ(CabinetCallback(nullptr, kNeedNewCabinet, 0, 0), kCabinetNoError);
  EXPECT_EQ(CabinetCallback(nullptr, kFileExtracted, 0, 0), kCabinetNoError);
  EXPECT_EQ(CabinetCallback(nullptr, 0x99, 0, 0), kCabinetNoError);
}

TEST_F(CallbackTest, IterateCabinetReportsWhetherTheCabinetCouldBeRead) {
  fixtures::Write(inputs_ / "good.cab", StoredCabinet({{"a.bin", "A"}, {"b\\c.bin", "C"}}));
  fixtures::Write(inputs_ / "bad.cab", std::string(200, 'x'));
  fixtures::Write(inputs_ / "short.cab", "MSCF");
  EXPECT_EQ(IterateCabinet((inputs_ / "good.cab").c_str(), (inputs_ / "out").c_str()), 0);
  EXPECT_EQ(testsupport::ListTree(inputs_ / "out"),
            (std::vector<std::string>{"a.bin", "b", "b/c.bin"}));
  EXPECT_EQ(IterateCabinet((inputs_ / "bad.cab").c_str(), (inputs_ / "out2").c_str()),
            MSPACK_ERR_SIGNATURE);
  EXPECT_EQ(IterateCabinet((inputs_ / "short.cab").c_str(), (inputs_ / "out2").c_str()),
            MSPACK_ERR_READ);
  EXPECT_NE(IterateCabinet((inputs_ / "missing.cab").c_str(), (inputs_ / "out3").c_str()), 0);
  EXPECT_NE(IterateCabinet(nullptr, nullptr), 0);
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "out2"));
}

class Visitor : public platform::ICabinetVisitor {
 public:
  explicit Visitor(std::filesystem::path dir) : dir_(std::move(dir)) {}
  bool CabinetOpened(const std::filesystem::path&) override { return true; }
  std::optional<std::filesystem::path> FileInCabinet(
      const platform::CabinetMember& member) override {
    names.push_back(member.name);
    if (member.name == "skip") return std::nullopt;
    return dir_ / ("m" + std::to_string(names.size()));
  }
  void FileExtracted(const platform::CabinetMember& member, const std::filesystem::path&,
                     int error) override {
    results.emplace_back(member.name, error);
  }
  std::vector<std::string> names;
  std::vector<std::pair<std::string, int>> results;

 private:
  std::filesystem::path dir_;
};

TEST_F(CallbackTest, WalkRemovesMembersThatDoNotComeOutWhole) {
  // The third member reaches into a second block, which is cut; the first block is whole.
  std::string cab =
      StoredCabinet({{"first", "AAAA"}, {"skip", "S"}, {"third", std::string(40000, 'T')}});
  cab.resize(cab.size() - 4000);
  fixtures::Write(inputs_ / "cut.cab", cab);
  Visitor visitor(inputs_);
  EXPECT_EQ(platform::WalkCabinet(inputs_ / "cut.cab", visitor), 0);
  EXPECT_EQ(visitor.names, (std::vector<std::string>{"first", "skip", "third"}));
  ASSERT_EQ(visitor.results.size(), 2u);
  EXPECT_EQ(visitor.results[0], std::make_pair(std::string("first"), 0));
  EXPECT_NE(visitor.results[1].second, 0);
  EXPECT_EQ(testsupport::ReadFile(inputs_ / "m1"), "AAAA");
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "m3"));
}

class Fallback : public FirmwareTest {
 protected:
  // A stand-in for the cabinet tool: writes a header into the folder after "-d", then behaves as
  // `tail` says.
  std::string FakeTool(const std::string& tail) {
    const auto path = inputs_ / "fake-cabextract";
    fixtures::Write(path,
                    "#!/bin/sh\nwhile [ \"$1\" != \"-d\" ]; do shift; done\nmkdir -p \"$2\"\n"
                    "printf '[FW_DownLoad]\\nFileFormat=FWB\\n\\032tool' > \"$2/HEADER.FWB\"\n" +
                        tail + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path.string();
  }
  TCabinetTool Tool(const std::string& program) {
    TCabinetTool tool;
    tool.Program = program;
    tool.PollInterval = std::chrono::milliseconds(50);
    tool.PollCount = 4;
    return tool;
  }
};

TEST_F(Fallback, ToolRunsWhenTheWalkFailsAndItsResultIsKept) {
  fixtures::Write(inputs_ / "x.FWV", "no cabinet");
  const auto dir = inputs_ / "out dir with blanks";
  EXPECT_TRUE(ExtractCabinet(inputs_ / "x.FWV", dir, Tool(FakeTool("exit 0"))));
  EXPECT_EQ(testsupport::ReadFile(dir / "HEADER.FWB"), "[FW_DownLoad]\nFileFormat=FWB\n\x1Atool");
}

TEST_F(Fallback, ToolThatFailsOrHangsLeavesNothing) {
  fixtures::Write(inputs_ / "x.FWV", "no cabinet");
  EXPECT_TRUE(ExtractCabinet(inputs_ / "x.FWV", inputs_ / "failed", Tool(FakeTool("exit 3"))));
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "failed"));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ExtractCabinet(inputs_ / "x.FWV", inputs_ / "hung", Tool(FakeTool("sleep 30"))));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(190));  // four polls, 50 ms apart
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "hung"));

  // A tool that is not installed: the only case that reports failure.
  EXPECT_FALSE(ExtractCabinet(inputs_ / "x.FWV", inputs_ / "none", Tool("no-such-tool-here")));
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "none"));
}

TEST_F(Fallback, OpenUsesTheToolsResultWhenTheWalkFails) {
  TCabinetTool& tool = CabinetTool();
  const TCabinetTool saved = tool;
  tool = Tool(FakeTool("exit 0"));
  auto doc = Open("fw.FWV", "no cabinet");
  tool = saved;
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(Data(*doc), "tool");
}

TEST_F(Fallback, MissingToolFailsTheOpenOnlyWhenTheCabinetNeedsIt) {
  TCabinetTool& tool = CabinetTool();
  const TCabinetTool saved = tool;
  tool = Tool("no-such-tool-here");
  auto needsTool = Open("fw.FWV", "no cabinet");
  auto readable = Open(
      "ok.FWV", StoredCabinet({{"HEADER.FWB", kHeader}, {"DATA\\FW1.BIN", "1"}, {"fw2.bin", "2"}}));
  tool = saved;
  // The message names the program to install, not a file of the package.
  EXPECT_EQ(needsTool->FError, rc::kFileOpen);
  EXPECT_EQ(needsTool->FErrorFile,
            "このパッケージの展開に必要なプログラムが見つかりません。\nインストールしてください: "
            "no-such-tool-here");
  EXPECT_EQ(needsTool->FDataSize, 0u);
  EXPECT_EQ(readable->FError, 0);
  EXPECT_EQ(Data(*readable), "12");
}

TEST(ProgramRun, EndsAtOnceWhenTheProgramDoes) {
  const auto start = std::chrono::steady_clock::now();
  const auto run = platform::RunProgram({"sh", "-c", "exit 5"}, std::chrono::seconds(5), 20);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_TRUE(run.started);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 5);
  // Arguments reach the program as they are, without a shell in between.
  const auto quoted = platform::RunProgram({"sh", "-c", "[ \"$1\" = 'a b;$c' ]", "sh", "a b;$c"},
                                           std::chrono::seconds(5), 2);
  EXPECT_EQ(quoted.exitCode, 0);
  EXPECT_FALSE(
      platform::RunProgram({"no-such-program-anywhere"}, std::chrono::seconds(1), 1).started);
}

TEST(ProgramRun, KillsAProgramThatOutlivesItsPollsWithWhatItStarted) {
  testsupport::TempEnv env;
  const auto marker = env.Root() / "child-alive";
  // The child of the program would write the marker after a second if it survived.
  const auto run =
      platform::RunProgram({"sh", "-c", "(sleep 1; touch '" + marker.string() + "') & sleep 30"},
                           std::chrono::milliseconds(20), 3);
  EXPECT_TRUE(run.started);
  EXPECT_FALSE(run.finished);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(CallbackTest, DeleteTempRemovesAFileOrAWholeTree) {
  fixtures::Write(inputs_ / "file", "x");
  fixtures::Write(inputs_ / "tree" / "a" / "b" / "c", "x");
  fixtures::Write(inputs_ / "kept" / "k", "x");
  std::filesystem::create_directory_symlink(inputs_ / "kept", inputs_ / "tree" / "link");
  EXPECT_TRUE(DeleteTemp(inputs_ / "file"));
  EXPECT_TRUE(DeleteTemp(inputs_ / "tree"));
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "file"));
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "tree"));
  EXPECT_TRUE(std::filesystem::exists(inputs_ / "kept" / "k"));  // links are not followed
  EXPECT_FALSE(DeleteTemp(inputs_ / "missing"));
}

}  // namespace
