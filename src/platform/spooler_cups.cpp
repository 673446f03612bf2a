// The spooler over libcups: the server's printers, opened one by one or from one snapshot of
// them all.
#include "platform/spooler_cups_ipp.h"

#include <atomic>

namespace platform {

using namespace cupsipp;

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

std::unique_ptr<ISpoolPrinter> CupsSpooler::OpenPrinter(const std::string& name, SpoolStatus* why) {
  SpoolStatus status = SpoolStatus::Ok;
  std::unique_ptr<ISpoolPrinter> printer;
  if (const Impl::Snapshot* s = impl_->Current()) {
    if (s->Status != SpoolStatus::Ok) {
      status = s->Status;
    } else if (const QueueAttributes* q = impl_->Find(*s, name)) {
      std::optional<SpoolPrinterData> data = impl_->DataFromSnapshot(*s, *q);
      if (data)
        printer = OpenCupsPrinter(*impl_, name, std::move(data));
      else
        status = SpoolStatus::Failed;
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
        printer = OpenCupsPrinter(*impl_, name, std::nullopt);
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
