// FTP printers' addresses in every form the program meets them.
#include "common/ftpaddress.h"

#include <gtest/gtest.h>

namespace {

using ftpaddress::AddressError;
using ftpaddress::ParsedAddress;

enum class Form { Field, CommandLine, Target };

struct Case {
  Form form;
  const char* text;
  AddressError error;
  const char* authority = "";  // when the host could be read
  const char* directory = "";
};

ParsedAddress ParseAs(Form form, const char* text) {
  switch (form) {
    case Form::Field:
      return ftpaddress::ParseAddressField(text);
    case Form::CommandLine:
      return ftpaddress::ParseCommandLine(text);
    case Form::Target:
      break;
  }
  return ftpaddress::ParseTarget(text);
}

constexpr auto kOk = AddressError::None;
constexpr auto F = Form::Field;
constexpr auto C = Form::CommandLine;
constexpr auto T = Form::Target;

const Case kCases[] = {
    // The FTP printer dialog's address field: the host alone, the directory has its own field.
    {F, "10.0.0.5", kOk, "10.0.0.5"},
    {F, "ftp://10.0.0.5", kOk, "10.0.0.5"},
    {F, "FTP://printer1/", kOk, "printer1"},
    {F, "  printer1:2121  ", kOk, "printer1:2121"},
    {F, "[::1]:2121", kOk, "[::1]:2121"},
    {F, "[fe80::1]", kOk, "[fe80::1]"},
    {F, "::1", kOk, "[::1]"},
    {F, "10.0.0.5/ketora0", AddressError::DirectoryGiven, "10.0.0.5"},
    {F, "ftp://10.0.0.5:21/a/b", AddressError::DirectoryGiven, "10.0.0.5:21"},
    {F, "", AddressError::NoHost},
    {F, "ftp://", AddressError::NoHost},
    {F, "/ketora0", AddressError::NoHost},
    {F, ":21", AddressError::NoHost},
    {F, "[]:21", AddressError::NoHost},
    {F, "host:", AddressError::BadPort},
    {F, "host:x", AddressError::BadPort},
    {F, "host:0", AddressError::BadPort},
    {F, "host:+21", AddressError::BadPort},
    {F, "host:70000", AddressError::BadPort},
    {F, "[::1", AddressError::BadHost},
    {F, "[::1]x", AddressError::BadHost},
    {F, "[zz::1]", AddressError::BadHost},
    {F, "user@host", AddressError::BadHost},
    {F, "a b", AddressError::BadHost},
    {F, "host%2f", AddressError::BadHost},
    // "/HN=" and the command line: the directory is ketora0 unless one is given.
    {C, "host", kOk, "host", "ketora0"},
    {C, "host:2121", kOk, "host:2121", "ketora0"},
    {C, "ftp://host", kOk, "host", "ketora0"},
    {C, "ftp://host:2121", kOk, "host:2121", "ketora0"},
    {C, "host/fw", kOk, "host", "fw"},
    {C, "ftp://host:2121/a//b/", kOk, "host:2121", "a/b"},
    {C, "[::1]:2121/fw", kOk, "[::1]:2121", "fw"},
    {C, "host/", AddressError::NoDirectory, "host", ""},
    {C, "host/../x", AddressError::BadDirectory, "host", "../x"},
    {C, "ftp://ftp://host/ketora0", AddressError::BadPort},
    {C, "", AddressError::NoHost},
    // Targets: "ftp://" at the start.
    {T, "ftp://10.0.0.5/ketora0", kOk, "10.0.0.5", "ketora0"},
    {T, "ftp://[::1]:2121/ketora0", kOk, "[::1]:2121", "ketora0"},
    {T, "ftp://h", kOk, "h", "ketora0"},
    {T, "ftp://h/", AddressError::NoDirectory, "h", ""},
    {T, "ftp://h//", AddressError::NoDirectory, "h", ""},
    {T, "ftp://h/./", AddressError::BadDirectory, "h", "."},
    {T, "h/ketora0", AddressError::NoHost},
    {T, "queue-ftp://h/d", AddressError::NoHost},
    {T, "ftp:///ketora0", AddressError::NoHost},
};

TEST(FtpAddress, EveryFormGivesItsHostDirectoryOrReason) {
  for (const Case& c : kCases) {
    const ParsedAddress parsed = ParseAs(c.form, c.text);
    EXPECT_EQ(parsed.Error, c.error) << c.text;
    EXPECT_EQ(parsed.Address.Authority(), c.authority) << c.text;
    EXPECT_EQ(parsed.Address.Directory, c.directory) << c.text;
    if (!parsed.HostOk()) continue;
    // The target built from any form reads back as the same address.
    const ParsedAddress again = ftpaddress::ParseTarget(parsed.Address.Target());
    EXPECT_EQ(again.Address.Target(), parsed.Address.Target()) << c.text;
    EXPECT_TRUE(ftpaddress::SamePrinter(again.Address, parsed.Address)) << c.text;
  }
}

TEST(FtpAddress, TargetsAndPrinters) {
  EXPECT_EQ(ftpaddress::ParseCommandLine("10.0.0.5").Address.Target(), "ftp://10.0.0.5/ketora0");
  EXPECT_EQ(ftpaddress::ParseCommandLine("[::1]:21/fw").Address.Target(), "ftp://[::1]:21/fw");
  EXPECT_EQ(ftpaddress::NormalDirectory(" /a//b/ "), "a/b");
  EXPECT_EQ(ftpaddress::CheckDirectory("a/.."), AddressError::BadDirectory);
  EXPECT_EQ(ftpaddress::CheckDirectory("a\tb"), AddressError::BadDirectory);
  // One printer whatever the letter case and whether the default port is written.
  const auto a = ftpaddress::ParseCommandLine("Printer").Address;
  EXPECT_TRUE(ftpaddress::SamePrinter(a, ftpaddress::ParseCommandLine("printer:21/x").Address));
  EXPECT_FALSE(ftpaddress::SamePrinter(a, ftpaddress::ParseCommandLine("printer:2121").Address));
  EXPECT_FALSE(ftpaddress::SamePrinter(a, ftpaddress::ParseCommandLine("printer2").Address));
  EXPECT_FALSE(ftpaddress::SamePrinter({}, {}));
}

}  // namespace
