#pragma once

#include <QThread>

#include "common/codes.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

class TDownDocFile;
class ITransferView;
namespace platform {
class ISpoolPrinter;
}

// What building the download file gave: the finished file's size in bytes (0 = no usable file)
// and the result code the transfer ends with when no file was made: 18 when it could not be
// built, 36 when the download command cannot describe the data size.
struct DownloadFileResult {
  std::int64_t Size = 0;
  std::uint16_t Code = rc::kTempFile;

  bool Ok() const { return Size > 0; }
};

// The waits of a transfer. Tests pass shorter ones.
struct TransferTimings {
  // Between two looks at the job in the queue.
  std::chrono::milliseconds JobPoll{1000};
  // Nonzero: the looks come this often for FastPollFor after the last write, when a small job is
  // most likely to end, then every JobPoll. A whole job then costs little more than its transfer.
  std::chrono::milliseconds FastJobPoll{0};
  std::chrono::milliseconds FastPollFor{2000};
  // How long the server may fail to answer about the job before the transfer counts as failed.
  std::chrono::milliseconds NoAnswerLimit{30000};

  // The window's waits: one look a second, as the window has always followed its jobs.
  static TransferTimings Window() { return {}; }
  // A front end without a window: 100 ms for the first 2 s after the last write, then 1 s.
  static TransferTimings Fast() {
    TransferTimings t;
    t.FastJobPoll = std::chrono::milliseconds(100);
    return t;
  }
  // The wait before the next look, `sinceLastWrite` after the job's last write.
  std::chrono::milliseconds PollAfter(std::chrono::steady_clock::duration sinceLastWrite) const {
    if (FastJobPoll.count() > 0 && sinceLastWrite < FastPollFor) return FastJobPoll;
    return JobPoll;
  }
};

// Where an "ftp://" target is taken apart: host and directory.
struct FtpTargetParts {
  std::string Host;
  std::string Directory;
};

// One download as the transfer carries it out: everything it needs, decided beforehand.
struct TransferJob {
  // A queue name, or an "ftp://" target; used whole.
  std::string Target;
  // The firmware file whose data is sent; it must outlive the transfer.
  const TDownDocFile* Doc = nullptr;
  // The wrap switch: 1 when the printer receives the download command.
  int Wrap = 0;
  // The trailer's memory byte: 1 initialises the printer's settings memory.
  int InitMemory = 1;
  // Where the download file is made; empty: the program's temporary folder.
  std::filesystem::path TempDir;
};

// The worker that performs one download: builds the download file from the job's firmware file,
// sends it as a RAW job to a spooler printer (and follows the job until the printer has taken
// it) or hands it to the access library for an FTP printer, and keeps the result code. It shares
// nothing with other transfers, so several can run at once. It reports what it does through
// `view` (may be null) and stops early when its interruption is requested (the terminate flag).
class TPrintThread : public QThread {
 public:
  // Data blocks of this size or more do not fit the eight digits of the size record.
  static constexpr std::uint64_t kMaxCommandDataSize = 100'000'000;
  // The job is written in blocks of this size.
  static constexpr std::size_t kBlockSize = 512;

  TPrintThread(TransferJob job, ITransferView* view, TransferTimings timings = {});
  ~TPrintThread() override;

  // The whole transfer; its outcome is Result(), to be read once the thread has ended.
  void Execute();
  std::uint16_t Result() const { return FResult; }
  const TransferJob& Job() const { return FJob; }
  // The size of the download file in bytes; 0 before it was built.
  std::uint64_t Size() const { return FSize; }
  // The spooler's number of the job this transfer sent; 0 before one was started.
  int JobId() const { return FJobId; }

  // Writes the bytes the printer is to receive into the existing, empty file `fileName`: the
  // document's data, wrapped in the download command where `wrap` (the wrap switch) and the
  // document's switches ask for it; `initMemory` chooses the trailer's memory byte. The file
  // holds exactly the returned size or the result reports a failure.
  static DownloadFileResult MakeDownloadFile(const std::filesystem::path& fileName,
                                             const TDownDocFile* doc, int wrap, int initMemory);

  // Sends the file, which must hold exactly `size` bytes, as one RAW job in blocks of 512 bytes;
  // `jobId` receives the spooler's job number. 0, or 17 (file not readable), 33 (not every byte
  // reached the spooler: the job is aborted), 4096 (interrupted: the job is aborted).
  std::uint16_t SpoolFile(platform::ISpoolPrinter& printer, const std::filesystem::path& fileName,
                          std::uint64_t size, int& jobId);

  // Follows the job until the printer has taken it: 0 (completed, or the server no longer knows
  // it), 34 (canceled or aborted on the server), 33 (no answer about it for NoAnswerLimit),
  // 4096 (interrupted: the job is cancelled).
  std::uint16_t WaitForJob(platform::ISpoolPrinter& printer, int jobId, std::uint64_t total);

  // The FTP branch: sends the file through the access library; returns the result code.
  std::uint16_t SendToFtpPrinter(const std::string& target, const std::filesystem::path& fileName);

  // Takes an FTP target apart: host[:port] and directory ("ftp://h:2121/d" -> "h:2121", "d");
  // the host is empty when none can be read.
  static FtpTargetParts SplitFtpTarget(const std::string& target);
  // The result code of an access library code.
  static std::uint16_t FtpResultCode(std::uint32_t libraryCode);

 protected:
  void run() override;

 private:
  std::uint16_t Transfer();
  void SetLabel(int messageId);
  // Moves the bar to done * 100 / total, telling the view only when the position changes.
  void SetBar(std::uint64_t done, std::uint64_t total);
  void SetBarPosition(int position);
  // Waits up to `wait`, returning early when interruption is requested.
  void Pause(std::chrono::milliseconds wait);
  static int NotifyProc(void* context, int notification, std::uint64_t value);

  TransferJob FJob;
  ITransferView* FView;
  TransferTimings FTimings;
  std::uint16_t FResult = rc::kSuccess;
  int FBarPosition = -1;
  int FJobId = 0;
  std::uint64_t FSize = 0;
};
