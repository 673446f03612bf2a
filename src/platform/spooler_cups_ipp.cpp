// The connection to the print server, IPP requests and answers, and the texts the spooler makes
// of them.
#include "platform/spooler_cups_ipp.h"

#include <sys/socket.h>

#include <charconv>

namespace platform {

namespace cupsipp {

namespace {

// libcups asks the connection's timeout callback after each tick that a wait (for room to write,
// for an answer) went by without progress: whether to go on waiting.
constexpr double kTickSeconds = 0.1;

int KeepWaiting(http_t* /*http*/, void* data) {
  const auto* limit = static_cast<const WaitLimit*>(data);
  if (limit->Stop && *limit->Stop && (*limit->Stop)()) return 0;
  return Clock::now() < limit->Deadline ? 1 : 0;
}

// Takes one attribute into the queue it describes.
void Take(QueueAttributes& q, ipp_attribute_t* attr) {
  const char* name = ippGetName(attr);
  if (!name) return;
  const std::string_view n(name);
  if (n == "printer-name")
    q.Name = StringOf(attr);
  else if (n == "printer-type")
    q.Type = ippGetInteger(attr, 0);
  else if (n == "device-uri")
    q.DeviceUri = StringOf(attr);
  else if (n == "printer-make-and-model")
    q.MakeAndModel = StringOf(attr);
  else if (n == "printer-location")
    q.Location = StringOf(attr);
  else if (n == "printer-info")
    q.Info = StringOf(attr);
  else if (n == "member-names") {
    q.Members.clear();
    for (int i = 0; i < ippGetCount(attr); ++i) q.Members.push_back(StringOf(attr, i));
  }
}

}  // namespace

bool Connection::Open(int connectMs) {
  Close();
  if (connectMs <= 0) return false;
  // CUPS_SERVER is read afresh: the server may be changed while the program runs.
  cupsSetServer(nullptr);
  const char* server = cupsServer();
  http_ =
      httpConnect2(server, ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, connectMs, nullptr);
  if (http_) httpSetTimeout(http_, kTickSeconds, KeepWaiting, &limit_);
  return http_ != nullptr;
}

std::string PrinterUri(const std::string& name) {
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                       "/printers/%s", name.c_str()) != HTTP_URI_STATUS_OK) {
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
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", count, nullptr,
                names);
}

std::string StringOf(ipp_attribute_t* attr, int index) {
  const char* s = attr ? ippGetString(attr, index, nullptr) : nullptr;
  return s ? std::string(s) : std::string();
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

}  // namespace cupsipp

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

}  // namespace platform
