// The bytes a printer receives, built from a document's data and the switches.
#include "download/printthread.h"
#include "download/transfer_support.h"
#include "firmware/dwndoc.h"
#include "platform/tempfiles.h"
#include "printers/funcs.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>

namespace {

using testsupport::ReadFile;
using testsupport::TempEnv;

const std::string kPrefix = transfertest::CommandPrefix();

// Data that holds the bytes most likely to be mangled on the way: zero, end-of-file, all bits.
const std::string kData =
    std::string("\x00\x1A\xFF", 3) + "firmware" + std::string("\r\n\x1B\x00\x1A\x1A\xFF\x80", 8);

void SetData(TDownDocFile& doc, const std::string& data) {
  doc.FDataSize = static_cast<std::uint32_t>(data.size());
  doc.FData = std::make_unique<std::uint8_t[]>(data.size() + 1);
  std::memcpy(doc.FData.get(), data.data(), data.size());
}

std::filesystem::path NewTempFile() {
  auto name = MakeTempFileName("dwn");
  if (!name) throw std::runtime_error("no temporary file");
  return *name;
}

struct Shape {
  const char* name;
  int wrap;
  int enableCommand;
  int reboot;
  int initMemory;
  std::string expected;  // for kData
};

void PrintTo(const Shape& shape, std::ostream* os) { *os << shape.name; }

class StreamShape : public ::testing::TestWithParam<Shape> {};

TEST_P(StreamShape, FileHoldsExactlyTheExpectedBytes) {
  TempEnv env;
  const Shape& shape = GetParam();
  TDownDocFile doc;
  SetData(doc, kData);
  doc.FEnableCommand = shape.enableCommand;
  doc.FReboot = shape.reboot;
  const auto file = NewTempFile();

  const DownloadFileResult result =
      TPrintThread::MakeDownloadFile(file, &doc, shape.wrap, shape.initMemory);

  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.Code, rc::kSuccess);
  EXPECT_EQ(result.Size, static_cast<std::int64_t>(shape.expected.size()));
  EXPECT_EQ(ReadFile(file), shape.expected);
}

const std::string kRecord = "Uf00000019,0*";

INSTANTIATE_TEST_SUITE_P(
    Stream, StreamShape,
    ::testing::Values(
        Shape{"wrap-off", 0, 1, 1, 1, kData},
        Shape{"command-and-reboot-memory-on", 1, 1, 1, 1, kPrefix + kRecord + kData + "Ug,1,1*"},
        Shape{"command-and-reboot-memory-off", 1, 1, 1, 0, kPrefix + kRecord + kData + "Ug,1,0*"},
        Shape{"command-only", 1, 1, 0, 1, kPrefix + kRecord + kData},
        Shape{"reboot-only-memory-on", 1, 0, 1, 1, kData + "Ug,1,1*"},
        Shape{"reboot-only-memory-off", 1, 0, 1, 0, kData + "Ug,1,0*"},
        Shape{"no-document-switches", 1, 0, 0, 1, kData},
        // Any nonzero value counts as on, for the switches and the memory choice.
        Shape{"switches-nonzero-not-one", -1, 2, 7, 5, kPrefix + kRecord + kData + "Ug,1,1*"}),
    [](const ::testing::TestParamInfo<Shape>& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name;
    });

TEST(Stream, MemorySwitchChangesExactlyTheTrailersMemoryByte) {
  TempEnv env;
  TDownDocFile doc;
  SetData(doc, kData);
  const auto on = NewTempFile();
  const auto off = NewTempFile();
  ASSERT_TRUE(TPrintThread::MakeDownloadFile(on, &doc, 1, 1).Ok());
  ASSERT_TRUE(TPrintThread::MakeDownloadFile(off, &doc, 1, 0).Ok());
  const std::string a = ReadFile(on);
  const std::string b = ReadFile(off);
  ASSERT_EQ(a.size(), b.size());
  std::vector<std::size_t> differing;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) differing.push_back(i);
  }
  ASSERT_EQ(differing.size(), 1u);
  EXPECT_EQ(differing[0], a.size() - 2);  // the sixth of the trailer's seven bytes
  EXPECT_EQ(a[a.size() - 2], '1');
  EXPECT_EQ(b[b.size() - 2], '0');

  // Without a trailer the choice changes nothing.
  doc.FReboot = 0;
  const auto on2 = NewTempFile();
  const auto off2 = NewTempFile();
  ASSERT_TRUE(TPrintThread::MakeDownloadFile(on2, &doc, 1, 1).Ok());
  ASSERT_TRUE(TPrintThread::MakeDownloadFile(off2, &doc, 1, 0).Ok());
  EXPECT_EQ(ReadFile(on2), ReadFile(off2));
}

TEST(Stream, EmptyDataBlockStillCarriesTheCommand) {
  TempEnv env;
  TDownDocFile doc;  // no data at all
  const auto both = NewTempFile();
  const auto noTrailer = NewTempFile();
  const auto trailerOnly = NewTempFile();

  const auto r1 = TPrintThread::MakeDownloadFile(both, &doc, 1, 0);
  EXPECT_EQ(r1.Size, 72);
  EXPECT_EQ(ReadFile(both), kPrefix + "Uf00000000,0*" + "Ug,1,0*");

  doc.FReboot = 0;
  const auto r2 = TPrintThread::MakeDownloadFile(noTrailer, &doc, 1, 1);
  EXPECT_EQ(r2.Size, 65);
  EXPECT_EQ(ReadFile(noTrailer), kPrefix + "Uf00000000,0*");

  doc.FReboot = 1;
  doc.FEnableCommand = 0;
  const auto r3 = TPrintThread::MakeDownloadFile(trailerOnly, &doc, 1, 1);
  EXPECT_EQ(r3.Size, 7);
  EXPECT_EQ(ReadFile(trailerOnly), "Ug,1,1*");
}

TEST(Stream, EmptyResultIsAFailure) {
  TempEnv env;
  TDownDocFile doc;
  const auto file = NewTempFile();
  // No data and no wrapper part: nothing would be sent.
  const auto unwrapped = TPrintThread::MakeDownloadFile(file, &doc, 0, 1);
  EXPECT_FALSE(unwrapped.Ok());
  EXPECT_EQ(unwrapped.Size, 0);
  EXPECT_EQ(unwrapped.Code, rc::kTempFile);
  doc.FEnableCommand = 0;
  doc.FReboot = 0;
  const auto noParts = TPrintThread::MakeDownloadFile(file, &doc, 1, 1);
  EXPECT_EQ(noParts.Size, 0);
  EXPECT_EQ(noParts.Code, rc::kTempFile);
}

TEST(Stream, SizeRecordCountsTheDataAloneInEightDigits) {
  TempEnv env;
  TDownDocFile doc;
  SetData(doc, std::string(1'234'567, '\x5A'));
  const auto file = NewTempFile();
  const auto result = TPrintThread::MakeDownloadFile(file, &doc, 1, 1);
  ASSERT_EQ(result.Size, 1'234'567 + 72);
  const std::string bytes = ReadFile(file);
  EXPECT_EQ(bytes.substr(0, 52), kPrefix);
  EXPECT_EQ(bytes.substr(52, 13), "Uf01234567,0*");
  EXPECT_EQ(bytes.substr(65, 1'234'567), std::string(1'234'567, '\x5A'));
  EXPECT_EQ(bytes.substr(bytes.size() - 7), "Ug,1,1*");
}

TEST(Stream, MissingInputsFailWithoutCreatingAFile) {
  TempEnv env;
  TDownDocFile doc;
  SetData(doc, kData);
  const auto file = NewTempFile();
  EXPECT_EQ(TPrintThread::MakeDownloadFile(std::filesystem::path(), &doc, 1, 1).Code,
            rc::kTempFile);
  const auto noDoc = TPrintThread::MakeDownloadFile(file, nullptr, 1, 1);
  EXPECT_EQ(noDoc.Size, 0);
  EXPECT_EQ(noDoc.Code, rc::kTempFile);
  EXPECT_EQ(ReadFile(file), "");

  // The file must exist already: the builder never makes one of its own.
  const auto absent = env.TmpDir() / "absent";
  const auto r = TPrintThread::MakeDownloadFile(absent, &doc, 1, 1);
  EXPECT_EQ(r.Size, 0);
  EXPECT_EQ(r.Code, rc::kTempFile);
  EXPECT_FALSE(std::filesystem::exists(absent));

  // A size without data is a broken document, not an empty one.
  TDownDocFile broken;
  broken.FDataSize = 10;
  EXPECT_EQ(TPrintThread::MakeDownloadFile(file, &broken, 0, 0).Code, rc::kTempFile);
}

TEST(Stream, FailedWriteIsAFailure) {
  // Every write fails with "no space left" on this device.
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TDownDocFile doc;
  SetData(doc, kData);
  for (int wrap : {0, 1}) {
    const auto r = TPrintThread::MakeDownloadFile("/dev/full", &doc, wrap, 1);
    EXPECT_EQ(r.Size, 0);
    EXPECT_EQ(r.Code, rc::kTempFile);
  }
}

TEST(Stream, FileThatWasNotEmptyIsAFailure) {
  TempEnv env;
  TDownDocFile doc;
  SetData(doc, kData);
  const auto file = NewTempFile();
  // Left-over bytes beyond the stream would reach the printer behind the trailer.
  testsupport::WriteFile(file, std::string(200, 'x'));
  const auto r = TPrintThread::MakeDownloadFile(file, &doc, 1, 1);
  EXPECT_EQ(r.Size, 0);
  EXPECT_EQ(r.Code, rc::kTempFile);
}

TEST(Stream, FileThatCannotBeOpenedForWritingIsAFailure) {
  TempEnv env;
  TDownDocFile doc;
  SetData(doc, kData);
  // A folder in place of the file.
  EXPECT_EQ(TPrintThread::MakeDownloadFile(env.TmpDir(), &doc, 0, 0).Code, rc::kTempFile);
  if (::geteuid() != 0) {  // root writes read-only files
    const auto file = NewTempFile();
    std::filesystem::permissions(file, std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::replace);
    EXPECT_EQ(TPrintThread::MakeDownloadFile(file, &doc, 0, 0).Code, rc::kTempFile);
  }
}

// The command's eight digits end at 99,999,999 bytes of data.
TEST(Stream, TooLargeForTheCommandIsRefusedBeforeWriting) {
  TempEnv env;
  TDownDocFile doc;
  // The declared size alone decides: the builder must not read the data to refuse it.
  doc.FData = std::make_unique<std::uint8_t[]>(16);
  doc.FDataSize = 100'000'000;
  const auto file = NewTempFile();
  for (int reboot : {0, 1}) {
    doc.FReboot = reboot;
    const auto r = TPrintThread::MakeDownloadFile(file, &doc, 1, 1);
    EXPECT_EQ(r.Size, 0);
    EXPECT_EQ(r.Code, rc::kTooLarge);
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
  }
  doc.FDataSize = 0xFFFFFFFFu;
  EXPECT_EQ(TPrintThread::MakeDownloadFile(file, &doc, 1, 0).Code, rc::kTooLarge);
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

// Reads `count` bytes at `offset` without loading the whole file.
std::string ReadAt(const std::filesystem::path& file, std::uint64_t offset, std::size_t count) {
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

TEST(Stream, LargestDescribableSizeAndLargeDataWithoutSizeRecordAreBuilt) {
  TempEnv env;
  TDownDocFile doc;
  // Memory that is never written stays unbacked: the large blocks cost only the file writes.
  doc.FData = std::make_unique_for_overwrite<std::uint8_t[]>(100'000'000);
  doc.FDataSize = 99'999'999;
  const auto largest = NewTempFile();
  const auto r = TPrintThread::MakeDownloadFile(largest, &doc, 1, 1);
  ASSERT_EQ(r.Size, 99'999'999 + 72);
  EXPECT_EQ(ReadAt(largest, 52, 13), "Uf99999999,0*");
  EXPECT_EQ(ReadAt(largest, 99'999'999 + 65, 7), "Ug,1,1*");
  std::filesystem::remove(largest);

  // Without the size record nothing limits the size.
  doc.FDataSize = 100'000'000;
  doc.FEnableCommand = 0;
  const auto trailerOnly = NewTempFile();
  const auto t = TPrintThread::MakeDownloadFile(trailerOnly, &doc, 1, 0);
  ASSERT_EQ(t.Size, 100'000'000 + 7);
  EXPECT_EQ(ReadAt(trailerOnly, 100'000'000, 7), "Ug,1,0*");
}

}  // namespace
