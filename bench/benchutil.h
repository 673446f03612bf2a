#pragma once

#include "firmware/dwndoc.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

// Small helpers shared by the benchmark programs.
namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// Bytes that do not compress and hold every value.
inline void FillRandom(std::uint8_t* data, std::size_t size) {
  std::mt19937_64 random(20240601);
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t v = random();
    for (int b = 0; b < 8; ++b) data[i + b] = static_cast<std::uint8_t>(v >> (8 * b));
  }
  for (; i < size; ++i) data[i] = static_cast<std::uint8_t>(random());
}

// A data block of `size` bytes from FillRandom for `doc`.
inline void FillRandomData(TDownDocFile& doc, std::uint32_t size) {
  doc.FData = std::make_unique<std::uint8_t[]>(size);
  doc.FDataSize = size;
  FillRandom(doc.FData.get(), size);
}

// A fresh folder for the run's files in TMPDIR (else /tmp); empty when it cannot be made.
inline std::filesystem::path MakeWorkDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/fwload-bench-XXXXXX";
  if (!::mkdtemp(tmpl.data())) return {};
  return tmpl;
}

}  // namespace bench
