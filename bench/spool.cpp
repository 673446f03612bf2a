// The spooler transfer of the 64 MiB download stream through a private print server to the
// printer simulator's raw port, against lp -o raw of the same file on the same queue in the same
// run. Goal: at least 0.8 times lp's throughput.
//
//   bench_spool [rounds] [source tree]
//
// Each run is timed until the server reports the job completed (the printer has taken every
// byte), looked at every 20 ms on both sides, and the simulator's copy is checked. Timed:
//   - transfer: SpoolFile (RAW job in 512-byte blocks) and WaitForJob of the built file, the
//     same input lp gets;
//   - thread:   the whole Execute of the transfer thread, building the file included;
//   - lp:       lp -o raw of the built file, then the same look at the job.
// The source tree defaults to FWLOAD_SOURCE_DIR, else the tree the program was built in
// (build-*/bin/ two levels below).
#include "download/printthread.h"
#include "firmware/dwndoc.h"
#include "platform/paths.h"
#include "platform/spooler.h"
#include "printers/myapp.h"
#include "support/run.h"
#include "support/simulator.h"

#include "benchutil.h"
#include "printserver.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kPoll = 20ms;

// Waits until the server reports the job ended; true when it completed.
bool WaitForCompletion(const std::string& queue, int job) {
  auto printer = platform::Spooler().OpenPrinter(queue);
  if (!printer) return false;
  const auto end = bench::Clock::now() + 120s;
  while (bench::Clock::now() < end) {
    platform::SpoolJobData data;
    if (printer->GetJob(job, data) == platform::SpoolStatus::Ok && data.State >= 7) {
      return data.State == 9;
    }
    std::this_thread::sleep_for(kPoll);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr std::uint32_t kSize = 64u << 20;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const fs::path source = bench::SourceDir(argc > 2 ? fs::path(argv[2]) : fs::path());
  const fs::path sandbox = source / "tools" / "cups-sandbox.sh";
  const fs::path script = testsupport::Simulator::ScriptIn(source);
  if (!fs::exists(sandbox) || !fs::exists(script)) {
    std::fprintf(stderr, "bench_spool: no tools in %s\n", source.c_str());
    return 1;
  }

  const fs::path dir = bench::MakeWorkDir();
  if (dir.empty()) return 1;
  const fs::path cups = dir / "cups";
  if (!bench::StartPrintServer(sandbox, dir, "bench_spool")) return 1;

  bool ok = true;
  std::vector<double> transferTimes;
  std::vector<double> threadTimes;
  std::vector<double> lpTimes;
  {
    testsupport::Simulator sim(script, dir / "printer", {"--no-ftp"});
    const std::string queue = "bench";
    const std::string uri = "socket://127.0.0.1:" + std::to_string(sim.RawPort()) + "/?snmp=false";
    ok = testsupport::Run({sandbox.string(), "add-queue", cups.string(), queue, uri}) == 0;

    TFWLOADApp app({}, dir / "FWLOAD.INI");
    app.EnableCommand = 0;
    app.SelectPrinter(queue);
    app.Doc = std::make_unique<TDownDocFile>();
    bench::FillRandomData(*app.Doc, kSize);
    const fs::path file = dir / "dwnbench";
    {
      std::FILE* f = std::fopen(file.c_str(), "wb");
      if (f) std::fclose(f);
    }
    const auto built = TPrintThread::MakeDownloadFile(file, app.Doc.get(), 0, 0);
    ok = ok && built.Ok();

    TransferTimings timings;
    timings.JobPoll = kPoll;
    TransferJob transferJob;
    transferJob.Target = queue;
    transferJob.Doc = app.Doc.get();
    transferJob.InitMemory = app.InitMemory;
    std::size_t received = 0;
    // Each download must reach the printer whole; its copy is then dropped.
    const auto check = [&]() {
      ++received;
      const auto records = sim.WaitForRecords(received, 60s);
      const bool whole = records.size() == received && records.back().Complete &&
                         records.back().Bytes == built.Size;
      if (records.size() == received) fs::remove(sim.Dir() / records.back().File);
      return whole;
    };
    for (int r = 0; r < rounds && ok; ++r) {
      for (int turn = 0; turn < 3 && ok; ++turn) {
        // The order turns from round to round.
        const int which = (turn + r) % 3;
        const auto start = bench::Clock::now();
        if (which == 0) {
          TPrintThread transfer(transferJob, nullptr, timings);
          auto printer = platform::Spooler().OpenPrinter(queue);
          int job = 0;
          ok = printer &&
               transfer.SpoolFile(*printer, file, static_cast<std::uint64_t>(built.Size), job) ==
                   0 &&
               transfer.WaitForJob(*printer, job, static_cast<std::uint64_t>(built.Size)) == 0;
          transferTimes.push_back(bench::Seconds(bench::Clock::now() - start));
        } else if (which == 1) {
          TPrintThread thread(transferJob, nullptr, timings);
          thread.start();
          thread.wait();
          ok = thread.Result() == 0;
          threadTimes.push_back(bench::Seconds(bench::Clock::now() - start));
        } else {
          std::string out;
          ok = testsupport::Run({"/usr/bin/lp", "-d", queue, "-o", "raw", file.string()},
                                {.Captured = &out}) == 0;
          const auto dash = out.find(queue + "-");
          const int job =
              dash == std::string::npos ? 0 : std::atoi(out.c_str() + dash + queue.size() + 1);
          ok = ok && job > 0 && WaitForCompletion(queue, job);
          lpTimes.push_back(bench::Seconds(bench::Clock::now() - start));
        }
        ok = check() && ok;
      }
    }
  }
  testsupport::Run({sandbox.string(), "stop", cups.string()});
  fs::remove_all(dir);
  if (!ok) {
    std::fprintf(stderr, "bench_spool: a transfer failed\n");
    return 1;
  }

  const double mib = static_cast<double>(kSize) / (1 << 20);
  const double lp = bench::Median(lpTimes);
  const double transfer = bench::Median(transferTimes);
  const double thread = bench::Median(threadTimes);
  std::printf("stream: %.1f MiB, %d rounds, medians, until the server reports the job completed\n",
              mib, rounds);
  std::printf("lp -o raw:                 %8.1f ms  %8.1f MiB/s\n", lp * 1000, mib / lp);
  std::printf("SpoolFile + WaitForJob:    %8.1f ms  %8.1f MiB/s\n", transfer * 1000,
              mib / transfer);
  std::printf("thread (building included): %7.1f ms  %8.1f MiB/s\n", thread * 1000, mib / thread);
  std::printf("throughput transfer / lp: %5.2f  (goal >= 0.80)\n", lp / transfer);
  std::printf("throughput thread / lp:   %5.2f\n", lp / thread);
  return 0;
}
