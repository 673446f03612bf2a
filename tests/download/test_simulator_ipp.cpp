// The printer simulator's IPP identity as an IPP client (libcups) meets it: the answer to
// Get-Printer-Attributes, and the restart after a download on the raw port.
#include "support/simulator.h"
#include "support/tempenv.h"

#include <cups/cups.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::SimIdentity;
using testsupport::Simulator;
using testsupport::TempEnv;
using Clock = std::chrono::steady_clock;

struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Response = std::unique_ptr<ipp_t, IppDeleter>;

// One request on a fresh connection; null when the printer cannot be reached.
Response Ask(int port, ipp_op_t operation = IPP_OP_GET_PRINTER_ATTRIBUTES, int major = 2,
             int minor = 0, const std::vector<const char*>& wanted = {}) {
  http_t* http =
      httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 2000, nullptr);
  if (!http) return nullptr;
  ipp_t* request = ippNewRequest(operation);
  ippSetVersion(request, major, minor);
  const std::string uri = "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print";
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  if (!wanted.empty()) {
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(wanted.size()), nullptr, wanted.data());
  }
  Response response(cupsDoRequest(http, request, "/ipp/print"));
  httpClose(http);
  return response;
}

std::string Text(const Response& r, const char* name, ipp_tag_t tag) {
  ipp_attribute_t* a = ippFindAttribute(r.get(), name, tag);
  const char* s = a && ippGetCount(a) == 1 ? ippGetString(a, 0, nullptr) : nullptr;
  return s ? s : "(absent)";
}

TEST(SimulatorIpp, AnswersGetPrinterAttributesAsAPrinterDoes) {
  TempEnv env;
  Simulator sim(Simulator::ScriptIn(testsupport::SourceDir()), env.Root() / "printer",
                SimIdentity{"TORVA PX-E3000", "V1.23"}.Args());
  struct Case {
    ipp_op_t operation;
    int major, minor;
    std::vector<const char*> wanted;
    ipp_status_t status;
    const char* model;
  };
  const Case cases[] = {
      {IPP_OP_GET_PRINTER_ATTRIBUTES, 1, 1, {}, IPP_STATUS_OK, "TORVA PX-E3000"},
      {IPP_OP_GET_PRINTER_ATTRIBUTES, 2, 0, {"all"}, IPP_STATUS_OK, "TORVA PX-E3000"},
      {IPP_OP_GET_PRINTER_ATTRIBUTES,
       2,
       0,
       {"printer-firmware-string-version"},
       IPP_STATUS_OK,
       "(absent)"},
      {IPP_OP_PRINT_JOB, 2, 0, {}, IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED, "(absent)"},
  };
  for (const Case& c : cases) {
    const std::string row = std::to_string(c.major) + "." + std::to_string(c.minor) + " " +
                            ippOpString(c.operation) + " " + std::to_string(c.wanted.size());
    const Response r = Ask(sim.IppPort(), c.operation, c.major, c.minor, c.wanted);
    ASSERT_TRUE(r) << row << ": " << cupsLastErrorString();
    EXPECT_EQ(ippGetStatusCode(r.get()), c.status) << row;
    int minor = -1;
    EXPECT_EQ(ippGetVersion(r.get(), &minor), c.major) << row;
    EXPECT_EQ(minor, c.minor) << row;
    EXPECT_EQ(Text(r, "attributes-charset", IPP_TAG_CHARSET), "utf-8") << row;
    EXPECT_NE(Text(r, "attributes-natural-language", IPP_TAG_LANGUAGE), "(absent)") << row;
    EXPECT_EQ(Text(r, "printer-make-and-model", IPP_TAG_TEXT), c.model) << row;
    if (c.status != IPP_STATUS_OK) continue;
    EXPECT_EQ(Text(r, "printer-firmware-string-version", IPP_TAG_TEXT), "V1.23") << row;
    if (!c.wanted.empty() && std::string(c.wanted[0]) != "all") continue;
    EXPECT_NE(Text(r, "printer-name", IPP_TAG_NAME), "(absent)") << row;
    // Named as the client named the printer (libcups says "localhost" for a loopback address).
    EXPECT_THAT(
        Text(r, "printer-uri-supported", IPP_TAG_URI),
        ::testing::MatchesRegex("ipp://[a-z0-9.]+:" + std::to_string(sim.IppPort()) + "/ipp/print"))
        << row;
    ipp_attribute_t* state = ippFindAttribute(r.get(), "printer-state", IPP_TAG_ENUM);
    EXPECT_EQ(state ? ippGetInteger(state, 0) : 0, IPP_PSTATE_IDLE) << row;
  }
}

TEST(SimulatorIpp, OnlyAWellFormedDownloadRestartsThePrinter) {
  TempEnv env;
  Simulator sim(Simulator::ScriptIn(testsupport::SourceDir()), env.Root() / "printer",
                SimIdentity{"PX-E3000", "V1.00", "V2.00", 1.0, ""}.Args());
  auto version = [&] {
    const Response r = Ask(sim.IppPort());
    return r ? Text(r, "printer-firmware-string-version", IPP_TAG_TEXT) : "(not reached)";
  };

  // Nothing received is no update: the printer answers on, unchanged.
  ASSERT_TRUE(testsupport::SendToRawPort(sim.RawPort(), ""));
  auto records = sim.WaitForRecords(1, 10s);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].Errors.empty());
  EXPECT_EQ(records[0].VersionAfter, "V1.00");
  EXPECT_EQ(version(), "V1.00");

  ASSERT_TRUE(testsupport::SendToRawPort(sim.RawPort(), "firmware data"));
  records = sim.WaitForRecords(2, 10s);
  const auto reported = Clock::now();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].VersionAfter, "V2.00");
  EXPECT_EQ(version(), "(not reached)");
  std::string after = "(not reached)";
  while (after == "(not reached)" && Clock::now() - reported < 5s) {
    std::this_thread::sleep_for(50ms);
    after = version();
  }
  EXPECT_EQ(after, "V2.00");
  EXPECT_GE(Clock::now() - reported, 800ms);
}

}  // namespace
