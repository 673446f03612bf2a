// Building the download stream for 64 MiB of firmware data, against cp copying the same data
// file. Goal: at most 1.5 times the time of cp.
//
//   bench_stream [rounds]
#include "download/printthread.h"
#include "firmware/dwndoc.h"
#include "support/run.h"

#include "benchutil.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  constexpr std::uint32_t kSize = 64u << 20;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

  const fs::path dir = bench::MakeWorkDir();
  if (dir.empty()) return 1;

  TDownDocFile doc;
  bench::FillRandomData(doc, kSize);
  const fs::path data = dir / "data.FWB";
  {
    std::ofstream out(data, std::ios::binary);
    out.write(reinterpret_cast<const char*>(doc.FData.get()), kSize);
  }

  std::vector<double> cpTimes;
  std::vector<double> streamTimes;
  bool ok = true;
  for (int r = 0; r < rounds && ok; ++r) {
    const fs::path copy = dir / "copy.bin";
    auto start = bench::Clock::now();
    ok = testsupport::Run({"/bin/cp", data.string(), copy.string()}) == 0;
    cpTimes.push_back(bench::Seconds(bench::Clock::now() - start));
    fs::remove(copy);

    std::string name = (dir / "dwnXXXXXX").string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return 1;
    ::close(fd);
    start = bench::Clock::now();
    const DownloadFileResult result = TPrintThread::MakeDownloadFile(name, &doc, 1, 1);
    streamTimes.push_back(bench::Seconds(bench::Clock::now() - start));
    ok = ok && result.Size == static_cast<std::int64_t>(kSize) + 72;
    fs::remove(name);
  }
  fs::remove_all(dir);
  if (!ok) {
    std::fprintf(stderr, "bench_stream: a run failed\n");
    return 1;
  }

  const double cp = bench::Median(cpTimes);
  const double stream = bench::Median(streamTimes);
  std::printf("data: 64 MiB, %d rounds, medians\n", rounds);
  std::printf("cp data file:          %8.1f ms\n", cp * 1000);
  std::printf("MakeDownloadFile:      %8.1f ms\n", stream * 1000);
  std::printf("ratio stream / cp:     %8.2f  (goal <= 1.50)\n", stream / cp);
  return 0;
}
