#pragma once

#include "download/printthread.h"
#include "download/transferview.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TDownDocFile;

namespace transfertest {

// Labels a transfer shows, by string id.
constexpr int kSpooling = 4130;
constexpr int kDownloading = 4131;

// A driver name whose model row takes the download command.
constexpr const char* kCommandModel = "TORVA PX-E3000";

// "1B 01 40" -> the three bytes.
std::string Hex(const std::string& text);

// The command's 52-byte prefix as the printer documents it, written out byte by byte.
std::string CommandPrefix();

// The bytes a printer must receive for `data`, written out from the command's documented layout:
// the 52-byte prefix and the size record when `command`, the trailer with its memory byte when
// `trailer`.
std::string ExpectedStream(const std::string& data, bool command, bool trailer, int memory);

// `size` bytes that do not repeat and hold 00, 1A, 1B and FF near the start.
std::string TestData(std::size_t size, std::uint32_t seed = 1);

// A document holding `data` with the header switches EnableCommand and Reboot.
std::unique_ptr<TDownDocFile> MakeDoc(const std::string& data, int enableCommand, int reboot);

// Records what a transfer showed. The hooks run on the transfer thread, inside the call.
class RecordingView : public ITransferView {
 public:
  std::function<void(int)> OnLabel;
  std::function<void(int)> OnProgress;
  std::function<int(int, std::uint64_t)> Answer;

  void SetLabel(int messageId) override;
  void SetProgress(int position) override;
  void SetTotalSize(std::uint64_t bytes) override;
  int Notify(int notification, std::uint64_t value) override;
  // Starts the thread and waits for its end, as a view without a display does.
  void Follow(TPrintThread& thread) override;

  std::vector<int> Labels() const;
  std::vector<int> Positions() const;
  std::vector<int> Notifications() const;
  std::uint64_t Total() const;
  int LastLabel() const;

 private:
  mutable std::mutex lock_;
  std::vector<int> labels_;
  std::vector<int> positions_;
  std::vector<int> notifications_;
  std::uint64_t total_ = 0;
};

// Starts the thread and waits for its end; false when it was still running after `limit` (it is
// then stopped before returning).
bool RunToEnd(TPrintThread& thread, std::chrono::milliseconds limit = std::chrono::seconds(60));

// Files whose names begin with "dwn" anywhere below `dir`: download files left behind.
std::vector<std::string> LeftoverDownloadFiles(const std::filesystem::path& dir);

// A queue of the private print server for one test, with the error policy abort-job; its jobs
// are cancelled and the queue removed at the end.
class TestQueue {
 public:
  TestQueue(std::string name, const std::string& uri, const std::string& model = "-");
  ~TestQueue();
  TestQueue(const TestQueue&) = delete;
  TestQueue& operator=(const TestQueue&) = delete;
  const std::string& Name() const { return name_; }
  // A device URI for a socket printer on a loopback port.
  static std::string SocketUri(int port);

 private:
  std::string name_;
};

// The id of the newest job of `queue`, ended or not (lpstat -W all), 0 when there is none.
int NewestJob(const std::string& queue);

// The server's job-state of a job (7 canceled, 8 aborted, 9 completed), 0 when it cannot be asked.
int JobState(const std::string& queue, int jobId);
// The server's job-state once it is one that ends a job, or the last seen after `limit`.
int WaitForEndState(const std::string& queue, int jobId,
                    std::chrono::milliseconds limit = std::chrono::seconds(20));
// The jobs of a queue that have not ended (lpstat -o), one per line; empty when none.
std::string ActiveJobs(const std::string& queue);

// Waits until no system thread of a transfer is left in this process; false when one still runs
// after `limit`. A finished QThread's system thread still has a moment of work after its end was
// reported.
bool WaitUntilNoTransferThread(std::chrono::milliseconds limit = std::chrono::seconds(5));
// Ends the idle threads of Qt's global thread pool (painting uses them) and waits until their
// system threads are gone, so that none is still letting go of its data while the process exits.
bool EndPooledThreads(std::chrono::milliseconds limit = std::chrono::seconds(5));

// Short waits for the tests: a poll every 20 ms, 1 s without an answer is a failure.
TransferTimings ShortTimings();

}  // namespace transfertest
