// Whole jobs through fwload-cli against the commands a script would use on the same queues of a
// private print server, each run until the server reports every job completed (the reference's
// job wait polls every 50 ms). Medians of the rounds; the order of the two sides turns.
//
//   bench_cli [--rounds N] [--source DIR]
//
//   one:      a 64 MiB cabinet (MSZIP, made by gcab) through `fwload-cli send FILE QUEUE`, against
//             cabextract + cat + lp -o raw + waiting for the job. Goal <= 1.3x.
//   parallel: a 16 MiB file to 20 queues with --parallel 4, against a shell loop of lp -o raw to
//             the same queues, then waiting for all jobs. Goal <= 1.2x.
//   memory:   the peak resident memory of fwload-cli in the 64 MiB send. Goal <= 1.2 x data +
//             32 MiB.
#include "firmware/fixtures.h"
#include "platform/paths.h"
#include "platform/spooler.h"
#include "support/run.h"
#include "support/simulator.h"

#include "benchutil.h"
#include "printserver.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kQueues = 20;
constexpr int kPrinters = 4;  // simulated printers; the queues share them
constexpr std::size_t kOneMiB = 64;
constexpr std::size_t kEachMiB = 16;

// The job ids lp printed ("request id is Q-12 (1 file(s))"), in order.
std::vector<std::pair<std::string, int>> JobsOf(const std::string& lpOutput) {
  std::vector<std::pair<std::string, int>> jobs;
  const std::string mark = "request id is ";
  for (std::size_t at = lpOutput.find(mark); at != std::string::npos;
       at = lpOutput.find(mark, at + 1)) {
    const std::size_t begin = at + mark.size();
    const std::size_t end = lpOutput.find(' ', begin);
    const std::string id = lpOutput.substr(begin, end - begin);
    const std::size_t dash = id.rfind('-');
    if (dash != std::string::npos)
      jobs.emplace_back(id.substr(0, dash), std::stoi(id.substr(dash + 1)));
  }
  return jobs;
}

// The reference's wait: every 50 ms until the server reports each job ended; true when all
// completed.
bool WaitForJobs(const std::vector<std::pair<std::string, int>>& jobs) {
  const auto end = bench::Clock::now() + 300s;
  for (const auto& [queue, id] : jobs) {
    auto printer = platform::Spooler().OpenPrinter(queue);
    if (!printer) return false;
    for (;;) {
      platform::SpoolJobData data;
      if (printer->GetJob(id, data) == platform::SpoolStatus::Ok && data.State >= 7) {
        if (data.State != 9) return false;
        break;
      }
      if (bench::Clock::now() > end) return false;
      std::this_thread::sleep_for(50ms);
    }
  }
  return true;
}

// Every printer has received `count` more whole downloads of `bytes` since `seen`; their copies
// are dropped, so that the rounds do not fill the disk.
bool Received(std::vector<std::unique_ptr<testsupport::Simulator>>& sims,
              std::vector<std::size_t>& seen, const std::vector<std::size_t>& count,
              std::int64_t bytes) {
  bool ok = true;
  for (std::size_t i = 0; i < sims.size(); ++i) {
    const std::size_t want = seen[i] + count[i];
    const auto records = sims[i]->WaitForRecords(want, 120s);
    ok = ok && records.size() == want;
    for (std::size_t r = seen[i]; r < records.size(); ++r) {
      ok = ok && records[r].Complete && records[r].Bytes == bytes;
      fs::remove(sims[i]->Dir() / records[r].File);
    }
    seen[i] = records.size();
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  fs::path source;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--source" && i + 1 < argc) {
      source = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--rounds N] [--source DIR]\n", argv[0]);
      return 2;
    }
  }
  source = bench::SourceDir(source);
  const fs::path cli = platform::ProgramDir() / "fwload-cli";
  const fs::path sandbox = source / "tools" / "cups-sandbox.sh";
  const fs::path script = testsupport::Simulator::ScriptIn(source);
  if (!fs::exists(cli) || !fs::exists(sandbox) || !fs::exists(script)) {
    std::fprintf(stderr, "bench_cli: fwload-cli or the tools in %s are missing\n", source.c_str());
    return 1;
  }
  const fs::path dir = bench::MakeWorkDir();
  if (dir.empty()) return 1;
  const fs::path cups = dir / "cups";
  if (!bench::StartPrintServer(sandbox, dir, "bench_cli")) return 1;

  std::printf("Preparing the files in %s ...\n", dir.c_str());
  const std::string header =
      "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Benchmark\r\nDownLoadVersion=1.0\r\n";
  const std::string big = fixtures::FirmwareBytes(kOneMiB << 20, 7);
  bool ok = fixtures::GcabCabinet(
      dir / "one.FWV", dir / "staging",
      {{"HEADER.FWB", header + "DownLoadFile=DATA\\FW.BIN\r\n"}, {"DATA/FW.BIN", big}}, true);
  fs::remove_all(dir / "staging");
  const std::string each = fixtures::FirmwareBytes(kEachMiB << 20, 8);
  fixtures::Write(dir / "each.FWB", header + '\x1A' + each);
  fixtures::Write(dir / "each.bin", each);

  std::vector<bench::Sample> cliOne, refOne, cliMany, refMany;
  {
    std::vector<std::unique_ptr<testsupport::Simulator>> sims;
    for (int p = 0; p < kPrinters; ++p) {
      sims.push_back(std::make_unique<testsupport::Simulator>(
          script, dir / ("printer" + std::to_string(p)), std::vector<std::string>{"--no-ftp"}));
    }
    std::vector<std::string> queues;
    for (int q = 0; q < kQueues && ok; ++q) {
      queues.push_back("q" + std::to_string(q));
      const int port = sims[static_cast<std::size_t>(q % kPrinters)]->RawPort();
      ok = testsupport::Run({sandbox.string(), "add-queue", cups.string(), queues.back(),
                             "socket://127.0.0.1:" + std::to_string(port) + "/?snmp=false"}) == 0;
    }
    std::vector<std::size_t> seen(sims.size(), 0);
    std::vector<std::size_t> onlyFirst(sims.size(), 0);
    onlyFirst[0] = 1;
    std::vector<std::size_t> everyQueue(sims.size(), kQueues / kPrinters);

    std::vector<std::string> sendOne = {cli.string(), "send",  (dir / "one.FWV").string(),
                                        queues[0],    "--yes", "--no-command",
                                        "--json"};
    std::vector<std::string> sendMany = {cli.string(), "send", (dir / "each.FWB").string()};
    sendMany.insert(sendMany.end(), queues.begin(), queues.end());
    for (const char* o : {"--yes", "--no-command", "--parallel", "4", "--json"}) {
      sendMany.push_back(o);
    }
    std::string loop = "for q in";
    for (const auto& q : queues) loop += " " + q;
    loop += "; do lp -d \"$q\" -o raw '" + (dir / "each.bin").string() + "' || exit 1; done";

    const auto reference = [&](bool one) {
      const auto start = bench::Clock::now();
      std::string out;
      bool done = true;
      if (one) {
        done = testsupport::Run({"cabextract", "-q", "-d", (dir / "x").string(),
                                 (dir / "one.FWV").string()}) == 0 &&
               testsupport::Run({"cat", (dir / "x" / "DATA" / "FW.BIN").string()},
                                {.Output = dir / "stream"}) == 0 &&
               testsupport::Run({"lp", "-d", queues[0], "-o", "raw", (dir / "stream").string()},
                                {.Captured = &out}) == 0;
      } else {
        done = testsupport::Run({"/bin/sh", "-c", loop}, {.Captured = &out}) == 0;
      }
      const auto jobs = JobsOf(out);
      done = done && jobs.size() == (one ? 1u : static_cast<std::size_t>(kQueues)) &&
             WaitForJobs(jobs);
      bench::Sample s{bench::Seconds(bench::Clock::now() - start), 0, done};
      fs::remove_all(dir / "x");
      fs::remove(dir / "stream");
      return s;
    };

    for (int r = 0; r < rounds && ok; ++r) {
      std::printf("round %d of %d\n", r + 1, rounds);
      std::fflush(stdout);
      for (int turn = 0; turn < 2 && ok; ++turn) {
        if ((turn + r) % 2 == 0) {
          cliOne.push_back(bench::RunMeasured(sendOne, {}, {}, true));
          ok = cliOne.back().ok && Received(sims, seen, onlyFirst, kOneMiB << 20);
        } else {
          refOne.push_back(reference(true));
          ok = refOne.back().ok && Received(sims, seen, onlyFirst, kOneMiB << 20);
        }
      }
      for (int turn = 0; turn < 2 && ok; ++turn) {
        if ((turn + r) % 2 == 0) {
          cliMany.push_back(bench::RunMeasured(sendMany, {}, {}, true));
          ok = cliMany.back().ok && Received(sims, seen, everyQueue, kEachMiB << 20);
        } else {
          refMany.push_back(reference(false));
          ok = refMany.back().ok && Received(sims, seen, everyQueue, kEachMiB << 20);
        }
      }
    }
  }
  testsupport::Run({sandbox.string(), "stop", cups.string()});
  fs::remove_all(dir);
  if (!ok) {
    std::fprintf(stderr, "bench_cli: a send failed or a printer did not receive it whole\n");
    return 1;
  }

  const auto median = [](const std::vector<bench::Sample>& v, double bench::Sample::*field) {
    std::vector<double> values;
    for (const bench::Sample& s : v) values.push_back(s.*field);
    return bench::Median(values);
  };
  const double c1 = median(cliOne, &bench::Sample::seconds);
  const double r1 = median(refOne, &bench::Sample::seconds);
  const double cm = median(cliMany, &bench::Sample::seconds);
  const double rm = median(refMany, &bench::Sample::seconds);
  const double peak = median(cliOne, &bench::Sample::peakMiB);
  const double limit = 1.2 * static_cast<double>(kOneMiB) + 32;
  std::printf("%d rounds, medians, each until the server reports every job completed\n", rounds);
  std::printf(
      "one 64 MiB cabinet:  fwload-cli %7.2f s   cabextract+cat+lp %7.2f s   ratio %.2f"
      "  (goal <= 1.30)\n",
      c1, r1, c1 / r1);
  std::printf(
      "20 queues x 16 MiB:  fwload-cli %7.2f s   lp loop           %7.2f s   ratio %.2f"
      "  (goal <= 1.20)\n",
      cm, rm, cm / rm);
  std::printf("peak memory of the 64 MiB send: %.1f MiB, limit 1.2 x 64 + 32 = %.1f MiB  (%s)\n",
              peak, limit, peak <= limit ? "met" : "NOT met");
  return 0;
}
