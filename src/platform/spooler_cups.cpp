#include "platform/spooler_cups.h"

#include "platform/text.h"

#include <cups/cups.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <functional>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unordered_map>

namespace platform {

namespace {

// The queue attributes the data is made of.
const char* const kQueueAttributes[] = {"printer-name",     "printer-type",
                                        "device-uri",       "printer-make-and-model",
                                        "printer-location", "printer-info",
                                        "member-names"};

// A queue as one answer of the server describes it.
struct QueueAttributes {
  std::string Name;
  int Type = 0;
  std::string DeviceUri;
  std::string MakeAndModel;
  std::string Location;
  std::string Info;
  std::vector<std::string> Members;
  bool IsClass() const { return (Type & CUPS_PRINTER_CLASS) != 0; }
};

using Clock = std::chrono::steady_clock;

// libcups asks the connection's timeout callback after each tick that a wait (for room to write,
// for an answer) went by without progress: whether to go on waiting.
constexpr double kTickSeconds = 0.1;

// When the waits of the current call end: at its deadline, or as soon as its stop check says so.
struct WaitLimit {
  Clock::time_point Deadline = Clock::time_point::max();
  const std::function<bool()>* Stop = nullptr;
};

int KeepWaiting(http_t* /*http*/, void* data) {
  const auto* limit = static_cast<const WaitLimit*>(data);
  if (limit->Stop && *limit->Stop && (*limit->Stop)()) return 0;
  return Clock::now() < limit->Deadline ? 1 : 0;
}

Clock::time_point After(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// A connection to the server, closed with the object. Each call on it is given its time (and, if
// it may be stopped, its stop check) with Arm first.
class Connection {
 public:
  Connection() = default;
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Open(int connectMs) {
    Close();
    if (connectMs <= 0) return false;
    // CUPS_SERVER is read afresh: the server may be changed while the program runs.
    cupsSetServer(nullptr);
    const char* server = cupsServer();
    http_ = httpConnect2(server, ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, connectMs,
                         nullptr);
    if (http_) httpSetTimeout(http_, kTickSeconds, KeepWaiting, &limit_);
    return http_ != nullptr;
  }
  void Arm(Clock::time_point deadline, const std::function<bool()>* stop = nullptr) {
    limit_.Deadline = deadline;
    limit_.Stop = stop;
  }
  void Arm(double seconds, const std::function<bool()>* stop = nullptr) {
    Arm(After(seconds), stop);
  }
  void Close() {
    if (http_) httpClose(http_);
    http_ = nullptr;
  }
  http_t* Get() const { return http_; }
  explicit operator bool() const { return http_ != nullptr; }

 private:
  http_t* http_ = nullptr;
  WaitLimit limit_;  // libcups holds its address
};

// Owns an IPP message.
struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

std::string PrinterUri(const std::string& name) {
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                       ippPort(), "/printers/%s", name.c_str()) != HTTP_URI_STATUS_OK) {
    return std::string();
  }
  return uri;
}

// Sends a request; the answer (nullptr when none came) and what it means.
IppPtr Send(http_t* http, ipp_t* request, SpoolStatus& status) {
  IppPtr response(cupsDoRequest(http, request, "/"));
  const ipp_status_t ipp = cupsLastError();
  if (!response) {
    status = ipp == IPP_STATUS_ERROR_NOT_FOUND ? SpoolStatus::NotFound : SpoolStatus::Unreachable;
  } else if (ipp == IPP_STATUS_ERROR_NOT_FOUND) {
    status = SpoolStatus::NotFound;
  } else if (ipp > IPP_STATUS_OK_EVENTS_COMPLETE) {
    status = ipp == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE ? SpoolStatus::Unreachable
                                                         : SpoolStatus::Failed;
  } else {
    status = SpoolStatus::Ok;
  }
  return response;
}

ipp_t* PrinterRequest(ipp_op_t op, const std::string& uri) {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

void AskFor(ipp_t* request, const char* const* names, int count) {
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", count,
                nullptr, names);
}

std::string StringOf(ipp_attribute_t* attr, int index = 0) {
  const char* s = attr ? ippGetString(attr, index, nullptr) : nullptr;
  return s ? std::string(s) : std::string();
}

// Takes one attribute into the queue it describes.
void Take(QueueAttributes& q, ipp_attribute_t* attr) {
  const char* name = ippGetName(attr);
  if (!name) return;
  const std::string_view n(name);
  if (n == "printer-name") q.Name = StringOf(attr);
  else if (n == "printer-type") q.Type = ippGetInteger(attr, 0);
  else if (n == "device-uri") q.DeviceUri = StringOf(attr);
  else if (n == "printer-make-and-model") q.MakeAndModel = StringOf(attr);
  else if (n == "printer-location") q.Location = StringOf(attr);
  else if (n == "printer-info") q.Info = StringOf(attr);
  else if (n == "member-names") {
    q.Members.clear();
    for (int i = 0; i < ippGetCount(attr); ++i) q.Members.push_back(StringOf(attr, i));
  }
}

// Every printer group of an answer, in the answer's order.
std::vector<QueueAttributes> QueuesOf(ipp_t* response) {
  std::vector<QueueAttributes> queues;
  bool inGroup = false;
  for (ipp_attribute_t* attr = ippFirstAttribute(response); attr;
       attr = ippNextAttribute(response)) {
    if (ippGetGroupTag(attr) != IPP_TAG_PRINTER || !ippGetName(attr)) {
      inGroup = false;  // a separator or another group ends the printer's group
      continue;
    }
    if (!inGroup) {
      queues.emplace_back();
      inGroup = true;
    }
    Take(queues.back(), attr);
  }
  std::erase_if(queues, [](const QueueAttributes& q) { return q.Name.empty(); });
  return queues;
}

// The data of a queue; `portOfMember` gives a class member's port (nullopt: it cannot be had).
template <typename PortOfMember>
std::optional<SpoolPrinterData> DataOf(const QueueAttributes& q, PortOfMember portOfMember) {
  SpoolPrinterData data;
  data.Name = q.Name;
  // No row of the model table names "???", so such a queue is never an update target.
  data.Driver = q.MakeAndModel.empty() ? "???" : q.MakeAndModel;
  data.Location = q.Location;
  data.Comment = q.Info;
  data.IsClass = q.IsClass();
  if (data.IsClass) {
    for (const auto& member : q.Members) {
      std::optional<std::string> port = portOfMember(member);
      if (!port) return std::nullopt;
      if (port->empty()) continue;  // left the class meanwhile
      if (!data.Port.empty()) data.Port += ',';
      data.Port += *port;
    }
  } else {
    data.DeviceUri = q.DeviceUri;
    data.Port = PortTextOfDeviceUri(q.DeviceUri);
  }
  return data;
}

std::string FoldName(std::string_view name) { return text::ToLowerAscii(name); }

}  // namespace

std::string PortTextOfDeviceUri(std::string_view uri) {
  constexpr std::string_view kParallel = "parallel:/dev/lp";
  if (uri.substr(0, kParallel.size()) == kParallel && uri.size() > kParallel.size()) {
    const std::string_view digits = uri.substr(kParallel.size());
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec == std::errc() && end == digits.data() + digits.size() && n < 100000) {
      return "LPT" + std::to_string(n + 1) + ":";
    }
  }
  return std::string(uri);
}

std::uint32_t JobStatusOfState(int jobState) {
  switch (jobState) {
    case IPP_JSTATE_COMPLETED:
      return kJobStatusPrinted;
    case IPP_JSTATE_CANCELED:
    case IPP_JSTATE_ABORTED:
      return kJobStatusPrinted | kJobStatusError;
    default:
      return 0;
  }
}

// ---- snapshot ----

struct CupsSpooler::Impl {
  CupsTimeouts Timeouts;

  struct Snapshot {
    std::thread::id Owner;
    int Depth = 0;
    SpoolStatus Status = SpoolStatus::Ok;
    std::vector<QueueAttributes> Queues;              // the server's order
    std::unordered_map<std::string, std::size_t> Index;  // folded name -> queue
  };
  std::mutex Lock;
  Snapshot Snap;

  // The snapshot when the calling thread holds one.
  const Snapshot* Current() {
    std::lock_guard guard(Lock);
    return (Snap.Depth > 0 && Snap.Owner == std::this_thread::get_id()) ? &Snap : nullptr;
  }

  const QueueAttributes* Find(const Snapshot& s, const std::string& name) const {
    const auto it = s.Index.find(FoldName(name));
    return it == s.Index.end() ? nullptr : &s.Queues[it->second];
  }

  std::optional<SpoolPrinterData> DataFromSnapshot(const Snapshot& s, const QueueAttributes& q) {
    return DataOf(q, [&](const std::string& member) -> std::optional<std::string> {
      const QueueAttributes* m = Find(s, member);
      return m ? PortTextOfDeviceUri(m->DeviceUri) : std::string();
    });
  }
};

// ---- printer handle ----

namespace {

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
      return PortTextOfDeviceUri(
          StringOf(ippFindAttribute(m.get(), "device-uri", IPP_TAG_URI)));
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
  int job_ = 0;  // the job whose document is open
  std::vector<char> pending_;  // written, not yet sent
};

}  // namespace

// ---- spooler ----

CupsSpooler::CupsSpooler(CupsTimeouts timeouts) : impl_(std::make_unique<Impl>()) {
  impl_->Timeouts = timeouts;
}

CupsSpooler::~CupsSpooler() = default;

SpoolStatus CupsSpooler::EnumPrinters(std::vector<std::string>& names) {
  if (const Impl::Snapshot* s = impl_->Current()) {
    if (s->Status != SpoolStatus::Ok) return s->Status;
    for (const auto& q : s->Queues) names.push_back(q.Name);
    return SpoolStatus::Ok;
  }
  Connection http;
  if (!http.Open(impl_->Timeouts.ConnectMs)) return SpoolStatus::Unreachable;
  http.Arm(impl_->Timeouts.AnswerSeconds);
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(http.Get(), &dests);
  const ipp_status_t error = cupsLastError();
  std::vector<std::string> found;
  for (int i = 0; i < count; ++i) {
    // lpoptions instances (queue/instance) are settings of a queue, not printers.
    if (!dests[i].instance) found.emplace_back(dests[i].name);
  }
  cupsFreeDests(count, dests);
  if (count == 0 && error > IPP_STATUS_OK_EVENTS_COMPLETE && error != IPP_STATUS_ERROR_NOT_FOUND) {
    return error == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || error == IPP_STATUS_ERROR_INTERNAL
               ? SpoolStatus::Unreachable
               : SpoolStatus::Failed;
  }
  names.insert(names.end(), found.begin(), found.end());
  return SpoolStatus::Ok;
}

std::unique_ptr<ISpoolPrinter> CupsSpooler::OpenPrinter(const std::string& name,
                                                        SpoolStatus* why) {
  SpoolStatus status = SpoolStatus::Ok;
  std::unique_ptr<ISpoolPrinter> printer;
  if (const Impl::Snapshot* s = impl_->Current()) {
    if (s->Status != SpoolStatus::Ok) {
      status = s->Status;
    } else if (const QueueAttributes* q = impl_->Find(*s, name)) {
      std::optional<SpoolPrinterData> data = impl_->DataFromSnapshot(*s, *q);
      if (data) printer = std::make_unique<CupsPrinter>(*impl_, name, std::move(data));
      else status = SpoolStatus::Failed;
    } else {
      status = SpoolStatus::NotFound;
    }
  } else {
    const std::string uri = PrinterUri(name);
    Connection http;
    if (uri.empty()) {
      status = SpoolStatus::NotFound;
    } else if (!http.Open(impl_->Timeouts.ConnectMs)) {
      status = SpoolStatus::Unreachable;
    } else {
      http.Arm(impl_->Timeouts.AnswerSeconds);
      ipp_t* request = PrinterRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri);
      static const char* const kName[] = {"printer-name"};
      AskFor(request, kName, 1);
      IppPtr answer = Send(http.Get(), request, status);
      if (status == SpoolStatus::Ok) {
        printer = std::make_unique<CupsPrinter>(*impl_, name, std::nullopt);
      }
    }
  }
  if (why) *why = status;
  return printer;
}

void CupsSpooler::BeginSnapshot() {
  {
    std::lock_guard guard(impl_->Lock);
    Impl::Snapshot& s = impl_->Snap;
    if (s.Depth > 0) {
      if (s.Owner == std::this_thread::get_id()) ++s.Depth;
      return;  // another thread's rebuild: this one asks the server itself
    }
  }
  Impl::Snapshot fresh;
  fresh.Owner = std::this_thread::get_id();
  fresh.Depth = 1;
  Connection http;
  if (!http.Open(impl_->Timeouts.ConnectMs)) {
    fresh.Status = SpoolStatus::Unreachable;
  } else {
    http.Arm(impl_->Timeouts.AnswerSeconds);
    // One request brings every printer and class with everything the data is made of.
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    AskFor(request, kQueueAttributes, static_cast<int>(std::size(kQueueAttributes)));
    IppPtr answer = Send(http.Get(), request, fresh.Status);
    if (fresh.Status == SpoolStatus::NotFound) fresh.Status = SpoolStatus::Ok;  // no printers
    if (fresh.Status == SpoolStatus::Ok && answer) {
      fresh.Queues = QueuesOf(answer.get());
      for (std::size_t i = 0; i < fresh.Queues.size(); ++i) {
        fresh.Index.emplace(FoldName(fresh.Queues[i].Name), i);
      }
    }
  }
  std::lock_guard guard(impl_->Lock);
  if (impl_->Snap.Depth == 0) impl_->Snap = std::move(fresh);
}

void CupsSpooler::EndSnapshot() {
  std::lock_guard guard(impl_->Lock);
  Impl::Snapshot& s = impl_->Snap;
  if (s.Depth == 0 || s.Owner != std::this_thread::get_id()) return;
  if (--s.Depth == 0) s = Impl::Snapshot();
}

// ---- the spooler in use ----

namespace {
std::atomic<ISpooler*> replacement{nullptr};
}

ISpooler& Spooler() {
  static CupsSpooler cups;
  ISpooler* r = replacement.load();
  return r ? *r : cups;
}

void SetSpooler(ISpooler* spooler) { replacement.store(spooler); }

}  // namespace platform
