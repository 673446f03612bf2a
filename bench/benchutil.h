#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
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

}  // namespace bench
