// Uploading the 64 MiB download stream to the printer simulator's FTP server through the access
// library, against curl -T of the same file to the same server in the same run. Goal: at least
// 0.9 times curl's throughput.
//
//   bench_ftpsend [rounds] [simulator script]
//
// The script defaults to tools/simulator/simulator.py of the source tree named by
// FWLOAD_SOURCE_DIR, else of the tree the program was built in (build-*/bin/ two levels below).
#include "access/fwloadaccess.h"
#include "download/printthread.h"
#include "firmware/dwndoc.h"
#include "platform/paths.h"
#include "printers/accesslib.h"
#include "support/run.h"
#include "support/simulator.h"

#include "benchutil.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

struct Counter {
  int notifications = 0;
  static int Proc(void* context, int, std::uint64_t) {
    ++static_cast<Counter*>(context)->notifications;
    return 0;
  }
};

fs::path FindScript(int argc, char** argv) {
  if (argc > 2) return argv[2];
  if (const char* source = std::getenv("FWLOAD_SOURCE_DIR")) {
    return testsupport::Simulator::ScriptIn(source);
  }
  return testsupport::Simulator::ScriptIn(platform::ProgramDir().parent_path().parent_path());
}

}  // namespace

int main(int argc, char** argv) {
  constexpr std::uint32_t kSize = 64u << 20;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const fs::path script = FindScript(argc, argv);
  if (!fs::exists(script)) {
    std::fprintf(stderr, "bench_ftpsend: no simulator at %s\n", script.c_str());
    return 1;
  }
  if (!LoadAccessLibrary(platform::ProgramDir() / kAccessLibraryName)) {
    std::fprintf(stderr, "bench_ftpsend: the access library is not beside the program\n");
    return 1;
  }

  const fs::path dir = bench::MakeWorkDir();
  if (dir.empty()) return 1;

  // The stream the printer would receive, built as a transfer builds it.
  TDownDocFile doc;
  bench::FillRandomData(doc, kSize);
  const fs::path file = dir / "dwnbench";
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f) std::fclose(f);
  }
  const auto built = TPrintThread::MakeDownloadFile(file, &doc, 1, 1);
  doc.FData.reset();
  if (!built.Ok()) return 1;

  std::vector<double> curlTimes;
  std::vector<double> libraryTimes;
  int notifications = 0;
  bool ok = true;
  {
    testsupport::Simulator sim(script, dir / "printer");
    std::size_t received = 0;
    for (int r = 0; r < rounds && ok; ++r) {
      // curl first in even rounds, the library first in odd ones.
      for (int turn = 0; turn < 2 && ok; ++turn) {
        const bool curlTurn = (turn == 0) == (r % 2 == 0);
        const auto start = bench::Clock::now();
        if (curlTurn) {
          ok = testsupport::Run({"/usr/bin/curl", "-sS", "-T", file.string(),
                                 "ftp://" + sim.FtpHost() + "/ketora0/curl" + std::to_string(r)}) ==
               0;
          curlTimes.push_back(bench::Seconds(bench::Clock::now() - start));
        } else {
          Counter counter;
          ok = AccessLibrary().SendFileToFtpPrinter(&Counter::Proc, &counter, sim.FtpHost(),
                                                    "ketora0", file.string()) == 0;
          libraryTimes.push_back(bench::Seconds(bench::Clock::now() - start));
          notifications = counter.notifications;
        }
        // The simulator checks each file before the next arrives; not part of the timing.
        ++received;
        const auto records = sim.WaitForRecords(received, std::chrono::seconds(60));
        ok = ok && records.size() == received && records.back().Bytes == built.Size &&
             records.back().Errors.empty();
        fs::remove_all(sim.FtpDir());
        fs::create_directory(sim.FtpDir());
      }
    }
  }
  fs::remove_all(dir);
  if (!ok) {
    std::fprintf(stderr, "bench_ftpsend: an upload failed\n");
    return 1;
  }

  const double mib = static_cast<double>(built.Size) / (1 << 20);
  const double curl = bench::Median(curlTimes);
  const double library = bench::Median(libraryTimes);
  std::printf("stream: %.1f MiB, %d rounds, medians\n", mib, rounds);
  std::printf("curl -T:                %8.1f ms  %8.1f MiB/s\n", curl * 1000, mib / curl);
  std::printf("SendFileToFtpPrinter:   %8.1f ms  %8.1f MiB/s  (%d notifications)\n", library * 1000,
              mib / library, notifications);
  std::printf("throughput library / curl: %5.2f  (goal >= 0.90)\n", curl / library);
  return 0;
}
