#pragma once

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern char** environ;

// Small helpers shared by the benchmark programs.
namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// Runs a program with its arguments (no shell) and waits; true when it exited 0.
inline bool Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
