// Writes the seed inputs of the fuzz targets from the tests' own fixtures: SZDD files from our
// encoder, cabinets from hand-made bytes and from gcab, firmware headers.
//   make_seeds OUTPUT_DIR

#include "firmware/fixtures.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

void Seed(const std::filesystem::path& dir, const std::string& name, const std::string& bytes) {
  fixtures::Write(dir / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  const auto szdd = out / "szdd";
  const auto cabinet = out / "cabinet";
  const auto header = out / "header";

  const std::string data = fixtures::FirmwareBytes(3000, 7);
  const std::string head =
      "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Seed\r\nDownLoadVersion='1.0'\r\n"
      "EnableCommand=1\r\nReboot=0\r\nDownLoadPrinter=\"PX-1100\",PX-1200\r\n"
      "BeginMessage=a\\nb\r\nDoneMessage=c\r\n[Printers]\r\nPX-1100=px.ico,1\r\n";

  Seed(szdd, "empty", fixtures::EncodeSzdd(""));
  Seed(szdd, "small", fixtures::EncodeSzdd("hello hello hello"));
  Seed(szdd, "firmware", fixtures::EncodeSzdd(head + '\x1A' + data));
  Seed(szdd, "blanks", fixtures::EncodeSzdd(std::string(600, ' ') + "x"));
  Seed(szdd, "plain", "not compressed at all");

  Seed(header, "recognised", head + '\x1A' + data.substr(0, 300));
  Seed(header, "no-end", head);
  Seed(header, "data-files",
       "[FW_DownLoad]\r\nFileFormat=fwb\r\nDownLoadFile=a.bin,,DATA\\b.bin\r\n");
  Seed(header, "unrecognised", "[FW_DownLoad]\r\nFileFormat=XYZ\r\n\x1A" + data.substr(0, 100));
  Seed(header, "cp932",
       "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=\x83\x74\x83\x40\xB6\r\n\x1A");

  const std::string text = head + "DownLoadFile=DATA\\FW1.BIN,fw2.bin\r\n";
  Seed(cabinet, "stored",
       fixtures::StoredCabinet(
           {{"HEADER.FWB", text}, {"DATA\\FW1.BIN", data}, {"fw2.bin", "2"}, {"px.ico", "icon"}}));
  Seed(cabinet, "names",
       fixtures::StoredCabinet({{"..\\x", "x"},
                                {"\\abs", "y"},
                                {"C:\\z", "z"},
                                {"a\\b\\c\\d", "d"},
                                {"A\\B\\C\\D", "D"},
                                {"\x83\x66\x81\x5B\x83\x5E", "cp"},
                                {"ファ", "utf", 0xA0}}));
  char staging[] = "/tmp/fwload-seeds-XXXXXX";
  if (::mkdtemp(staging)) {
    for (const bool zip : {false, true}) {
      const auto cab = cabinet / (zip ? "gcab-mszip" : "gcab-stored");
      fixtures::GcabCabinet(cab, std::filesystem::path(staging) / (zip ? "z" : "s"),
                            {{"HEADER.FWB", text},
                             {"DATA/FW1.BIN", fixtures::FirmwareBytes(40000, 8)},
                             {"fw2.bin", "2"}},
                            zip);
    }
    std::error_code ec;
    std::filesystem::remove_all(staging, ec);
  }
  return 0;
}
