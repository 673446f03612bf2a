// A printer of the spooler over libcups: its data, its RAW jobs and their state.
#include "platform/spooler_cups_ipp.h"

#include <algorithm>

namespace platform {

namespace {

using namespace cupsipp;

class CupsPrinter : public ISpoolPrinter {
 public:
  CupsPrinter(CupsSpooler::Impl& spooler, std::string name,
              std::optional<SpoolPrinterData> snapshotData)
      : spooler_(spooler), name_(std::move(name)), snapshotData_(std::move(snapshotData)) {}

  ~CupsPrinter() override { AbortDocument(); }

  const std::string& Name() const override { return name_; }

  std::optional<SpoolPrinterData> GetData() override {
    if (snapshotData_) return snapshotData_;
    SpoolStatus status;
    IppPtr answer = Ask(name_, kQueueAttributes, std::size(kQueueAttributes), status);
    if (status != SpoolStatus::Ok) return std::nullopt;
    std::vector<QueueAttributes> queues = QueuesOf(answer.get());
    if (queues.empty()) return std::nullopt;
    return DataOf(queues.front(), [&](const std::string& member) -> std::optional<std::string> {
      static const char* const kDevice[] = {"printer-name", "device-uri"};
      SpoolStatus memberStatus;
      IppPtr m = Ask(member, kDevice, std::size(kDevice), memberStatus);
      if (memberStatus == SpoolStatus::NotFound) return std::string();
      if (memberStatus != SpoolStatus::Ok) return std::nullopt;
      return PortTextOfDeviceUri(StringOf(ippFindAttribute(m.get(), "device-uri", IPP_TAG_URI)));
    });
  }

  void SetStopCheck(std::function<bool()> stop) override { stop_ = std::move(stop); }

  int StartRawDocument(const std::string& documentName) override {
    AbortDocument();
    if (!document_.Open(spooler_.Timeouts.ConnectMs)) return 0;
    document_.Arm(spooler_.Timeouts.AnswerSeconds, &stop_);
    const int job = cupsCreateJob(document_.Get(), name_.c_str(), documentName.c_str(), 0, nullptr);
    if (job <= 0) {
      document_.Close();
      return 0;
    }
    if (cupsStartDocument(document_.Get(), name_.c_str(), job, documentName.c_str(),
                          CUPS_FORMAT_RAW, 1) != HTTP_STATUS_CONTINUE) {
      document_.Close();
      CancelJob(job);
      return 0;
    }
    job_ = job;
    return job;
  }

  bool Write(const void* data, std::size_t size) override {
    if (job_ == 0) return false;
    if (size == 0) return true;
    // libcups sends each 2 KiB of a request as a chunk of its own, which the server then takes
    // apart one by one: small writes are gathered and sent in larger pieces.
    const char* bytes = static_cast<const char*>(data);
    if (pending_.size() + size > kGather && !Flush()) return false;
    if (size >= kGather) return SendData(bytes, size);
    pending_.insert(pending_.end(), bytes, bytes + size);
    return true;
  }

  bool EndDocument() override {
    if (job_ == 0) return false;
    const int job = job_;
    job_ = 0;
    // Bytes not yet sent must reach the server before the document is complete.
    if (!Flush()) {
      document_.Close();
      CancelJob(job);
      return false;
    }
    document_.Arm(spooler_.Timeouts.DataSeconds, &stop_);
    const ipp_status_t status = cupsFinishDocument(document_.Get(), name_.c_str());
    document_.Close();
    if (status > IPP_STATUS_OK_EVENTS_COMPLETE) {
      CancelJob(job);
      return false;
    }
    return true;
  }

  void AbortDocument() override {
    pending_.clear();
    if (job_ == 0) return;
    const int job = job_;
    job_ = 0;
    // The document's request is cut off; the job it made is then cancelled.
    document_.Close();
    CancelJob(job);
  }

  SpoolStatus GetJob(int jobId, SpoolJobData& job) override {
    if (!EnsureQueries()) return SpoolStatus::Unreachable;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/jobs/%d", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    static const char* const kJob[] = {"job-id", "job-state"};
    AskFor(request, kJob, static_cast<int>(std::size(kJob)));
    SpoolStatus status;
    IppPtr answer = SendQuery(request, status);
    if (status != SpoolStatus::Ok) return status;
    ipp_attribute_t* id = ippFindAttribute(answer.get(), "job-id", IPP_TAG_INTEGER);
    ipp_attribute_t* state = ippFindAttribute(answer.get(), "job-state", IPP_TAG_ENUM);
    if (!id || !state) return SpoolStatus::Failed;
    job.JobId = ippGetInteger(id, 0);
    job.State = ippGetInteger(state, 0);
    job.Status = JobStatusOfState(job.State);
    return SpoolStatus::Ok;
  }

  bool CancelJob(int jobId) override {
    // One limit for the whole request, connection included, and no stop check: the cancel is
    // what a stopped transfer still has to do.
    const Clock::time_point deadline = After(spooler_.Timeouts.CancelSeconds);
    if (!queries_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (!queries_.Open(std::min(spooler_.Timeouts.ConnectMs, static_cast<int>(left.count())))) {
        return false;
      }
    }
    queries_.Arm(deadline);
    const ipp_status_t status = cupsCancelJob2(queries_.Get(), name_.c_str(), jobId, 0);
    if (status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL) {
      queries_.Close();  // a broken connection is made anew next time
    }
    // A job that has already ended cannot be cancelled, and need not be.
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE || status == IPP_STATUS_ERROR_NOT_POSSIBLE;
  }

 private:
  static constexpr std::size_t kGather = 64 * 1024;

  bool SendData(const char* bytes, std::size_t size) {
    document_.Arm(spooler_.Timeouts.DataSeconds, &stop_);
    return cupsWriteRequestData(document_.Get(), bytes, size) == HTTP_STATUS_CONTINUE;
  }
  bool Flush() {
    const bool sent = pending_.empty() || SendData(pending_.data(), pending_.size());
    pending_.clear();
    return sent;
  }

  bool EnsureQueries() { return queries_ || queries_.Open(spooler_.Timeouts.ConnectMs); }

  IppPtr SendQuery(ipp_t* request, SpoolStatus& status) {
    queries_.Arm(spooler_.Timeouts.AnswerSeconds, &stop_);
    IppPtr answer = Send(queries_.Get(), request, status);
    if (status == SpoolStatus::Unreachable) queries_.Close();
    return answer;
  }

  IppPtr Ask(const std::string& queue, const char* const* names, std::size_t count,
             SpoolStatus& status) {
    const std::string uri = PrinterUri(queue);
    if (uri.empty()) {
      status = SpoolStatus::NotFound;
      return nullptr;
    }
    if (!EnsureQueries()) {
      status = SpoolStatus::Unreachable;
      return nullptr;
    }
    ipp_t* request = PrinterRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri);
    AskFor(request, names, static_cast<int>(count));
    return SendQuery(request, status);
  }

  CupsSpooler::Impl& spooler_;
  std::string name_;
  std::optional<SpoolPrinterData> snapshotData_;
  std::function<bool()> stop_;
  Connection queries_;
  Connection document_;
  int job_ = 0;                // the job whose document is open
  std::vector<char> pending_;  // written, not yet sent
};

}  // namespace

std::unique_ptr<ISpoolPrinter> OpenCupsPrinter(CupsSpooler::Impl& spooler, std::string name,
                                               std::optional<SpoolPrinterData> snapshotData) {
  return std::make_unique<CupsPrinter>(spooler, std::move(name), std::move(snapshotData));
}

}  // namespace platform
