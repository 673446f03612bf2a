// COUNT downloads of files TAG-0 ... TAG-n into the history HISTORY, in a process of its own (not
// a thread: its own connection, its own process id). Exit code 0 when each was sent and recorded.
//
//   history_downloads HISTORY FOLDER COUNT TAG
#include "common/history.h"
#include "download/fakedownload.h"
#include "support/scriptedask.h"

#include <string>

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  transfertest::FakeDownloads downloads(argv[2]);
  HistoryStore store(argv[1]);
  testsupport::ScriptedAsk ask({});
  for (int i = 0; i < std::stoi(argv[3]); ++i) {
    const auto file = downloads.File(std::string(argv[4]) + "-" + std::to_string(i) + ".FWB");
    if (downloads.Run(file, &store, ask).Code != 0) return 1;
  }
  // Nothing told: no trouble with the history.
  return ask.Ids().empty() ? 0 : 3;
}
