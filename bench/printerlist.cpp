// One rebuild of the printer list against a private print server with 10, 100 and 500 queues:
// enumerate, then for each printer QueryPrinter, IsUpgradable and IsFileForPrinter, as the main
// window does. The reference is `lpstat -l -p` on the same server in the same run.
//
//   build-release/bin/bench_printerlist [repetitions]
//
// The sandbox script is found in tools/ beside the build folder (or below FWLOAD_SOURCE_DIR).
#include "firmware/dwndoc.h"
#include "platform/paths.h"
#include "platform/spooler.h"
#include "printers/funcs.h"
#include "printers/myapp.h"
#include "support/run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Output and errors thrown away: lpadmin warns about drivers for every queue it makes.
const testsupport::RunIo kQuiet{.ErrorsToOutput = true};

// The median time of `runs` runs of `work`, in milliseconds.
double MedianMs(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void WritePpd(const fs::path& file, const std::string& model) {
  std::ofstream out(file);
  out << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"BENCH.PPD\"\n"
         "*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n*ModelName: \""
      << model << "\"\n*ShortNickName: \"" << model << "\"\n*NickName: \"" << model
      << "\"\n*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
         "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n"
         "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n"
         "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n"
         "*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"0 0 595 842\"\n"
         "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595 842\"\n";
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  fs::path tools;
  if (const char* source = std::getenv("FWLOAD_SOURCE_DIR"))
    tools = fs::path(source) / "tools";
  else
    tools = platform::ProgramDir().parent_path().parent_path() / "tools";
  const std::string sandbox = (tools / "cups-sandbox.sh").string();
  if (!fs::exists(sandbox)) {
    std::fprintf(stderr, "no %s: set FWLOAD_SOURCE_DIR\n", sandbox.c_str());
    return 1;
  }

  char tmpl[] = "/tmp/fwload-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const fs::path work(tmpl);
  const fs::path dir = work / "cups";
  if (testsupport::Run({sandbox, "start", dir.string()}, kQuiet) != 0) {
    std::fprintf(stderr, "the print server did not start\n");
    return 1;
  }
  std::string server;
  std::ifstream(dir / "server") >> server;
  std::string socket;
  std::ifstream(dir / "socket") >> socket;
  ::setenv("CUPS_SERVER", socket.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);

  // Queues of four kinds: parallel, socket, lpd (command model) and raw.
  const std::string models[] = {"TORVA PX-1300", "TORVA LEAFSPRINT PX-1400", "TORVA VELOXIA M3"};
  for (int m = 0; m < 3; ++m) WritePpd(work / ("model" + std::to_string(m) + ".ppd"), models[m]);
  int queues = 0;
  const auto addQueues = [&](int upTo) {
    for (; queues < upTo; ++queues) {
      const std::string name = "bench" + std::to_string(queues);
      std::vector<std::string> args = {"lpadmin", "-h", server, "-p",
                                       name,      "-E", "-o",   "printer-error-policy=abort-job"};
      switch (queues % 4) {
        case 0:
          args.insert(args.end(), {"-v", "parallel:/dev/lp" + std::to_string(queues % 3), "-P",
                                   (work / "model0.ppd").string()});
          break;
        case 1:
          args.insert(args.end(), {"-v", "socket://127.0.0.1:9/?snmp=false", "-P",
                                   (work / "model1.ppd").string(), "-D", "line one\r\nline two"});
          break;
        case 2:
          args.insert(args.end(), {"-v", "lpd://127.0.0.1:9/q", "-P",
                                   (work / "model2.ppd").string(), "-L", "2F"});
          break;
        default:
          args.insert(args.end(), {"-v", "socket://127.0.0.1:9/?snmp=false", "-m", "raw"});
      }
      if (testsupport::Run(args, kQuiet) != 0) {
        std::fprintf(stderr, "lpadmin failed for %s\n", name.c_str());
      }
    }
  };

  auto model = std::make_unique<TFWLOADApp>(std::vector<std::string>{},
                                            work / "config" / "fwload" / "FWLOAD.INI");
  TFWLOADApp& app = *model;
  app.Doc = std::make_unique<TDownDocFile>();
  app.Doc->FDownLoadPrinter = {"PX-1400"};
  std::size_t listed = 0;
  int upgradable = 0;
  const auto rebuildWork = [&]() {
    std::vector<std::string> names;
    EnumPrinterNames(names);
    listed = names.size();
    upgradable = 0;
    for (const auto& name : names) {
      TPrnInfo info;
      app.QueryPrinter(name, info);
      upgradable += app.IsUpgradable(name);
      upgradable += app.IsFileForPrinter(name);
    }
  };
  const auto rebuild = [&]() {
    platform::SpoolerSnapshot snapshot;  // one request for the whole list
    rebuildWork();
  };
  const auto lpstat = [&]() { testsupport::Run({"lpstat", "-h", server, "-l", "-p"}, kQuiet); };

  std::printf("printer-list rebuild against `lpstat -l -p`, same private server, median of %d\n",
              runs);
  std::printf("%8s %14s %14s %8s %22s\n", "queues", "rebuild ms", "lpstat ms", "ratio",
              "without snapshot ms");
  double first = 0;
  int firstN = 0;
  for (const int n : {10, 100, 500}) {
    addQueues(n);
    rebuild();  // warm up
    lpstat();
    const double r = MedianMs(runs, rebuild);
    const double l = MedianMs(runs, lpstat);
    const double plain = MedianMs(std::max(1, runs / 3), rebuildWork);
    std::printf("%8d %14.2f %14.2f %8.2f %22.2f   (%zu listed, %d checks true)\n", n, r, l, r / l,
                plain, listed, upgradable);
    if (n == 100) {
      first = r;
      firstN = n;
    }
    if (n == 500 && first > 0) {
      std::printf("growth 100 -> 500 queues: %.2fx the time for %.0fx the queues\n", r / first,
                  500.0 / firstN);
    }
  }
  model.reset();
  testsupport::Run({sandbox, "stop", dir.string()}, kQuiet);
  fs::remove_all(work);
  return 0;
}
