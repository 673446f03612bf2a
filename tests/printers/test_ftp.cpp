// FTP printers through the real access library, against IPP identities served by ippeveprinter
// (the ipp_identity fixture: "withmodel" reports PX-E3000 and V1.23, "nomodel" only V2.00).
#include "common/codes.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "printers/printers_support.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

namespace {

using printerstest::RecordingChooser;
using testsupport::TempEnv;
namespace ipp = printerstest::ipp;

class Ftp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(LoadAccessLibrary(testsupport::BinDir() / kAccessLibraryName));
  }
  void SetUp() override {
    ASSERT_FALSE(ipp::Dir().empty()) << "run through ctest: the printers are a fixture";
    ASSERT_GT(ipp::PortOf("withmodel"), 0);
  }
  TempEnv env_;
};

TEST_F(Ftp, ModelAndVersionAreReadForEveryFormOfTheHost) {
  ipp::UseIppPort(env_, ipp::PortOf("withmodel"));
  for (const char* host : {"127.0.0.1", "ftp://127.0.0.1", "ftp://127.0.0.1/ketora0",
                           "127.0.0.1:2121", "ftp://127.0.0.1:21/ketora0", "localhost"}) {
    std::string model = "x";
    std::string version = "x";
    std::uint32_t lastError = 1;
    EXPECT_TRUE(AccessLibrary().GetFtpPrinterInfo(host, model, version, lastError)) << host;
    EXPECT_EQ(model, "PX-E3000") << host;
    EXPECT_EQ(version, "V1.23") << host;
    EXPECT_EQ(lastError, 0u) << host;
  }
}

TEST_F(Ftp, APrinterWithoutAModelSaysSo) {
  ipp::UseIppPort(env_, ipp::PortOf("nomodel"));
  std::string model;
  std::string version;
  std::uint32_t lastError = 0;
  EXPECT_FALSE(AccessLibrary().GetFtpPrinterInfo("127.0.0.1", model, version, lastError));
  EXPECT_EQ(lastError, accesscode::kModelUnknown);
}

TEST_F(Ftp, APrinterThatDoesNotAnswerIsNotReached) {
  ipp::UseIppPort(env_, 1);  // nothing answers there
  std::string model;
  std::string version;
  std::uint32_t lastError = 0;
  EXPECT_FALSE(AccessLibrary().GetFtpPrinterInfo("127.0.0.1", model, version, lastError));
  EXPECT_NE(lastError, 0u);
  EXPECT_NE(lastError, accesscode::kModelUnknown);
  for (const char* unusable : {"", "ftp://", "127.0.0.1:notaport"}) {
    EXPECT_FALSE(AccessLibrary().GetFtpPrinterInfo(unusable, model, version, lastError));
    EXPECT_NE(lastError, accesscode::kModelUnknown);
  }
}

TEST_F(Ftp, TheSelectedPrinterIsAskedOnce) {
  const ipp::OwnPrinter printer("PX-E3000", "V1.23");  // its requests are this test's alone
  ASSERT_GT(printer.Port(), 0);
  ipp::UseIppPort(env_, printer.Port());
  TFWLOADApp app({}, env_.SettingsFile());
  RecordingChooser chooser(std::nullopt);
  app.SetModelChooser(&chooser);
  const int before = printer.Requests();

  app.SelectPrinter("ftp://127.0.0.1/ketora0");
  EXPECT_EQ(app.PrinterInfo.Driver, "PX-E3000");
  EXPECT_EQ(app.PrinterInfo.Version, "V1.23");
  EXPECT_EQ(app.PrinterInfo.Code, 7);
  EXPECT_EQ(app.PrinterInfo.Command, 1);
  EXPECT_EQ(printer.Requests(), before + 1);

  TPrnInfo again;
  EXPECT_EQ(app.QueryPrinter("ftp://127.0.0.1/ketora0", again), 1);
  EXPECT_EQ(again.Driver, "PX-E3000");
  EXPECT_EQ(again.Version, "V1.23");
  EXPECT_EQ(app.IsTargetModel("ftp://127.0.0.1/ketora0"), 1);
  EXPECT_EQ(app.IsUpgradable("ftp://127.0.0.1/ketora0"), 1);
  EXPECT_EQ(printer.Requests(), before + 1);
  EXPECT_EQ(chooser.Asked, 0);
}

TEST_F(Ftp, APrinterWithoutAModelLetsTheUserChoose) {
  const ipp::OwnPrinter printer("", "V2.00");
  ASSERT_GT(printer.Port(), 0);
  ipp::UseIppPort(env_, printer.Port());
  TFWLOADApp app({}, env_.SettingsFile());
  RecordingChooser chooser(std::string("M3"));
  app.SetModelChooser(&chooser);
  app.SelectPrinter("ftp://127.0.0.1/ketora0");
  EXPECT_EQ(chooser.Asked, 1);
  EXPECT_EQ(app.PrinterInfo.Driver, "M3");
  EXPECT_EQ(app.PrinterInfo.Code, 8);
  EXPECT_EQ(app.PrinterInfo.Command, 1);
  EXPECT_EQ(app.PrinterInfo.Version, "");

  const int before = printer.Requests();
  app.SelectPrinter("ftp://127.0.0.1/ketora0");
  EXPECT_EQ(chooser.Asked, 1);
  EXPECT_EQ(printer.Requests(), before);
  EXPECT_EQ(app.PrinterInfo.Code, 8);
}

TEST_F(Ftp, AHostThatDoesNotAnswerIsNoTarget) {
  ipp::UseIppPort(env_, 1);
  TFWLOADApp app({}, env_.SettingsFile());
  RecordingChooser chooser(std::string("M3"));
  app.SetModelChooser(&chooser);
  app.SelectPrinter("ftp://127.0.0.1/ketora0");
  EXPECT_EQ(app.PrinterInfo.Driver, "???");
  EXPECT_EQ(app.PrinterInfo.Version, "");
  EXPECT_EQ(app.IsTargetModel(app.SelectedPrinter), 0);
  EXPECT_EQ(chooser.Asked, 0);
}

}  // namespace
