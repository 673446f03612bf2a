// Firmware files as users get them: cabinets built by gcab, SZDD files checked against msexpand,
// the real cabinet tool as the fallback, the program opening a file named on its command line.

#include "firmwaretest.h"

#include "common/codes.h"
#include "firmware/packages.h"
#include "platform/profile.h"
#include "printers/myapp.h"
#include "support/run.h"

namespace {

using fixtures::FirmwareBytes;
using fixtures::GcabCabinet;

using Files = std::vector<std::pair<std::string, std::string>>;

const std::string kHeader =
    "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Package\r\nDownLoadVersion=1.02\r\n"
    "DownLoadFile=DATA\\FW1.BIN,fw2.bin\r\nDownLoadPrinter=\"PX-1100\",\"PX-1200\"\r\n"
    "[Printers]\r\nPX-1100=px1100.ico,1\r\n";

class GcabPackage : public FirmwareTest {
 protected:
  std::unique_ptr<TDownDocFile> OpenGcab(const Files& files, bool zip,
                                         const std::string& name = "fw.FWV") {
    const auto staging = env_.Root() / ("staging-" + std::to_string(++count_));
    EXPECT_TRUE(GcabCabinet(inputs_ / name, staging, files, zip));
    return std::make_unique<TDownDocFile>((inputs_ / name).string());
  }
  int count_ = 0;
};

TEST_F(GcabPackage, StoredAndMszipCabinetsGiveTheNamedFilesByteForByte) {
  const std::string one = FirmwareBytes(300000, 31);
  const std::string two = FirmwareBytes(4097, 32);
  for (const bool zip : {false, true}) {
    auto doc = OpenGcab({{"HEADER.FWB", kHeader},
                         {"DATA/FW1.BIN", one},
                         {"fw2.bin", two},
                         {"PX1100.ICO", "icon bytes\x1A\x00\xFF"},
                         {"DATA/inner.ico", "deeper"}},
                        zip);
    SCOPED_TRACE(zip ? "MSZIP" : "stored");
    EXPECT_EQ(doc->FError, 0);
    EXPECT_EQ(doc->FFormatValid, 1);
    EXPECT_EQ(doc->FDownLoadDesc, "Package");
    EXPECT_EQ(doc->FDownLoadVersion, "1.02");
    EXPECT_EQ(doc->FDownLoadPrinter, (std::vector<std::string>{"PX-1100", "PX-1200"}));
    EXPECT_EQ(doc->FPrinters, (Files{{"PX-1100", "px1100.ico,1"}}));
    EXPECT_EQ(Data(*doc), one + two);
    const auto dataDir = env_.DataHome() / "fwload";
    EXPECT_EQ(testsupport::ListTree(dataDir), std::vector<std::string>{"PX1100.ICO"});
    EXPECT_EQ(testsupport::ReadFile(dataDir / "PX1100.ICO"), "icon bytes\x1A");
  }
}

TEST_F(GcabPackage, NamesInOtherLetterCaseAndTheLaterOfTwoEqualOnes) {
  auto doc = OpenGcab({{"header.fwb", kHeader}, {"Data/fw1.Bin", "1"}, {"FW2.BIN", "2"}}, true,
                      "lower.fwv");
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), "12");

  auto twice = OpenGcab({{"HEADER.FWB", "[FW_DownLoad]\r\nFileFormat=XYZ\r\n"},
                         {"DATA/FW1.BIN", "first"},
                         {"fw2.bin", "2"},
                         {"Header.Fwb", kHeader},
                         {"data/Fw1.bin", "later"}},
                        true);
  EXPECT_EQ(twice->FError, 0);
  EXPECT_EQ(twice->FFormatValid, 1);
  EXPECT_EQ(Data(*twice), "later2");
}

TEST_F(GcabPackage, HeaderCarryingItsOwnData) {
  const std::string data = FirmwareBytes(100000, 33);
  auto doc = OpenGcab({{"HEADER.FWB", "[FW_DownLoad]\r\nFileFormat=FWB\r\n\x1A" + data}}, true);
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(Data(*doc), data);
}

TEST_F(GcabPackage, CorruptOrCutCabinetLosesTheDamagedMembersOnly) {
  const std::string one = FirmwareBytes(400000, 34);
  const auto staging = env_.Root() / "staging";
  ASSERT_TRUE(GcabCabinet(inputs_ / "good.FWV", staging,
                          {{"HEADER.FWB", kHeader}, {"fw2.bin", "2"}, {"DATA/FW1.BIN", one}},
                          true));
  const std::string cab = testsupport::ReadFile(inputs_ / "good.FWV");

  // Damage in the middle of the compressed data: the big member is missing, the open fails.
  std::string corrupt = cab;
  for (std::size_t i = cab.size() / 2; i < cab.size() / 2 + 64; ++i) corrupt[i] ^= 0x5A;
  auto damaged = Open("corrupt.FWV", corrupt);
  EXPECT_EQ(damaged->FError, rc::kFileOpen);
  EXPECT_EQ(damaged->FErrorFile, "DATA\\FW1.BIN");
  EXPECT_EQ(damaged->FDataSize, 0u);

  auto cut = Open("cut.FWV", cab.substr(0, cab.size() * 3 / 4));
  EXPECT_EQ(cut->FError, rc::kFileOpen);
  EXPECT_EQ(cut->FErrorFile, "DATA\\FW1.BIN");

  // Not a cabinet at all: the real tool is tried too, and the file is unrecognised and empty.
  auto text = Open("text.FWV", std::string(5000, 'x'));
  EXPECT_EQ(text->FError, 0);
  EXPECT_EQ(text->FFormatValid, 0);
  EXPECT_EQ(text->FDataSize, 0u);
}

TEST_F(GcabPackage, CabinetToolExtractsWhatTheWalkCannotOpen) {
  // A cabinet behind other bytes (as in a self-extracting program): the walk wants the cabinet at
  // the start, the cabinet tool searches for it. Its names are code page 932 ("データ.bin").
  const std::string data = FirmwareBytes(20000, 35);
  const std::string cpName = "\x83\x66\x81\x5B\x83\x5E.bin";
  const std::string cab = fixtures::StoredCabinet(
      {{"HEADER.FWB", "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=" + cpName + "\r\n"},
       {cpName, data}});
  auto doc = Open("wrapped.FWV", std::string(1000, '\x90') + cab);
  EXPECT_EQ(doc->FError, 0);
  EXPECT_EQ(doc->FFormatValid, 1);
  EXPECT_EQ(Data(*doc), data);
}

TEST(SzddEncoder, MsexpandAgreesWithOurEncoder) {
  testsupport::TempEnv env;
  std::string repeated(10000, 'A');
  std::string blanks(5000, ' ');
  for (const std::string& input : {std::string(), std::string("a"), std::string("fifteen bytes!!"),
                                   repeated, blanks, FirmwareBytes(300000, 36)}) {
    fixtures::Write(env.Root() / "in.FW_", fixtures::EncodeSzdd(input));
    ASSERT_EQ(testsupport::Run({"msexpand"},
                               {.Input = env.Root() / "in.FW_", .Output = env.Root() / "out"}),
              0);
    EXPECT_EQ(testsupport::ReadFile(env.Root() / "out"), input) << input.size() << " bytes";
  }
}

TEST_F(GcabPackage, ProgramOpensTheFileNamedOnItsCommandLine) {
  const std::string data = FirmwareBytes(5000, 37);
  fixtures::Write(inputs_ / "fw.FWB",
                  "[FW_DownLoad]\r\nFileFormat=FWB\r\n"
                  "[Printers]\r\nPX-7000=px7000.ico,1\r\n\x1A" +
                      data);
  {
    TFWLOADApp app({"/NM", (inputs_ / "fw.FWB").string()}, env_.SettingsFile());
    ASSERT_NE(app.GetDoc(), nullptr);
    EXPECT_EQ(app.GetFileName(), (inputs_ / "fw.FWB").string());
    EXPECT_EQ(app.GetDoc()->FError, 0);
    EXPECT_EQ(app.GetDoc()->FFormatValid, 1);
    EXPECT_EQ(Data(*app.GetDoc()), data);
    // The file's model rows reach the settings file at once.
    EXPECT_EQ(platform::ProfileFile(env_.SettingsFile()).Read("Printers", "PX-7000"),
              std::optional<std::string>("px7000.ico,1"));

    app.OpenFile((inputs_ / "missing.FWB").string());
    ASSERT_NE(app.GetDoc(), nullptr);
    EXPECT_EQ(app.GetDoc()->FError, rc::kFileOpen);
  }
}

TEST(ExportedSymbol, ProgramExportsIterateCabinet) {
  testsupport::TempEnv env;
  // The program is built beside the tests.
  const auto dir = testsupport::BinDir().empty() ? platform::ProgramDir() : testsupport::BinDir();
  const auto program = dir / "fwload";
  ASSERT_TRUE(std::filesystem::exists(program));
  ASSERT_EQ(testsupport::Run({"nm", "-D", "--defined-only", program.string()},
                             {.Output = env.Root() / "symbols"}),
            0);
  const std::string symbols = testsupport::ReadFile(env.Root() / "symbols");
  EXPECT_NE(symbols.find(" T IterateCabinet\n"), std::string::npos) << symbols;
}

}  // namespace
