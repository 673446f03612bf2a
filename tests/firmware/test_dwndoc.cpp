// Opening plain and compressed firmware files: the header, the data block and the three end
// states.

#include "firmwaretest.h"

#include "common/codes.h"
#include "firmware/packages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

namespace {

using fixtures::EncodeSzdd;
using fixtures::FirmwareBytes;

const std::string kCr = "\r";

std::string Header(const std::string& body) { return "[FW_DownLoad]\r\n" + body; }

class PlainFile : public FirmwareTest {};

TEST_F(PlainFile, RecognisedHeaderGivesTheBytesAfterTheFirst1A) {
  const std::string data = FirmwareBytes(70000, 3);
  ASSERT_NE(data.find('\x1A'), std::string::npos);
  const std::string header = Header(
      "FileFormat=FWB\r\nDownLoadDesc=Controller firmware\r\nDownLoadVersion=\"V2.10\"\r\n"
      "EnableCommand=0\r\nReboot=0\r\nDownLoadPrinter=\"PX-1100\",\"PX-1200\"\r\n"
      "BeginMessage=Turn the printer on.\\nWait.\r\nDoneMessage=Done\\n\\nRestart\r\n"
      "[Printers]\r\nPX-1100=1041,1\r\n");
  auto doc = Open("fw.FWB", header + '\x1A' + data);
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(doc->FDownLoadDesc, "Controller firmware");
  EXPECT_EQ(doc->FDownLoadVersion, "V2.10");
  EXPECT_EQ(doc->FEnableCommand, 0);
  EXPECT_EQ(doc->FReboot, 0);
  EXPECT_EQ(doc->FDownLoadPrinter, (std::vector<std::string>{"PX-1100", "PX-1200"}));
  EXPECT_EQ(doc->FBeginMessage, "Turn the printer on." + kCr + "Wait.");
  EXPECT_EQ(doc->FDoneMessage, "Done" + kCr + kCr + "Restart");
  ASSERT_EQ(doc->FDataSize, data.size());
  EXPECT_EQ(Data(*doc), data);  // later 0x1A bytes stay in the data
  EXPECT_EQ(doc->FFileName, (inputs_ / "fw.FWB").string());
  EXPECT_EQ(doc->FWorkDir, tempDir_.string() + "/");
}

TEST_F(PlainFile, ExtensionDoesNotChooseTheKindUnlessItIsThePackageOne) {
  const std::string bytes = Header("FileFormat=FWB\r\n") + '\x1A' + "DATA";
  for (const char* name : {"a.fwb", "b.FW_", "c.fw_", "d.bin", "noextension", "e.FWV.FWB"}) {
    auto doc = Open(name, bytes);
    EXPECT_EQ(doc->FError, 0) << name;
    EXPECT_EQ(doc->FFormatValid, 1) << name;
    EXPECT_EQ(Data(*doc), "DATA") << name;
  }
  // The package extension in any letter case: not a cabinet, so nothing is extracted and the
  // missing header leaves the file unrecognised and empty.
  for (const char* name : {"f.fwv", "g.FwV"}) {
    auto doc = Open(name, bytes);
    EXPECT_EQ(doc->FError, 0) << name;
    EXPECT_EQ(doc->FFormatValid, 0) << name;
    EXPECT_EQ(doc->FDataSize, 0u) << name;
  }
}

TEST_F(PlainFile, IconsBesideTheExpandedFileAreCopied) {
  // The work folder of a plain file is the program's temporary folder.
  fixtures::Write(tempDir_ / "PX9.ICO", "icon");
  auto doc = Open("fw.FWB", Header("FileFormat=FWB\r\n") + '\x1A' + "data");
  std::filesystem::remove(tempDir_ / "PX9.ICO");
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(testsupport::ReadFile(env_.DataHome() / "fwload" / "PX9.ICO"), "icon");
}

TEST_F(PlainFile, EmptyFileIsUnrecognisedAndEmpty) {
  auto doc = Open("empty.FWB", "");
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 0);
  EXPECT_EQ(doc->FDataSize, 0u);
  EXPECT_EQ(doc->FData, nullptr);
}

TEST_F(PlainFile, FileFormatIsCutToThreeCharactersAndComparedWithoutCase) {
  const auto recognised = [&](const std::string& value) {
    return Open("fw.FWB", Header("FileFormat=" + value + "\r\n") + '\x1A' + "x")->FFormatValid;
  };
  EXPECT_EQ(recognised("FWB"), 1);
  EXPECT_EQ(recognised("fwb"), 1);
  EXPECT_EQ(recognised("FwB2"), 1);
  EXPECT_EQ(recognised("FWB-Version 3"), 1);
  EXPECT_EQ(recognised("'FWB'"), 1);
  EXPECT_EQ(recognised("FW"), 0);
  EXPECT_EQ(recognised(" F W B"), 0);
  EXPECT_EQ(recognised("XFWB"), 0);
  EXPECT_EQ(Open("fw.FWB", Header("DownLoadDesc=x\r\n") + '\x1A')->FFormatValid, 0);
  EXPECT_EQ(Open("fw.FWB", "[Other]\r\nFileFormat=FWB\r\n\x1A")->FFormatValid, 0);
  // Section and key names in any letter case.
  EXPECT_EQ(Open("fw.FWB", "[fw_download]\nfileformat=FWB\n\x1A")->FFormatValid, 1);
}

TEST_F(PlainFile, UnrecognisedFileIsDataWholeAndKeepsBothSwitchesOn) {
  const std::string bytes =
      "[FW_DownLoad]\r\nFileFormat=XYZ\r\nEnableCommand=0\r\nReboot=0\r\n"
      "DownLoadPrinter=PX-1100\r\n\x1A" +
      FirmwareBytes(5000, 9);
  auto doc = Open("fw.FW_", bytes);
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 0);
  EXPECT_EQ(doc->FEnableCommand, 1);
  EXPECT_EQ(doc->FReboot, 1);
  EXPECT_TRUE(doc->FDownLoadPrinter.empty());
  EXPECT_TRUE(doc->FPrinters.empty());
  EXPECT_EQ(Data(*doc), bytes);
}

TEST_F(PlainFile, RecognisedHeaderWithout1AHasNoData) {
  auto doc = Open("fw.FWB", Header("FileFormat=FWB\r\nDownLoadDesc=x\r\n"));
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(doc->FDataSize, 0u);
}

TEST_F(PlainFile, HeaderEndsAtTheFirst1A) {
  // Keys after the first 0x1A belong to the data, not to the header.
  const std::string data = "\r\nDownLoadDesc=from the data\r\n[Printers]\r\nPX=1\r\n";
  auto doc = Open("fw.FWB", Header("FileFormat=FWB\r\n") + '\x1A' + data);
  EXPECT_EQ(doc->FDownLoadDesc, "");
  EXPECT_TRUE(doc->FPrinters.empty());
  EXPECT_EQ(Data(*doc), data);
}

TEST_F(PlainFile, IntegerKeysReadLeadingDigits) {
  const auto read = [&](const std::string& enable, const std::string& reboot) {
    auto doc = Open("fw.FWB", Header("FileFormat=FWB\r\nEnableCommand=" + enable +
                                     "\r\nReboot=" + reboot + "\r\n\x1A"));
    return std::make_pair(doc->FEnableCommand, doc->FReboot);
  };
  EXPECT_EQ(read("0", "1"), std::make_pair(0, 1));
  EXPECT_EQ(read("12abc", "abc"), std::make_pair(12, 0));
  EXPECT_EQ(read("", "'7'"), std::make_pair(0, 7));
  auto absent = Open("fw.FWB", Header("FileFormat=FWB\r\n\x1A"));
  EXPECT_EQ(absent->FEnableCommand, 1);
  EXPECT_EQ(absent->FReboot, 1);
}

TEST_F(PlainFile, DownLoadPrinterSplitsAtQuotesAndCommas) {
  const auto printers = [&](const std::string& value) {
    return Open("fw.FWB", Header("FileFormat=FWB\r\nDownLoadPrinter=" + value + "\r\n\x1A"))
        ->FDownLoadPrinter;
  };
  const std::vector<std::string> two = {"PX-1100", "PX-1200"};
  EXPECT_EQ(printers("\"PX-1100\",\"PX-1200\""), two);
  EXPECT_EQ(printers("PX-1100,PX-1200"), two);
  EXPECT_EQ(printers("\"PX-1100\"\"PX-1200\""), two);
  EXPECT_EQ(printers(",,PX-1100,,,PX-1200,"), two);
  // Blanks are part of the names; duplicates stay.
  EXPECT_EQ(printers("PX-1100, PX-1200,PX-1100"),
            (std::vector<std::string>{"PX-1100", " PX-1200", "PX-1100"}));
  EXPECT_TRUE(printers("").empty());
  EXPECT_TRUE(printers("\",\"").empty());
}

TEST_F(PlainFile, TextValuesAreDecodedFromCodePage932AndCutWithoutSplittingACharacter) {
  // "ファーム" in code page 932, then half-width "ｶ" (one byte).
  const std::string firm = "\x83\x74\x83\x40\x81\x5B\x83\x80";
  const std::string longDesc = std::string(253, 'a') + "\x83\x74";  // 255 bytes, cut at 254
  auto doc = Open("fw.FWB", Header("FileFormat=FWB\r\nDownLoadDesc=" + firm + "\xB6\r\n" +
                                   "DownLoadVersion=" + longDesc + "\r\n\x1A"));
  EXPECT_EQ(doc->FDownLoadDesc, "ファームｶ");
  EXPECT_EQ(doc->FDownLoadVersion, std::string(253, 'a'));

  std::string longMessage;
  for (int i = 0; i < 600; ++i) longMessage += "\x83\x74";  // 1200 bytes
  auto messages = Open("fw.FWB", Header("FileFormat=FWB\r\nBeginMessage=" + longMessage +
                                        "\r\nDoneMessage=a\\nb\\\\n\\x\r\n\x1A"));
  std::string expected;
  for (int i = 0; i < 511; ++i) expected += "フ";  // 1022 bytes: the next one would split
  EXPECT_EQ(messages->FBeginMessage, expected);
  EXPECT_EQ(messages->FDoneMessage, "a" + kCr + "b\\" + kCr + "\\x");
}

TEST_F(PlainFile, PrintersSectionIsCopiedInFileOrder) {
  auto doc = Open("fw.FWB", Header("FileFormat=FWB\r\n") +
                                "[Printers]\r\nPX-1100=1041,1\r\n; comment\r\n"
                                "\x83\x76\x83\x8A\x83\x93\x83\x5E=1042,0\r\n"  // プリンタ
                                "Empty=\r\npx-1100=9999,0\r\nQuoted='1043,1'\r\n"
                                "[Other]\r\nPX-9=1\r\n[printers]\r\nPX-8=1\r\n\x1A");
  using Entry = std::pair<std::string, std::string>;
  EXPECT_EQ(
      doc->FPrinters,
      (std::vector<Entry>{{"PX-1100", "1041,1"}, {"プリンタ", "1042,0"}, {"Quoted", "1043,1"}}));
  auto none = Open("fw.FWB", Header("FileFormat=FWB\r\n\x1A"));
  EXPECT_TRUE(none->FPrinters.empty());
}

TEST_F(PlainFile, OnlyARegularFileOpensAndNothingElseHoldsTheProgram) {
  std::vector<std::filesystem::path> paths = {inputs_ / "nothing.FWB"};
  for (const std::string kind : {".FWB", ".FW_", ".fwv"}) {
    std::filesystem::create_directories(inputs_ / ("folder" + kind));
    ASSERT_EQ(::mkfifo((inputs_ / ("pipe" + kind)).c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/null", inputs_ / ("null" + kind));
    std::filesystem::create_symlink("/dev/zero", inputs_ / ("zero" + kind));
    for (const char* name : {"folder", "pipe", "null", "zero"})
      paths.push_back(inputs_ / (name + kind));
  }
  for (const auto& path : paths) {
    auto opening = std::async(std::launch::async,
                              [path] { return std::make_unique<TDownDocFile>(path.string()); });
    if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      // A reader waiting for a writer gets its end of file, so the test itself ends.
      const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
      ADD_FAILURE() << path << " held the program";
    }
    const auto doc = opening.get();
    EXPECT_EQ(doc->FError, rc::kFileOpen) << path;
    EXPECT_EQ(doc->FDataSize, 0u) << path;
  }

  TDownDocFile empty("");
  EXPECT_EQ(empty.FError, 0);
  EXPECT_EQ(empty.FEnableCommand, 1);
  EXPECT_EQ(empty.FReboot, 1);
}

TEST_F(PlainFile, OneMegabyteHeaderWithout1AGetsAClearResult) {
  std::string body = "FileFormat=FWB\r\n[Printers]\r\n";
  for (int i = 0; body.size() < (1u << 20); ++i) body += "PX-" + std::to_string(i) + "=1,1\r\n";
  const auto start = std::chrono::steady_clock::now();
  auto doc = Open("fw.FWB", Header(body));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(doc->FDataSize, 0u);
  EXPECT_GT(doc->FPrinters.size(), 50000u);

  std::string junk(1 << 20, 'x');
  for (std::size_t i = 0; i < junk.size(); i += 3) junk[i] = '\n';
  auto unrecognised = Open("junk.FWB", junk);
  EXPECT_EQ(unrecognised->FError, 0);
  EXPECT_EQ(unrecognised->FFormatValid, 0);
  EXPECT_EQ(Data(*unrecognised), junk);
}

class DataFiles : public FirmwareTest {
 protected:
  // A plain file whose header names data files; relative names resolve in the private temporary
  // folder, which holds none, so the tests give absolute names.
  std::unique_ptr<TDownDocFile> OpenNaming(const std::string& list) {
    return Open("fw.FWB", Header("FileFormat=FWB\r\nDownLoadFile=" + list + "\r\n"));
  }
  std::string Abs(const std::string& name) { return (inputs_ / name).string(); }
};

TEST_F(DataFiles, BlockIsTheConcatenationInListOrder) {
  const std::string a = FirmwareBytes(40000, 1);
  const std::string b = FirmwareBytes(1, 2);
  const std::string c = FirmwareBytes(33333, 3);
  fixtures::Write(inputs_ / "a.bin", a);
  fixtures::Write(inputs_ / "b.bin", b);
  fixtures::Write(inputs_ / "c.bin", c);
  fixtures::Write(inputs_ / "empty.bin", "");
  auto doc = OpenNaming(Abs("c.bin") + "," + Abs("a.bin") + "," + Abs("empty.bin") + "," +
                        Abs("b.bin") + "," + Abs("a.bin"));
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), c + a + b + a);
}

TEST_F(DataFiles, EmptyPartsAreDroppedAndBlanksBelongToTheNames) {
  fixtures::Write(inputs_ / "a.bin", "A");
  fixtures::Write(inputs_ / "b.bin", "B");
  fixtures::Write(inputs_ / " b.bin", "blank");
  EXPECT_EQ(Data(*OpenNaming(Abs("a.bin") + ",," + Abs("b.bin"))), "AB");
  EXPECT_EQ(Data(*OpenNaming(Abs("a.bin") + ",,,")), "A");
  // A blank after a comma starts the next name: " /abs/b.bin" is another, relative name.
  auto blank = OpenNaming(Abs("a.bin") + ", " + Abs("b.bin"));
  EXPECT_EQ(blank->FError, rc::kFileOpen);
  EXPECT_EQ(blank->FErrorFile, " " + Abs("b.bin"));
}

TEST_F(DataFiles, OnlyTheFirst32NamesAreUsed) {
  std::string list;
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "part" + std::to_string(i) + ".bin";
    const std::string bytes(1 + i, static_cast<char>('A' + i));
    fixtures::Write(inputs_ / name, bytes);
    if (i < 32) expected += bytes;
    list += (i ? "," : "") + Abs(name);
  }
  // Names past the 32nd may even be missing.
  list += "," + Abs("missing.bin");
  auto doc = OpenNaming(list);
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), expected);
}

TEST_F(DataFiles, MissingOrUnreadableDataFileFailsTheOpen) {
  fixtures::Write(inputs_ / "a.bin", "A");
  std::filesystem::create_directories(inputs_ / "folder");
  ASSERT_EQ(::mkfifo((inputs_ / "fifo").c_str(), 0600), 0);
  for (const std::string& bad : {Abs("missing.bin"), Abs("folder"), Abs("fifo")}) {
    auto doc = OpenNaming(Abs("a.bin") + "," + bad);
    EXPECT_EQ(doc->FError, rc::kFileOpen) << bad;
    EXPECT_EQ(doc->FErrorFile, bad);
    EXPECT_EQ(doc->FDataSize, 0u) << "no part of the firmware may pass as whole";
    EXPECT_EQ(doc->FData, nullptr);
    EXPECT_EQ(doc->FFormatValid, 1);
  }
}

TEST_F(DataFiles, RelativeNamesResolveInTheWorkFolderNotTheCurrentOne) {
  // A file of that name in the current folder is not the one meant.
  fixtures::Write(inputs_ / "fw1.bin", "current folder");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(inputs_);
  auto doc = OpenNaming("fw1.bin");
  const auto after = std::filesystem::current_path();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(after, inputs_);
  EXPECT_EQ(doc->FError, rc::kFileOpen);
  EXPECT_EQ(doc->FErrorFile, "fw1.bin");
}

TEST_F(DataFiles, TotalThatDoesNotFitFailsBeforeReading) {
  // Sparse files: sizes beyond 4 GiB together without using the disk.
  for (const char* name : {"big1.bin", "big2.bin"}) {
    const int fd = ::open((inputs_ / name).c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
    ::close(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  auto doc = OpenNaming(Abs("big1.bin") + "," + Abs("big2.bin"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(doc->FError, rc::kFileOpen);
  EXPECT_EQ(doc->FErrorFile, Abs("big2.bin"));
  EXPECT_EQ(doc->FDataSize, 0u);
}

TEST_F(DataFiles, BlockThatCannotBeAllocatedFailsWith18) {
  fixtures::Write(inputs_ / "a.bin", FirmwareBytes(1000));
  const auto previous = firmware::SetDataAllocator([](std::size_t) { return TDataBlock(); });
  auto doc = OpenNaming(Abs("a.bin"));
  auto unrecognised = Open("plain.bin", "whole file");
  firmware::SetDataAllocator(previous);
  EXPECT_EQ(doc->FError, rc::kTempFile);
  EXPECT_EQ(doc->FDataSize, 0u);
  EXPECT_EQ(doc->FData, nullptr);
  EXPECT_EQ(unrecognised->FError, rc::kTempFile);
}

TEST_F(DataFiles, BlockStaysAsOpenedWhenFilesChangeOrGoAway) {
  // Large and small, named from outside or unpacked by the program: the block is the data at the
  // time of opening, whatever happens to any file afterwards.
  const std::string big = FirmwareBytes(3 << 20, 6);
  const std::string small = FirmwareBytes(5000, 7);
  fixtures::Write(inputs_ / "big.bin", big);
  fixtures::Write(inputs_ / "small.bin", small);
  auto named = OpenNaming(Abs("big.bin"));
  auto two = OpenNaming(Abs("big.bin") + "," + Abs("small.bin"));
  auto own = Open("own.FWB", Header("FileFormat=FWB\r\n") + '\x1A' + big);
  auto packed = Open("packed.FW_", EncodeSzdd(Header("FileFormat=FWB\r\n") + '\x1A' + big));
  fixtures::Write(inputs_ / "big.bin", std::string(100, 'x'));
  std::filesystem::remove(inputs_ / "small.bin");
  std::filesystem::remove(inputs_ / "own.FWB");
  EXPECT_EQ(Data(*named), big);
  EXPECT_EQ(Data(*two), big + small);
  EXPECT_EQ(Data(*own), big);
  EXPECT_EQ(Data(*packed), big);
  // The block can be written to without touching anything else.
  own->FData[0] ^= 0xFF;
  EXPECT_EQ(Data(*packed), big);
}

TEST_F(DataFiles, PathsLongerThan259BytesAreUsedWhole) {
  std::filesystem::path deep = inputs_;
  for (int i = 0; i < 12; ++i) deep /= std::string(30, static_cast<char>('a' + i));
  const std::string data = FirmwareBytes(3000, 5);
  fixtures::Write(deep / "data.bin", data);
  ASSERT_GT((deep / "data.bin").string().size(), 360u);
  const std::string header =
      Header("FileFormat=FWB\r\nDownLoadFile=" + (deep / "data.bin").string() + "\r\n");
  fixtures::Write(deep / "fw.FWB", header);
  TDownDocFile doc((deep / "fw.FWB").string());
  EXPECT_EQ(doc.FError, 0);
  EXPECT_EQ(doc.FFileName, (deep / "fw.FWB").string());
  EXPECT_EQ(Data(doc), data);
}

TEST_F(DataFiles, NamesResolveWithoutRegardToCaseWithEitherSeparator) {
  fixtures::Write(inputs_ / "Sub" / "Fw1.Bin", "one");
  fixtures::Write(inputs_ / "Sub" / "Extra" / "FW2.BIN", "two");
  const std::string base = inputs_.string();
  auto doc = OpenNaming(base + "\\SUB\\fw1.bin," + base + "/sub/EXTRA\\fw2.bin");
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), "onetwo");
}

class CompressedFile : public FirmwareTest {};

TEST_F(CompressedFile, ExpandsToTheSameBlockAsThePlainFile) {
  const std::string data = FirmwareBytes(100000, 11);
  const std::string plain = Header("FileFormat=FWB\r\nDownLoadDesc=LZ\r\n") + '\x1A' + data;
  auto doc = Open("fw.FW_", EncodeSzdd(plain));
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(doc->FDownLoadDesc, "LZ");
  EXPECT_EQ(Data(*doc), data);

  // Unrecognised: the whole expansion is the data.
  const std::string other = FirmwareBytes(5000, 12);
  EXPECT_EQ(Data(*Open("other.FW_", EncodeSzdd(other))), other);
  // Tiny inputs, where the window's blanks matter.
  for (const std::string& tiny : {std::string(), std::string("a"), std::string("   a   ")}) {
    auto small = Open("tiny.FW_", EncodeSzdd(tiny));
    EXPECT_EQ(small->FError, 0);
    EXPECT_EQ(Data(*small), tiny);
  }
}

TEST_F(CompressedFile, ShortOrDamagedExpansionFailsWith18) {
  const std::string plain = Header("FileFormat=FWB\r\n") + '\x1A' + FirmwareBytes(20000, 4);
  const std::string szdd = EncodeSzdd(plain);
  // Cut in the compressed stream.
  EXPECT_EQ(Open("cut.FW_", szdd.substr(0, szdd.size() / 2))->FError, rc::kTempFile);
  // The length field promises more than the stream holds.
  EXPECT_EQ(Open("long.FW_", EncodeSzdd(plain, 'B', plain.size() + 1))->FError, rc::kTempFile);
  // Or less.
  EXPECT_EQ(Open("short.FW_", EncodeSzdd(plain, 'B', plain.size() - 1))->FError, rc::kTempFile);
  // The signature alone, or with a header cut short.
  EXPECT_EQ(Open("sig.FW_", szdd.substr(0, 8))->FError, rc::kTempFile);
  EXPECT_EQ(Open("head.FW_", szdd.substr(0, 12))->FError, rc::kTempFile);
}

TEST_F(CompressedFile, ExpandFileCopiesOtherFilesByteForByte) {
  const std::string bytes = "SZDD not quite" + FirmwareBytes(10000, 8);
  fixtures::Write(inputs_ / "plain", bytes);
  std::uint16_t error = 0;
  ASSERT_TRUE(ExpandFile(inputs_ / "plain", inputs_ / "copy", error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(testsupport::ReadFile(inputs_ / "copy"), bytes);

  EXPECT_FALSE(ExpandFile(inputs_ / "missing", inputs_ / "copy2", error));
  EXPECT_EQ(error, rc::kFileOpen);
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "copy2"));
  error = 0;
  EXPECT_FALSE(ExpandFile(inputs_ / "plain", inputs_ / "no" / "such" / "folder", error));
  EXPECT_EQ(error, rc::kTempFile);
  // A failed expansion leaves no target behind.
  fixtures::Write(inputs_ / "cut.FW_", EncodeSzdd(bytes).substr(0, 2000));
  error = 0;
  EXPECT_FALSE(ExpandFile(inputs_ / "cut.FW_", inputs_ / "cut.out", error));
  EXPECT_EQ(error, rc::kTempFile);
  EXPECT_FALSE(std::filesystem::exists(inputs_ / "cut.out"));
}

TEST_F(CompressedFile, StripHeaderKeepsOnlyTheBytesAfterTheFirst1A) {
  TDownDocFile doc;
  fixtures::Write(inputs_ / "h",
                  "head\x1A\x1A"
                  "data\x1A");
  EXPECT_TRUE(doc.StripHeader(inputs_ / "h"));
  EXPECT_EQ(testsupport::ReadFile(inputs_ / "h"),
            "\x1A"
            "data\x1A");
  fixtures::Write(inputs_ / "none", "no end of header");
  EXPECT_TRUE(doc.StripHeader(inputs_ / "none"));
  EXPECT_EQ(testsupport::ReadFile(inputs_ / "none"), "");
  EXPECT_FALSE(doc.StripHeader(inputs_ / "missing"));

  const std::string big = std::string(100, 'h') + '\x1A' + FirmwareBytes(3 << 20, 2);
  fixtures::Write(inputs_ / "big", big);
  EXPECT_TRUE(doc.StripHeader(inputs_ / "big"));
  EXPECT_EQ(testsupport::ReadFile(inputs_ / "big"), big.substr(101));
}

}  // namespace
