#pragma once

// The pieces of the spooler over libcups that its files share: the connection with its waits,
// IPP requests and answers, the queue attributes, and the spooler's own state.
#include "platform/spooler_cups.h"
#include "platform/text.h"

#include <cups/cups.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

namespace cupsipp {

// The queue attributes the data is made of.
inline const char* const kQueueAttributes[] = {
    "printer-name",     "printer-type", "device-uri",  "printer-make-and-model",
    "printer-location", "printer-info", "member-names"};

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

// When the waits of the current call end: at its deadline, or as soon as its stop check says so.
struct WaitLimit {
  Clock::time_point Deadline = Clock::time_point::max();
  const std::function<bool()>* Stop = nullptr;
};

inline Clock::time_point After(double seconds) {
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

  bool Open(int connectMs);
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

std::string PrinterUri(const std::string& name);

// Sends a request; the answer (nullptr when none came) and what it means.
IppPtr Send(http_t* http, ipp_t* request, SpoolStatus& status);

// A request about the printer at `uri`, made by the current user.
ipp_t* PrinterRequest(ipp_op_t op, const std::string& uri);

void AskFor(ipp_t* request, const char* const* names, int count);

std::string StringOf(ipp_attribute_t* attr, int index = 0);

// Every printer group of an answer, in the answer's order.
std::vector<QueueAttributes> QueuesOf(ipp_t* response);

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

inline std::string FoldName(std::string_view name) { return text::ToLowerAscii(name); }

}  // namespace cupsipp

struct CupsSpooler::Impl {
  using QueueAttributes = cupsipp::QueueAttributes;

  CupsTimeouts Timeouts;

  struct Snapshot {
    std::thread::id Owner;
    int Depth = 0;
    SpoolStatus Status = SpoolStatus::Ok;
    std::vector<QueueAttributes> Queues;                 // the server's order
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
    const auto it = s.Index.find(cupsipp::FoldName(name));
    return it == s.Index.end() ? nullptr : &s.Queues[it->second];
  }

  std::optional<SpoolPrinterData> DataFromSnapshot(const Snapshot& s, const QueueAttributes& q) {
    return cupsipp::DataOf(q, [&](const std::string& member) -> std::optional<std::string> {
      const QueueAttributes* m = Find(s, member);
      return m ? PortTextOfDeviceUri(m->DeviceUri) : std::string();
    });
  }
};

// A printer handle; `snapshotData`, when given, is its data as the snapshot had it.
std::unique_ptr<ISpoolPrinter> OpenCupsPrinter(CupsSpooler::Impl& spooler, std::string name,
                                               std::optional<SpoolPrinterData> snapshotData);

}  // namespace platform
