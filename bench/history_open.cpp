// What the history window costs to open: a store opened and all of 10,000 rows read for display,
// while another process keeps beginning and completing downloads in the same file; and the
// window's own model, which reads its first page on opening and the rest as the list is scrolled
// (measured both ways). References on the same file: the sqlite3 program printing the same rows,
// and a plain sqlite3_exec of them (all, and the first page). Goal: well under 0.5 s.
//
//   bench_history_open [rounds]
#include "common/history.h"
#include "support/run.h"
#include "ui/historymodel.h"

#include "benchutil.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace fs = std::filesystem;

namespace {

constexpr int kRows = 10'000;

DownloadRecord Row(int i) {
  DownloadRecord r;
  r.Started = std::chrono::system_clock::now();
  r.File = "/home/nora/firmware/PX-1100_V1." + std::to_string(i % 100) + ".FWV";
  r.Description = "PX-1100 制御ソフトウェア";
  r.Version = "V1." + std::to_string(i % 100);
  r.Target = i % 3 ? "office-" + std::to_string(i % 17) : "ftp://192.0.2.7/ketora0";
  r.Port = i % 3 ? "socket://192.0.2." + std::to_string(i % 200) + ":9100" : r.Target;
  r.Model = "TORVA PX-1100";
  r.VersionBefore = "V1.0";
  return r;
}

bool Write(HistoryStore& store, int i) {
  DownloadRecord r = Row(i);
  const HistoryBegun id = store.Begin(r);
  r.Ended = std::chrono::system_clock::now();
  r.MessageId = 4113;
  r.Message = "ダウンロードが終了しました。";
  r.Bytes = 8u << 20;
  r.Seconds = 12.5;
  r.Verify = Verified::Skipped;
  return id.Ok() && store.Complete(id.Id, r).Ok();
}

int IgnoreRow(void*, int, char**, char**) { return 0; }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 7;
  const fs::path dir = bench::MakeWorkDir();
  if (dir.empty()) return 1;
  const fs::path file = dir / "history.sqlite";
  {
    HistoryStore store(file);
    for (int i = 0; i < kRows; ++i) {
      if (!Write(store, i)) {
        std::fprintf(stderr, "bench_history_open: filling failed\n");
        return 1;
      }
    }
  }

  // The other process: scripts downloading again and again, a download every 10 ms (far more
  // than printers take; flat out it would double the rows within the measurement).
  const pid_t writer = ::fork();
  if (writer == 0) {
    HistoryStore store(file);
    for (int i = 0;; ++i) {
      Write(store, i);
      ::usleep(10'000);
    }
  }

  // Processor time beside the wall time: on a busy machine the wall time is mostly waiting.
  std::vector<double> storeTimes, storeCpu, cliTimes, execTimes, execCpu;
  std::vector<double> modelTimes, scrolledTimes, pageTimes;
  const auto cpuSeconds = [] { return double(std::clock()) / CLOCKS_PER_SEC; };
  std::size_t shown = 0;
  bool ok = true;
  for (int r = 0; r < rounds && ok; ++r) {
    auto start = bench::Clock::now();
    double cpu = cpuSeconds();
    {
      HistoryStore store(file);
      const HistoryRows rows = store.List();
      shown = rows.Rows.size();
      ok = rows.Ok() && shown >= kRows;
    }
    storeTimes.push_back(bench::Seconds(bench::Clock::now() - start));
    storeCpu.push_back(cpuSeconds() - cpu);

    // The window opening, then scrolled to its last row.
    start = bench::Clock::now();
    {
      HistoryStore store(file);
      THistoryModel model(store);
      ok = ok && model.Reload() && model.rowCount() == int(THistoryModel::kPageRows);
      modelTimes.push_back(bench::Seconds(bench::Clock::now() - start));
      while (model.canFetchMore({})) model.fetchMore({});
      ok = ok && model.rowCount() >= kRows && model.Error().empty();
    }
    scrolledTimes.push_back(bench::Seconds(bench::Clock::now() - start));

    start = bench::Clock::now();
    ok = ok && testsupport::Run(
                   {"sqlite3", file.string(), "SELECT * FROM downloads ORDER BY id DESC"}) == 0;
    cliTimes.push_back(bench::Seconds(bench::Clock::now() - start));

    start = bench::Clock::now();
    cpu = cpuSeconds();
    sqlite3* db = nullptr;
    ok = ok && sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
         sqlite3_exec(db, "SELECT * FROM downloads ORDER BY id DESC", IgnoreRow, nullptr,
                      nullptr) == SQLITE_OK;
    sqlite3_close(db);
    execTimes.push_back(bench::Seconds(bench::Clock::now() - start));
    execCpu.push_back(cpuSeconds() - cpu);

    start = bench::Clock::now();
    ok = ok && sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
         sqlite3_exec(db, "SELECT * FROM downloads ORDER BY id DESC LIMIT 200", IgnoreRow, nullptr,
                      nullptr) == SQLITE_OK;
    sqlite3_close(db);
    pageTimes.push_back(bench::Seconds(bench::Clock::now() - start));
  }
  ::kill(writer, SIGKILL);
  ::waitpid(writer, nullptr, 0);
  const std::size_t written = HistoryStore(file).List().Rows.size() - kRows;
  fs::remove_all(dir);
  if (!ok) {
    std::fprintf(stderr, "bench_history_open: a run failed\n");
    return 1;
  }

  const double store = bench::Median(storeTimes);
  const double cli = bench::Median(cliTimes);
  const double exec = bench::Median(execTimes);
  std::printf("history: %d rows, %d rounds, medians; the other process wrote %zu rows meanwhile\n",
              kRows, rounds, written);
  std::printf("                        wall       processor\n");
  std::printf("open + List (window):  %8.1f ms  %6.1f ms  (%zu rows; goal < 500 ms)\n",
              store * 1000, bench::Median(storeCpu) * 1000, shown);
  std::printf("sqlite3 program:       %8.1f ms\n", cli * 1000);
  std::printf("sqlite3_exec:          %8.1f ms  %6.1f ms\n", exec * 1000,
              bench::Median(execCpu) * 1000);
  const double model = bench::Median(modelTimes);
  const double scrolled = bench::Median(scrolledTimes);
  const double page = bench::Median(pageTimes);
  std::printf("window model, opened:  %8.1f ms             (first %zu rows; goal < 500 ms)\n",
              model * 1000, THistoryModel::kPageRows);
  std::printf("  scrolled to the end: %8.1f ms             (every row, page by page)\n",
              scrolled * 1000);
  std::printf("sqlite3_exec, 1 page:  %8.1f ms\n", page * 1000);
  std::printf("ratio window / sqlite3 program: %6.2f\n", store / cli);
  std::printf("ratio window / sqlite3_exec:    %6.2f\n", store / exec);
  std::printf("ratio model opened / sqlite3_exec of its page:   %6.2f\n", model / page);
  std::printf("ratio model scrolled / sqlite3_exec of all rows: %6.2f\n", scrolled / exec);
  return 0;
}
