#pragma once

#include "firmware/dwndoc.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
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

// One run of a program: its wall time, its peak resident memory and whether it ended with 0.
struct Sample {
  double seconds = 0;
  double peakMiB = 0;
  bool ok = false;
};

// Runs argv with standard input and output from and to the files given (else /dev/null), its
// standard error thrown away when `quiet`, and measures it.
inline Sample RunMeasured(const std::vector<std::string>& argv, const std::string& input = {},
                          const std::string& output = {}, bool quiet = false) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);  // the child must not print what the parent has buffered
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const char* in = input.empty() ? "/dev/null" : input.c_str();
    const char* out = output.empty() ? "/dev/null" : output.c_str();
    if (!std::freopen(in, "rb", stdin) || !std::freopen(out, "wb", stdout) ||
        (quiet && !std::freopen("/dev/null", "wb", stderr))) {
      ::_exit(126);
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Sample s;
  s.seconds = Seconds(Clock::now() - start);
  s.peakMiB = usage.ru_maxrss / 1024.0;
  s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return s;
}

}  // namespace bench
