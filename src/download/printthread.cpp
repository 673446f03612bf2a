// The transfer thread: the download file to a spooler printer as one RAW job, followed in the
// queue until the printer has taken it, or to an FTP printer through the access library.
#include "download/printthread.h"

#include "common/ftpaddress.h"
#include "common/strings.h"
#include "download/transferview.h"
#include "platform/fileio.h"
#include "platform/spooler.h"
#include "platform/tempfiles.h"
#include "printers/accesslib.h"
#include "printers/funcs.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMsgSendingToSpooler = 4130;
constexpr int kMsgDownloading = 4131;
constexpr int kDocumentName = 4144;

// The download file lives exactly as long as the transfer, whatever way it ends.
class TempFile {
 public:
  explicit TempFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

int Percent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 100;
  // Wide enough for any byte count times 100.
  const auto p = static_cast<unsigned __int128>(done) * 100 / total;
  return static_cast<int>(std::min<unsigned __int128>(p, 100));
}

}  // namespace

TPrintThread::TPrintThread(TransferJob job, ITransferView* view, TransferTimings timings)
    : FJob(std::move(job)), FView(view), FTimings(timings) {
  // The system thread carries this name, so it can be told apart in a process listing.
  setObjectName(QStringLiteral("TPrintThread"));
}

TPrintThread::~TPrintThread() {
  // The owner waits for the end before it frees the thread; this only guards against a thread
  // object that is dropped while it still runs.
  if (isRunning()) {
    requestInterruption();
    wait();
  }
}

void TPrintThread::run() { Execute(); }

void TPrintThread::Execute() {
  FBarPosition = -1;
  FJobId = 0;
  FSize = 0;
  const std::uint16_t result = Transfer();
  // A failure that came while an abort was pending is the abort: a write, an answer or an upload
  // that the printer held back gave way to it.
  FResult = (result != rc::kSuccess && isInterruptionRequested()) ? rc::kAborted : result;
}

std::uint16_t TPrintThread::Transfer() {
  const std::optional<std::filesystem::path> name = MakeTempFileName("dwn", FJob.TempDir);
  if (!name) return rc::kTempFile;
  const TempFile temp(*name);

  const DownloadFileResult built =
      MakeDownloadFile(temp.Path(), FJob.Doc, FJob.Wrap, FJob.InitMemory);
  if (!built.Ok()) return built.Code;
  const auto size = static_cast<std::uint64_t>(built.Size);
  FSize = size;
  if (FView) FView->SetTotalSize(size);
  // An abort while the file was built: nothing has reached a printer yet, and nothing will.
  if (isInterruptionRequested()) return rc::kAborted;

  // The target is used whole: a cut name would name another printer, or none.
  const std::string& target = FJob.Target;
  if (IsFtpTarget(target)) return SendToFtpPrinter(target, temp.Path());

  const std::unique_ptr<platform::ISpoolPrinter> printer = platform::Spooler().OpenPrinter(target);
  if (!printer) return rc::kPrinterOpen;
  // A write or an answer the server holds back gives way to an abort.
  printer->SetStopCheck([this] { return isInterruptionRequested(); });
  SetLabel(kMsgSendingToSpooler);
  const std::uint16_t sent = SpoolFile(*printer, temp.Path(), size, FJobId);
  if (sent != rc::kSuccess) return sent;
  SetBarPosition(0);
  SetLabel(kMsgDownloading);
  return WaitForJob(*printer, FJobId, size);
}

std::uint16_t TPrintThread::SpoolFile(platform::ISpoolPrinter& printer,
                                      const std::filesystem::path& fileName, std::uint64_t size,
                                      int& jobId) {
  jobId = 0;
  const platform::UniqueFd file(platform::OpenForReading(fileName));
  if (file.Get() < 0) return rc::kFileOpen;
  // A file that does not hold what was built is never sent, not even in part.
  if (platform::RegularFileSize(file.Get()) != size) return rc::kSendFailed;

  jobId = printer.StartRawDocument(std::string(strings::Load(kDocumentName)));
  std::uint8_t block[kBlockSize];
  std::uint64_t sent = 0;
  for (;;) {
    if (isInterruptionRequested()) {
      printer.AbortDocument();
      return rc::kAborted;
    }
    std::size_t n = 0;
    // A refused job (number 0) fails here, at its first write. A write that gave way to an abort
    // is the abort.
    if (!platform::ReadUpTo(file.Get(), block, kBlockSize, n) || sent + n > size ||
        !printer.Write(block, n)) {
      printer.AbortDocument();
      return isInterruptionRequested() ? rc::kAborted : rc::kSendFailed;
    }
    SetBar(sent, size);
    sent += n;
    // A full block is always followed by another read, so a file of a multiple of 512 bytes ends
    // with a write of 0 bytes.
    if (n == kBlockSize) continue;
    if (sent != size) {
      printer.AbortDocument();
      return rc::kSendFailed;
    }
    if (!printer.EndDocument()) return isInterruptionRequested() ? rc::kAborted : rc::kSendFailed;
    SetBarPosition(100);
    return rc::kSuccess;
  }
}

std::uint16_t TPrintThread::WaitForJob(platform::ISpoolPrinter& printer, int jobId,
                                       std::uint64_t /*total*/) {
  // The server never reports how much of a RAW job the printer has taken, so the bar stays where
  // it is until the job has ended.
  const Clock::time_point lastWrite = Clock::now();
  Clock::time_point lastAnswer = lastWrite;
  for (;;) {
    Pause(FTimings.PollAfter(Clock::now() - lastWrite));
    if (isInterruptionRequested()) {
      printer.CancelJob(jobId);
      return rc::kAborted;
    }
    platform::SpoolJobData job;
    switch (printer.GetJob(jobId, job)) {
      case platform::SpoolStatus::Ok:
        lastAnswer = Clock::now();
        if (job.JobId != jobId) {
          SetBarPosition(100);
          return rc::kSuccess;
        }
        if (job.Status & platform::kJobStatusPrinted) {
          if (job.Status != platform::kJobStatusPrinted) return rc::kJobFailed;
          SetBarPosition(100);
          return rc::kSuccess;
        }
        break;
      case platform::SpoolStatus::NotFound:
        // The server says it does not know the job: it has left the queue.
        SetBarPosition(100);
        return rc::kSuccess;
      case platform::SpoolStatus::Unreachable:
      case platform::SpoolStatus::Failed:
        // A question that gave way to an abort: the job is cancelled at the top of the loop.
        if (isInterruptionRequested()) break;
        // Only a definite answer ends the loop; a server that stays silent ends it as a failure.
        if (Clock::now() - lastAnswer >= FTimings.NoAnswerLimit) return rc::kSendFailed;
        break;
    }
  }
}

FtpTargetParts TPrintThread::SplitFtpTarget(const std::string& target) {
  FtpTargetParts parts;
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseTarget(target);
  if (!parsed.HostOk()) return parts;
  parts.Host = parsed.Address.Authority();
  parts.Directory = parsed.Address.Directory;
  return parts;
}

std::uint16_t TPrintThread::FtpResultCode(std::uint32_t libraryCode) {
  switch (libraryCode) {
    case accesscode::kSuccess:
      return rc::kSuccess;
    case accesscode::kDirectory:
      return rc::kDirectoryChange;
    case accesscode::kTempFile:
      return rc::kTempFile;
    case accesscode::kAborted:
      return rc::kAborted;
    default:
      return rc::kSendFailed;
  }
}

std::uint16_t TPrintThread::SendToFtpPrinter(const std::string& target,
                                             const std::filesystem::path& fileName) {
  const FtpTargetParts parts = SplitFtpTarget(target);
  // Without a host there is nothing to connect to.
  if (parts.Host.empty()) return rc::kSendFailed;
  // An empty directory would put the firmware into the login directory, where no printer
  // looks for it; "." and ".." lead there as well.
  if (ftpaddress::CheckDirectory(parts.Directory) != ftpaddress::AddressError::None) {
    return rc::kDirectoryChange;
  }
  const std::uint32_t code = AccessLibrary().SendFileToFtpPrinter(
      &TPrintThread::NotifyProc, this, parts.Host, parts.Directory, fileName.string());
  return FtpResultCode(code);
}

int TPrintThread::NotifyProc(void* context, int notification, std::uint64_t value) {
  auto* self = static_cast<TPrintThread*>(context);
  int answer = self->FView ? self->FView->Notify(notification, value) : 0;
  // The terminate flag stops the library as well, also where no window answers for it.
  if (self->isInterruptionRequested()) answer = 1;
  return answer;
}

void TPrintThread::SetLabel(int messageId) {
  if (FView) FView->SetLabel(messageId);
}

void TPrintThread::SetBar(std::uint64_t done, std::uint64_t total) {
  SetBarPosition(Percent(done, total));
}

void TPrintThread::SetBarPosition(int position) {
  // The window's thread sees one update per percent step, not one per block.
  if (position == FBarPosition) return;
  FBarPosition = position;
  if (FView) FView->SetProgress(position);
}

void TPrintThread::Pause(std::chrono::milliseconds wait) {
  const Clock::time_point end = Clock::now() + wait;
  for (;;) {
    if (isInterruptionRequested()) return;
    const Clock::time_point now = Clock::now();
    if (now >= end) return;
    const auto slice = std::min<Clock::duration>(end - now, std::chrono::milliseconds(20));
    QThread::usleep(static_cast<unsigned long>(
        std::chrono::duration_cast<std::chrono::microseconds>(slice).count()));
  }
}
