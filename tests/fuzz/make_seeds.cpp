// Writes the seed inputs of the fuzz targets: SZDD files from our encoder; cabinets built by gcab
// (stored and MSZIP, many files, deep and long names, UTF-8 and code page 932 names), cabinets of
// several folders put together from gcab's, LZX folders of stored blocks, and firmware headers
// that use every key the firmware file reads.
//   make_seeds OUTPUT_DIR

#include "firmware/fixtures.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using fixtures::FirmwareBytes;
using fixtures::PutLe16;
using fixtures::PutLe32;
using Files = std::vector<std::pair<std::string, std::string>>;

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kQuantum = 2;
constexpr std::uint16_t kLzx = 3;
constexpr std::uint16_t kUtf8Name = 0x80;

void Seed(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fixtures::Write(dir / name, bytes);
}

// A cabinet taken apart into what can be recombined: folders with their data blocks as stored,
// and file entries that point into the folders.
struct CabFolder {
  std::uint16_t type = kStored;
  std::vector<std::string> blocks;  // each with its 8-byte header and data
};
struct CabFile {
  std::string fixed;  // the 16 bytes before the name
  std::string name;
};
struct Cab {
  std::vector<CabFolder> folders;
  std::vector<CabFile> files;
};

std::uint32_t Le(const std::string& b, std::size_t at, int bytes) {
  if (at + static_cast<std::size_t>(bytes) > b.size()) throw std::runtime_error("short cabinet");
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

Cab Parse(const std::string& b) {
  if (b.compare(0, 4, "MSCF") != 0 || Le(b, 30, 2) != 0) throw std::runtime_error("not plain");
  Cab cab;
  const std::uint32_t folders = Le(b, 26, 2);
  const std::uint32_t files = Le(b, 28, 2);
  for (std::uint32_t f = 0; f < folders; ++f) {
    CabFolder folder;
    std::size_t at = Le(b, 36 + 8 * f, 4);
    const std::uint32_t blocks = Le(b, 36 + 8 * f + 4, 2);
    folder.type = static_cast<std::uint16_t>(Le(b, 36 + 8 * f + 6, 2));
    for (std::uint32_t i = 0; i < blocks; ++i) {
      const std::size_t size = 8 + Le(b, at + 4, 2);
      folder.blocks.push_back(b.substr(at, size));
      at += size;
    }
    cab.folders.push_back(std::move(folder));
  }
  std::size_t at = Le(b, 16, 4);
  for (std::uint32_t i = 0; i < files; ++i) {
    const std::size_t end = b.find('\0', at + 16);
    if (end == std::string::npos) throw std::runtime_error("unterminated name");
    cab.files.push_back({b.substr(at, 16), b.substr(at + 16, end - at - 16)});
    at = end + 1;
  }
  return cab;
}

std::string Serialise(const Cab& cab) {
  std::string entries;
  for (const auto& f : cab.files) entries += f.fixed + f.name + '\0';
  const std::uint32_t filesAt = 36 + 8 * static_cast<std::uint32_t>(cab.folders.size());
  std::uint32_t dataAt = filesAt + static_cast<std::uint32_t>(entries.size());
  std::string folders;
  std::string data;
  for (const auto& folder : cab.folders) {
    PutLe32(folders, dataAt + static_cast<std::uint32_t>(data.size()));
    PutLe16(folders, static_cast<std::uint32_t>(folder.blocks.size()));
    PutLe16(folders, folder.type);
    for (const auto& block : folder.blocks) data += block;
  }
  std::string out = "MSCF";
  PutLe32(out, 0);
  PutLe32(out, dataAt + static_cast<std::uint32_t>(data.size()));
  PutLe32(out, 0);
  PutLe32(out, filesAt);
  PutLe32(out, 0);
  out += '\x03';
  out += '\x01';
  PutLe16(out, static_cast<std::uint32_t>(cab.folders.size()));
  PutLe16(out, static_cast<std::uint32_t>(cab.files.size()));
  PutLe16(out, 0);  // no reserve, no chain
  PutLe16(out, 0x0F0B);
  PutLe16(out, 0);
  return out + folders + entries + data;
}

// The folders of several cabinets, one after the other, in one cabinet.
Cab Merge(const std::vector<Cab>& parts) {
  Cab out;
  for (const auto& part : parts) {
    const auto base = static_cast<std::uint32_t>(out.folders.size());
    for (auto file : part.files) {
      const std::uint32_t folder = Le(file.fixed, 8, 2) + base;
      file.fixed[8] = static_cast<char>(folder & 0xFF);
      file.fixed[9] = static_cast<char>(folder >> 8);
      out.files.push_back(std::move(file));
    }
    out.folders.insert(out.folders.end(), part.folders.begin(), part.folders.end());
  }
  return out;
}

std::string FileEntry(std::uint32_t size, std::uint32_t offset, std::uint16_t folder,
                      std::uint16_t attributes) {
  std::string fixed;
  PutLe32(fixed, size);
  PutLe32(fixed, offset);
  PutLe16(fixed, folder);
  PutLe16(fixed, 0x5821);
  PutLe16(fixed, 0x6000);
  PutLe16(fixed, attributes);
  return fixed;
}

// An LZX folder (window 2^windowBits) of one stored block holding the members one after the
// other: after the stream's first bit (no E8 translation), the block type 3 and its 24-bit length,
// padding to 16 bits, the three repeat offsets and the bytes. Bits go most significant first into
// 16-bit little-endian words. Each data block yields 32768 bytes but the last; no checksums.
Cab LzxCabinet(const Files& files, int windowBits) {
  Cab cab;
  std::string all;
  for (const auto& [name, bytes] : files) {
    cab.files.push_back({FileEntry(static_cast<std::uint32_t>(bytes.size()),
                                   static_cast<std::uint32_t>(all.size()), 0, 0x20),
                         name});
    all += bytes;
  }
  const auto length = static_cast<std::uint32_t>(all.size());
  // A 0 bit (no E8 translation), the type, the length; 4 bits of padding.
  const std::uint32_t bits = (3u << 28) | (length << 4);
  std::string stream;
  PutLe16(stream, bits >> 16);
  PutLe16(stream, bits & 0xFFFF);
  for (int i = 0; i < 3; ++i) PutLe32(stream, 1);
  stream += all;
  if (length & 1) stream += '\0';

  CabFolder folder;
  folder.type = static_cast<std::uint16_t>(kLzx | (windowBits << 8));
  std::size_t in = 0;
  for (std::size_t out = 0; out < all.size() || folder.blocks.empty(); out += 32768) {
    const std::size_t produced = std::min<std::size_t>(32768, all.size() - out);
    const bool last = out + produced >= all.size();
    const std::size_t take = last ? stream.size() - in : produced + (out == 0 ? 16 : 0);
    std::string block;
    PutLe32(block, 0);
    PutLe16(block, static_cast<std::uint32_t>(take));
    PutLe16(block, static_cast<std::uint32_t>(produced));
    block += stream.substr(in, take);
    in += take;
    folder.blocks.push_back(std::move(block));
    if (last) break;
  }
  cab.folders.push_back(std::move(folder));
  return cab;
}

// Runs gcab over files laid out in a folder of their own; the cabinet's bytes.
std::string Gcab(const fs::path& staging, const Files& files, bool zip) {
  std::error_code ec;
  fs::remove_all(staging, ec);
  const fs::path cab = staging.string() + ".cab";
  if (!fixtures::GcabCabinet(cab, staging, files, zip)) {
    throw std::runtime_error("gcab failed on " + staging.string());
  }
  std::ifstream in(cab, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Repeat(std::string_view piece, std::size_t bytes) {
  std::string out;
  while (out.size() < bytes) out += piece;
  out.resize(bytes);
  return out;
}

void CabinetSeeds(const fs::path& out, const fs::path& staging, const std::string& header) {
  const std::string text = header + "DownLoadFile=DATA\\FW1.BIN,fw2.bin\r\n";
  const Files firmware = {{"HEADER.FWB", text},
                          {"DATA/FW1.BIN", FirmwareBytes(6000, 8)},
                          {"fw2.bin", "2"},
                          {"px.ico", "icon"}};

  // Many members in several folders, some empty. Every member costs the walk real file work (a
  // fraction of a millisecond under the sanitizers), so "many" stays at a size that keeps the
  // runs going.
  Files many;
  for (int d = 0; d < 5; ++d) {
    for (int f = 0; f < 6; ++f) {
      many.emplace_back("dir" + std::to_string(d) + "/f" + std::to_string(f) + ".bin",
                        std::string(static_cast<std::size_t>((d * 6 + f) % 7), 'a' + f));
    }
  }

  std::string deep;
  for (int i = 0; i < 8; ++i) deep += "level" + std::to_string(i) + "/";
  const std::string kana = "ファームウェア";  // 21 bytes in UTF-8
  std::string longKana;
  while (longKana.size() + kana.size() <= 240) longKana += kana;
  const Files names = {
      {deep + "deep.bin", "deep"},
      {std::string(255, 'n'), "at the limit of a name"},
      {"dir/" + std::string(200, 'm') + "/" + std::string(50, 'q'), "long path"},
      {longKana + ".bin", "long UTF-8 name"},
      {"データ/ﾌｧｰﾑ.BIN", "kana folder, half-width name"},
      {"Header.Fwb", text},
      {"HEADER.FWB", header + "DownLoadFile=ＦＷ.bin\r\n"},  // later and equal but for case
      {"ＦＷ.bin", "full-width"},
      {"empty", ""},
  };
  // The same names in code page 932 bytes, which gcab stores as given.
  const Files cp932 = {
      {"\x83\x74\x83\x40\x81\x5B\x83\x80.BIN", "katakana"},                 // ファーム
      {"\x83\x66\x81\x5B\x83\x5E/\xB8\xDE\xDB\xB0\xCD\xDE\xDD", "folder"},  // データ/ｸﾞﾛｰﾍﾞﾝ
      {"\x95\x5C.bin", "0x5C as second byte"},                              // 表
      {"HEADER.FWB", header + "DownLoadFile=\x95\x5C.bin\r\n"},
  };

  for (const bool zip : {false, true}) {
    const std::string kind = zip ? "mszip" : "stored";
    Seed(out, "gcab-firmware-" + kind, Gcab(staging / ("fw-" + kind), firmware, zip));
    Seed(out, "gcab-many-files-" + kind, Gcab(staging / ("many-" + kind), many, zip));
    Seed(out, "gcab-names-" + kind, Gcab(staging / ("names-" + kind), names, zip));
    // gcab marks every name that is not ASCII as UTF-8, so the flag is cleared to leave the code
    // page 932 names as the walk meets them in older packages.
    Cab cab = Parse(Gcab(staging / ("cp932-" + kind), cp932, zip));
    for (auto& file : cab.files) file.fixed[14] = static_cast<char>(file.fixed[14] & ~kUtf8Name);
    Seed(out, "gcab-cp932-names-" + kind, Serialise(cab));
  }
  // A name over the format's 256 bytes: gcab writes it, the walk must refuse the cabinet.
  Seed(
      out, "gcab-name-too-long",
      Gcab(staging / "too-long",
           {{"a", "a"}, {"d/" + std::string(150, 'x') + "/" + std::string(150, 'y'), "x"}}, false));
  // Several data blocks: 100 KiB that compress well, and a little that does not.
  Seed(out, "gcab-blocks-mszip",
       Gcab(staging / "blocks",
            {{"HEADER.FWB", header + "DownLoadFile=big.bin\r\n"},
             {"big.bin", Repeat("FIRMWARE block ", 100 * 1024)},
             {"random.bin", FirmwareBytes(3000, 9)}},
            true));

  // Several folders of every kind: gcab writes one folder per cabinet, so its cabinets are put
  // together, with LZX folders of stored blocks beside them.
  const Cab stored = Parse(Gcab(staging / "part-stored", {{"HEADER.FWB", text}}, false));
  const Cab zipped = Parse(Gcab(staging / "part-mszip",
                                {{"DATA/FW1.BIN", Repeat("zip ", 5000)}, {"px.ico", "i"}}, true));
  const Cab lzx = LzxCabinet({{"fw2.bin", FirmwareBytes(3001, 10)}, {"lzx.ico", "l"}}, 16);
  Seed(out, "folders-mixed", Serialise(Merge({stored, zipped, lzx})));
  std::vector<Cab> parts;
  for (int i = 0; i < 12; ++i) {
    const Files files = {{"f" + std::to_string(i) + "/a", Repeat("abc", 100 + i)},
                         {"f" + std::to_string(i) + "/b", std::to_string(i)}};
    if (i % 3 == 2) {
      parts.push_back(LzxCabinet(files, 15 + i % 7));
    } else {
      parts.push_back(Parse(Gcab(staging / ("part" + std::to_string(i)), files, i % 3 == 1)));
    }
  }
  Seed(out, "folders-many", Serialise(Merge(parts)));

  Seed(out, "lzx-firmware",
       Serialise(LzxCabinet(
           {{"HEADER.FWB", text}, {"DATA\\FW1.BIN", FirmwareBytes(5000, 11)}, {"fw2.bin", "2"}},
           21)));
  // Two data blocks, the second short and odd.
  Seed(out, "lzx-two-blocks", Serialise(LzxCabinet({{"a.bin", FirmwareBytes(40001, 12)}}, 17)));
  // A Quantum folder: no tool here writes one, so its blocks are MSZIP bytes the decoder must
  // refuse or turn into a member of the wrong size, never into a file that stays.
  Cab quantum = zipped;
  quantum.folders[0].type = static_cast<std::uint16_t>(kQuantum | (4 << 4) | (16 << 8));
  Seed(out, "quantum-damaged", Serialise(Merge({stored, quantum})));

  // Hand-made: names gcab would not write, and a block that spans two members.
  Seed(out, "stored",
       fixtures::StoredCabinet({{"HEADER.FWB", text},
                                {"DATA\\FW1.BIN", FirmwareBytes(3000, 7)},
                                {"fw2.bin", "2"},
                                {"px.ico", "icon"}}));
  Seed(out, "names",
       fixtures::StoredCabinet({{"..\\x", "x"},
                                {"\\abs", "y"},
                                {"C:\\z", "z"},
                                {"a\\..\\..\\b", "b"},
                                {".\\.\\dot", "dot"},
                                {"a\\b\\c\\d", "d"},
                                {"A\\B\\C\\D", "D"},
                                {"a\\b", "file where a folder is"},
                                {"\x83\x66\x81\x5B\x83\x5E", "cp"},
                                {"\x81", "cut character"},
                                {"ファ", "utf", 0xA0},
                                {"\xE3\x83", "cut UTF-8", 0xA0}}));
}

void HeaderSeeds(const fs::path& out, const std::string& header) {
  const std::string data = FirmwareBytes(3000, 7);
  Seed(out, "recognised", header + '\x1A' + data.substr(0, 300));
  Seed(out, "no-end", header);
  Seed(out, "unrecognised", "[FW_DownLoad]\r\nFileFormat=XYZ\r\n\x1A" + data.substr(0, 100));
  Seed(out, "format-cut", "[fw_download]\nfileformat = fwbx\n\x1A\x1A\x1A" + data.substr(0, 50));
  Seed(out, "format-short", "[FW_DownLoad]\nFileFormat=\"FW\"\n\x1A" + data.substr(0, 50));
  Seed(
      out, "quotes-and-numbers",
      "[ FW_DownLoad ]\r\nFileFormat='FWB'\r\nEnableCommand=  0012abc\r\nReboot=-1\r\n"
      "DownLoadVersion=\"'V1.00'\"\r\nDownLoadDesc=\"\r\nDownLoadPrinter=,\"\",\",PX-1\"\"PX-2,\r\n"
      "\x1A" +
          data.substr(0, 64));
  // Values over the kept lengths, in two-byte code page 932 characters, cut at an odd byte.
  std::string kanji;
  for (int i = 0; i < 600; ++i) kanji += "\x8A\xBF";  // 漢
  Seed(out, "long-values",
       "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=x" + kanji.substr(0, 300) +
           "\r\nDownLoadVersion=" + kanji.substr(0, 260) + "\r\nDownLoadPrinter=" +
           kanji.substr(0, 120) + ",\"" + kanji.substr(0, 140) + "\"\r\nBeginMessage=" + kanji +
           "\\n" + kanji + "\r\nDoneMessage=\\n\\\\n\\" + kanji + "\r\n\x1A" + data.substr(0, 10));
  Seed(out, "cp932",
       "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=\x83\x74\x83\x40\xB6\r\n"
       "DownLoadVersion=\x81\r\nBeginMessage=\x83\x5C\\n\x95\x5C\r\n\x1A");
  Seed(out, "printers",
       "[Printers]\r\nPX-1=a.ico,1\r\n[FW_DownLoad]\r\nFileFormat=FWB\r\n[printers]\r\n"
       "PX-1100=px.ico,1\r\npx-1100=other\r\nPX-1200=\r\n=novalue\r\n;PX-9=x\r\n#PX-8=y\r\n"
       "\x83\x76\x83\x8A=\x83\x5E\r\nline without equals\r\n[FW_DownLoad]\r\nFileFormat=no\r\n"
       "\x1A" +
           data.substr(0, 40));
  Seed(out, "line-ends",
       "\xEF\xBB\xBF[FW_DownLoad]\rFileFormat=FWB\rDownLoadDesc=cr only\n\r\nReboot=0\r\r\x1A");
  // Data files: the harness lays out a.bin, b.bin and c.bin two folders above the private
  // temporary folder, where the unpacked file lies.
  Seed(out, "data-files",
       "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=..\\..\\files\\A.BIN,,../../files/b.bin"
       ", ..\\..\\FILES\\c.bin\r\n");
  Seed(out, "data-files-missing",
       "[FW_DownLoad]\r\nFileFormat=fwb\r\nDownLoadFile=a.bin,,DATA\\b.bin\r\n");
  std::string forty;
  for (int i = 0; i < 40; ++i)
    forty += std::string(i ? "," : "") + "../../files/" + "abc"[i % 3] + ".bin";
  Seed(out, "data-files-forty",
       "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=" + forty + "\r\n");
  Seed(out, "data-files-odd",
       "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadFile=/dev/null,/,..,.,\\\\,"
       "../../files,../../files/a.bin/x,../../files/A.BIN\r\n\x1A" +
           data.substr(0, 20));
  // Compressed: the header goes through the expansion first.
  Seed(out, "compressed", fixtures::EncodeSzdd(header + '\x1A' + data));
  Seed(out, "compressed-data-files",
       fixtures::EncodeSzdd("[FW_DownLoad]\nFileFormat=FWB\nDownLoadFile=../../files/c.bin\n"));
}

void SzddSeeds(const fs::path& out, const std::string& header) {
  const std::string data = FirmwareBytes(3000, 7);
  Seed(out, "empty", fixtures::EncodeSzdd(""));
  Seed(out, "small", fixtures::EncodeSzdd("hello hello hello"));
  Seed(out, "firmware", fixtures::EncodeSzdd(header + '\x1A' + data));
  Seed(out, "blanks", fixtures::EncodeSzdd(std::string(600, ' ') + "x"));
  Seed(out, "plain", "not compressed at all");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  const std::string header =
      "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Seed\r\nDownLoadVersion='1.0'\r\n"
      "EnableCommand=1\r\nReboot=0\r\nDownLoadPrinter=\"PX-1100\",PX-1200\r\n"
      "BeginMessage=a\\nb\r\nDoneMessage=c\r\n[Printers]\r\nPX-1100=px.ico,1\r\n";

  SzddSeeds(out / "szdd", header);
  HeaderSeeds(out / "header", header);

  char staging[] = "/tmp/fwload-seeds-XXXXXX";
  if (!::mkdtemp(staging)) {
    std::perror("mkdtemp");
    return 1;
  }
  int status = 0;
  try {
    CabinetSeeds(out / "cabinet", staging, header);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_seeds: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(staging, ec);
  return status;
}
