// Opening a firmware file of each kind (plain, SZDD, cabinet with MSZIP) against the reference
// tool on the same file, in the same run: `cat` for the plain file, `msexpand` and libmspack's
// SZDD decoder called directly for the SZDD file, `cabextract` for the cabinet. Each open runs in a
// fresh child process, so that its peak memory can be set against the data size.
//
//   bench_open [--mib N] [--runs N] [--no-msexpand]

#include "firmware/dwndoc.h"
#include "firmware/fixtures.h"
#include "platform/paths.h"

#include "benchutil.h"

#include <mspack.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t Fnv(const std::uint8_t* data, std::size_t size) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

// The peak resident memory of this process in MiB. Read from /proc, as the resource usage of a
// child also counts what its parent held before the child started the program.
double PeakMiB() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  double kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "VmHWM: %lf kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib / 1024;
}

// Child mode: opens the file, prints the time the open took, the peak memory and the data block's
// hash.
int OpenChild(const char* path) {
  const auto start = Clock::now();
  TDownDocFile doc(path);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%.6f %.3f %u %u %llu\n", seconds, PeakMiB(), doc.FError, doc.FDataSize,
              static_cast<unsigned long long>(Fnv(doc.FData.get(), doc.FDataSize)));
  platform::RemoveTempDir();
  return 0;
}

// libmspack's own SZDD decoder, called directly with its default file functions.
int ExpandChild(const char* source, const char* target) {
  msszdd_decompressor* szdd = mspack_create_szdd_decompressor(nullptr);
  msszddd_header* header = szdd->open(szdd, const_cast<char*>(source));
  const int error = header ? szdd->extract(szdd, header, const_cast<char*>(target)) : 1;
  if (header) szdd->close(szdd, header);
  mspack_destroy_szdd_decompressor(szdd);
  return error == MSPACK_ERR_OK ? 0 : 1;
}

struct Opened {
  bench::Sample sample;
  std::uint32_t size = 0;
  std::uint64_t hash = 0;
  unsigned error = 0;
};

Opened OpenTimed(const std::string& self, const std::string& path, const std::string& scratch) {
  const std::string report = scratch + "/report";
  Opened o;
  const bench::Sample whole = bench::RunMeasured({self, "--open-child", path}, {}, report);
  std::FILE* f = std::fopen(report.c_str(), "r");
  double seconds = 0;
  double peak = 0;
  unsigned long long hash = 0;
  if (f && std::fscanf(f, "%lf %lf %u %u %llu", &seconds, &peak, &o.error, &o.size, &hash) == 5) {
    o.sample = whole;
    o.sample.seconds = seconds;  // the open itself, without starting the process
    o.sample.peakMiB = peak;
    o.hash = hash;
  }
  if (f) std::fclose(f);
  return o;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--open-child") == 0) return OpenChild(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "--expand-child") == 0)
    return ExpandChild(argv[2], argv[3]);

  std::size_t mib = 64;
  int runs = 5;
  bool msexpand = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mib") == 0 && i + 1 < argc)
      mib = std::strtoul(argv[++i], nullptr, 10);
    else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--no-msexpand") == 0)
      msexpand = false;
    else {
      std::fprintf(stderr, "usage: %s [--mib N] [--runs N] [--no-msexpand]\n", argv[0]);
      return 2;
    }
  }
  const std::string self = platform::ProgramDir() / "bench_open";

  const std::filesystem::path work = bench::MakeWorkDir();
  if (work.empty()) return 1;
  ::setenv("TMPDIR", work.c_str(), 1);
  ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);

  std::printf("Preparing %zu MiB of firmware data in %s ...\n", mib, work.c_str());
  const std::size_t dataSize = mib << 20;
  std::uint64_t dataHash = 0;
  {
    const std::string data = fixtures::FirmwareBytes(dataSize, 42);
    dataHash = Fnv(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    const std::string header =
        "[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Benchmark\r\nDownLoadVersion=1.0\r\n";
    const std::string plain = header + '\x1A' + data;
    fixtures::Write(work / "fw.FWB", plain);
    fixtures::Write(work / "fw.FW_", fixtures::EncodeSzdd(plain));
    if (!fixtures::GcabCabinet(
            work / "fw.FWV", work / "staging",
            {{"HEADER.FWB", header + "DownLoadFile=DATA\\FW.BIN\r\n"}, {"DATA/FW.BIN", data}},
            true)) {
      std::fprintf(stderr, "gcab failed\n");
      return 1;
    }
  }
  std::filesystem::remove_all(work / "staging");
  const auto sizeOf = [&](const char* n) { return std::filesystem::file_size(work / n) >> 20; };
  std::printf("Files: fw.FWB %ju MiB, fw.FW_ %ju MiB, fw.FWV %ju MiB; %d runs each, median.\n\n",
              static_cast<std::uintmax_t>(sizeOf("fw.FWB")),
              static_cast<std::uintmax_t>(sizeOf("fw.FW_")),
              static_cast<std::uintmax_t>(sizeOf("fw.FWV")), runs);

  const std::string out = (work / "out").string();
  const double dataMiB = static_cast<double>(dataSize) / (1 << 20);
  const double memoryLimit = 2 * dataMiB + 32;
  bool allMet = true;

  struct Reference {
    std::string name;
    std::vector<std::string> argv;
    std::string input;
    std::string output;
    int runs;
  };
  struct Kind {
    std::string label;
    std::string file;
    std::vector<Reference> references;
  };
  const std::vector<Kind> kinds = {
      {"plain",
       "fw.FWB",
       {{"cat FILE > copy", {"cat", (work / "fw.FWB").string()}, {}, out, runs},
        {"cat FILE > /dev/null", {"cat", (work / "fw.FWB").string()}, {}, "/dev/null", runs}}},
      {"SZDD",
       "fw.FW_",
       {{"libmspack SZDD decoder",
         {self, "--expand-child", (work / "fw.FW_").string(), out},
         {},
         {},
         runs},
        {"msexpand < FILE > copy",
         {"msexpand"},
         (work / "fw.FW_").string(),
         out,
         msexpand ? 1 : 0}}},
      {"cabinet",
       "fw.FWV",
       {{"cabextract -d DIR FILE",
         {"cabextract", "-q", "-d", (work / "cabout").string(), (work / "fw.FWV").string()},
         {},
         {},
         runs}}},
  };

  std::printf("%-8s %10s %10s  %-26s %10s %7s  %s\n", "kind", "open s", "peak MiB", "reference",
              "ref s", "ratio", "goals (ratio <= 1.5, peak < 2 x data + 32 MiB)");
  for (const auto& kind : kinds) {
    std::vector<double> times;
    double peak = 0;
    bool correct = true;
    for (int r = 0; r < runs; ++r) {
      const Opened o = OpenTimed(self, (work / kind.file).string(), work.string());
      times.push_back(o.sample.seconds);
      peak = std::max(peak, o.sample.peakMiB);
      correct = correct && o.error == 0 && o.size == dataSize && o.hash == dataHash;
    }
    const double ours = Median(times);
    if (!correct) {
      std::printf("%-8s the data block is not the firmware data\n", kind.label.c_str());
      allMet = false;
    }
    bool first = true;
    for (const auto& ref : kind.references) {
      if (ref.runs == 0) continue;
      std::vector<double> refTimes;
      for (int r = 0; r < ref.runs; ++r) {
        std::filesystem::remove_all(work / "cabout");
        const bench::Sample s = bench::RunMeasured(ref.argv, ref.input, ref.output);
        if (!s.ok) std::printf("  (%s failed)\n", ref.name.c_str());
        refTimes.push_back(s.seconds);
      }
      const double theirs = Median(refTimes);
      const double ratio = ours / theirs;
      // The first reference of each kind is the goal's; the others are for comparison.
      std::string verdict;
      if (first) {
        const bool met = ratio <= 1.5 && peak < memoryLimit;
        allMet = allMet && met;
        verdict = met ? "met" : "NOT MET";
      }
      std::printf("%-8s %10s %10s  %-26s %10.3f %7.2f  %s\n", first ? kind.label.c_str() : "",
                  first ? std::to_string(ours).substr(0, 6).c_str() : "",
                  first ? std::to_string(peak).substr(0, 6).c_str() : "", ref.name.c_str(), theirs,
                  ratio, verdict.c_str());
      first = false;
    }
  }
  std::printf("\nData %.0f MiB; memory limit %.0f MiB. %s\n", dataMiB, memoryLimit,
              allMet ? "All goals met." : "Some goals NOT met.");
  std::filesystem::remove_all(work);
  return allMet ? 0 : 1;
}
