#pragma once

// Firmware fixtures written by the tests themselves: SZDD files from our own encoder, cabinets
// from hand-made bytes or from gcab, and firmware data that holds the awkward bytes.

#include "support/run.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fixtures {

inline void PutLe16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

inline void PutLe32(std::string& out, std::uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

// The SZDD form of `data`: the signature, "A", the missing last character of the name, the
// length, then LZSS over a 4096-byte window of blanks that starts writing at 4096 - 16. Flag bytes
// are read least significant bit first: 1 is a literal, 0 a two-byte match (the window offset's
// low 8 bits, then its high 4 bits above length - 3).
inline std::string EncodeSzdd(std::string_view data, char missing = '_',
                              std::uint32_t announced = 0xFFFFFFFF) {
  constexpr std::size_t kWindow = 4096;
  constexpr std::size_t kMaxLength = 18;
  constexpr std::size_t kMinLength = 3;
  constexpr std::size_t kReach = kWindow - kMaxLength;
  constexpr std::size_t kStart = kWindow - 16;
  constexpr int kChain = 24;

  std::string out("SZDD\x88\xF0\x27\x33", 8);
  out += 'A';
  out += missing;
  PutLe32(out, announced == 0xFFFFFFFF ? static_cast<std::uint32_t>(data.size()) : announced);

  const std::size_t n = data.size();
  std::vector<std::int64_t> head(1 << 16, -1);
  std::vector<std::int64_t> prev(kWindow, -1);
  const auto hash = [&](std::size_t p) {
    return ((static_cast<unsigned char>(data[p]) << 8) ^
            (static_cast<unsigned char>(data[p + 1]) << 4) ^
            static_cast<unsigned char>(data[p + 2])) &
           0xFFFF;
  };
  const auto insert = [&](std::size_t p) {
    if (p + 2 >= n) return;
    const auto h = hash(p);
    prev[p % kWindow] = head[h];
    head[h] = static_cast<std::int64_t>(p);
  };

  std::size_t pos = 0;
  while (pos < n) {
    const std::size_t flagAt = out.size();
    out += '\0';
    unsigned char flags = 0;
    for (int bit = 0; bit < 8 && pos < n; ++bit) {
      std::size_t bestLength = 0;
      std::size_t bestFrom = 0;
      if (pos + kMinLength <= n) {
        const std::size_t limit = std::min(kMaxLength, n - pos);
        std::int64_t candidate = head[hash(pos)];
        for (int step = 0; step < kChain && candidate >= 0; ++step) {
          const auto c = static_cast<std::size_t>(candidate);
          if (pos - c > kReach) break;
          std::size_t length = 0;
          while (length < limit && data[c + length] == data[pos + length]) ++length;
          if (length > bestLength) {
            bestLength = length;
            bestFrom = c;
            if (length == limit) break;
          }
          candidate = prev[c % kWindow];
        }
      }
      if (bestLength >= kMinLength) {
        const std::size_t offset = (kStart + bestFrom) % kWindow;
        out += static_cast<char>(offset & 0xFF);
        out += static_cast<char>(((offset >> 4) & 0xF0) | (bestLength - kMinLength));
        for (std::size_t i = 0; i < bestLength; ++i) insert(pos + i);
        pos += bestLength;
      } else {
        flags |= static_cast<unsigned char>(1u << bit);
        out += data[pos];
        insert(pos);
        ++pos;
      }
    }
    out[flagAt] = static_cast<char>(flags);
  }
  return out;
}

struct CabEntry {
  std::string name;  // bytes as stored: code page 932, or UTF-8 with the flag
  std::string data;
  std::uint16_t attributes = 0x20;
};

// A cabinet of one uncompressed folder, written byte by byte, for names and damage that the
// cabinet tool would not produce. Blocks carry no checksum.
inline std::string StoredCabinet(const std::vector<CabEntry>& files) {
  std::string entries;
  std::string all;
  for (const auto& f : files) {
    PutLe32(entries, static_cast<std::uint32_t>(f.data.size()));
    PutLe32(entries, static_cast<std::uint32_t>(all.size()));
    PutLe16(entries, 0);       // folder
    PutLe16(entries, 0x5821);  // date
    PutLe16(entries, 0x6000);  // time
    PutLe16(entries, f.attributes);
    entries += f.name;
    entries += '\0';
    all += f.data;
  }
  std::string blocks;
  std::uint32_t blockCount = 0;
  for (std::size_t at = 0; at < all.size(); at += 32768) {
    const std::string_view piece = std::string_view(all).substr(at, 32768);
    PutLe32(blocks, 0);
    PutLe16(blocks, static_cast<std::uint32_t>(piece.size()));
    PutLe16(blocks, static_cast<std::uint32_t>(piece.size()));
    blocks += piece;
    ++blockCount;
  }
  constexpr std::uint32_t kHeader = 36;
  constexpr std::uint32_t kFolder = 8;
  const auto filesAt = kHeader + kFolder;
  const auto blocksAt = filesAt + static_cast<std::uint32_t>(entries.size());
  const auto total = blocksAt + static_cast<std::uint32_t>(blocks.size());

  std::string cab = "MSCF";
  PutLe32(cab, 0);
  PutLe32(cab, total);
  PutLe32(cab, 0);
  PutLe32(cab, filesAt);
  PutLe32(cab, 0);
  cab += '\x03';
  cab += '\x01';
  PutLe16(cab, 1);  // folders
  PutLe16(cab, static_cast<std::uint32_t>(files.size()));
  PutLe16(cab, 0);  // flags
  PutLe16(cab, 0x1234);
  PutLe16(cab, 0);
  PutLe32(cab, blocksAt);
  PutLe16(cab, blockCount);
  PutLe16(cab, 0);  // stored
  return cab + entries + blocks;
}

// Firmware-like bytes: mostly pseudo-random, with runs that compress, and every 0x00, 0x1A and 0xFF
// a header reader could stumble over.
inline std::string FirmwareBytes(std::size_t size, std::uint32_t seed = 1) {
  std::string out(size, '\0');
  std::uint32_t x = seed ? seed : 1;
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    if ((i / 256) % 4 == 1) {
      out[i] = static_cast<char>("FIRMWARE"[i % 8]);  // a compressible stretch
    } else {
      out[i] = static_cast<char>(x & 0xFF);
    }
  }
  for (std::size_t i = 0; i < size; i += 61) out[i] = '\x1A';
  for (std::size_t i = 7; i < size; i += 67) out[i] = '\0';
  for (std::size_t i = 13; i < size; i += 71) out[i] = '\xFF';
  return out;
}

inline void Write(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A cabinet made by gcab from files laid out under `staging` (names relative to it, "/" between
// folders), in the order given; MSZIP when `zip`.
inline bool GcabCabinet(const std::filesystem::path& cabinet, const std::filesystem::path& staging,
                        const std::vector<std::pair<std::string, std::string>>& files, bool zip) {
  std::vector<std::string> argv = {"gcab", "-c"};
  if (zip) argv.push_back("-z");
  argv.push_back(cabinet.string());
  for (const auto& [name, bytes] : files) {
    Write(staging / name, bytes);
    argv.push_back(name);
  }
  return testsupport::Run(argv, {.Dir = staging}) == 0;
}

}  // namespace fixtures
