// GetFtpPrinterInfo: a printer's model and firmware version, asked over IPP.
#include "access/accesssettings.h"
#include "access/fwloadaccess.h"
#include "access/lasterror.h"
#include "common/codes.h"
#include "common/ftpaddress.h"
#include "platform/text.h"

#include <cups/cups.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

// The printer did not answer, or answered with an error, or no host could be read.
constexpr std::uint32_t kNotReached = 0x20000002;

constexpr int kConnectMs = 5000;
constexpr double kAnswerSeconds = 10.0;

int GiveUp(http_t* /*http*/, void* /*data*/) { return 0; }

// The first value of a text attribute, empty when absent.
std::string TextOf(ipp_t* response, const char* name) {
  ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO);
  if (!attr || ippGetCount(attr) < 1) return std::string();
  if (const char* s = ippGetString(attr, 0, nullptr)) return s;
  int length = 0;
  if (const void* bytes = ippGetOctetString(attr, 0, &length); bytes && length > 0) {
    return std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(length));
  }
  return std::string();
}

// A field of the record: at most 39 bytes in the printers' code page, zero-terminated.
void PutField(char* field, const std::string& value) {
  std::string cut = text::CutCp932(value, FWL_INFO_FIELD_SIZE - 1);
  // A UTF-8 text may take more bytes than its code page 932 length: cut those too, whole.
  while (cut.size() > FWL_INFO_FIELD_SIZE - 1) {
    std::size_t end = cut.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(cut[end]) & 0xC0) == 0x80) --end;
    cut.resize(end);
  }
  std::memcpy(field, cut.data(), cut.size());
  field[cut.size()] = '\0';
}

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};

// Where and how a printer answers IPP.
struct Endpoint {
  std::string Scheme = "ipp";
  std::string Host;
  int Port = 631;
  std::string Resource;
  http_encryption_t Encryption = HTTP_ENCRYPTION_IF_REQUESTED;
};

// The printer behind a device URI: "ipp://" and "ipps://" name it; "socket://host[:port]" is a
// printer answering IPP on the settings' port and path. Any other address is an FTP printer's, as
// typed. nullopt when no host can be read from it.
std::optional<Endpoint> EndpointOf(std::string_view given, const fwlaccess::Settings& settings) {
  Endpoint e;
  const bool ipp = given.starts_with("ipp://");
  const bool ipps = given.starts_with("ipps://");
  if (ipp || ipps || given.starts_with("socket://")) {
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    const std::string uri(given);
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
        host[0] == '\0') {
      return std::nullopt;
    }
    e.Host = host;
    if (ipp || ipps) {
      e.Scheme = scheme;
      e.Port = port;
      e.Resource = resource;
      if (ipps) e.Encryption = HTTP_ENCRYPTION_ALWAYS;
    } else {
      e.Port = settings.IppPort;
      e.Resource = settings.IppPath;
    }
    return e;
  }
  // A directory after the host does not matter here.
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseCommandLine(given);
  if (!parsed.HostOk()) return std::nullopt;
  e.Host = parsed.Address.Host;
  e.Port = settings.IppPort;
  e.Resource = settings.IppPath;
  return e;
}

}  // namespace

extern "C" FWL_API int GetFtpPrinterInfo(const char* host, char* record) {
  if (!record) {
    fwlaccess::SetLastError(kNotReached);
    return 0;
  }
  std::memset(record, 0, FWL_INFO_RECORD_SIZE);
  const std::string_view given = host ? std::string_view(host) : std::string_view();
  // The printer answers IPP on the port and path of the library's own settings; a port in an
  // FTP address is the FTP port.
  const std::optional<Endpoint> endpoint = EndpointOf(given, fwlaccess::LoadSettings({}));
  if (!endpoint) {
    fwlaccess::SetLastError(kNotReached);
    return 0;
  }
  // Either address family; CUPS's own header brings its name on every system it runs on.
  std::unique_ptr<http_t, HttpCloser> http(httpConnect2(endpoint->Host.c_str(), endpoint->Port,
                                                        nullptr, AF_UNSPEC, endpoint->Encryption, 1,
                                                        kConnectMs, nullptr));
  if (!http) {
    fwlaccess::SetLastError(kNotReached);
    return 0;
  }
  httpSetTimeout(http.get(), kAnswerSeconds, GiveUp, nullptr);

  char uri[HTTP_MAX_URI];
  if (httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, endpoint->Scheme.c_str(), nullptr,
                      endpoint->Host.c_str(), endpoint->Port,
                      endpoint->Resource.c_str()) != HTTP_URI_STATUS_OK) {
    fwlaccess::SetLastError(kNotReached);
    return 0;
  }
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  static const char* const kWanted[] = {"printer-make-and-model",
                                        "printer-firmware-string-version"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(std::size(kWanted)), nullptr, kWanted);
  std::unique_ptr<ipp_t, IppDeleter> response(
      cupsDoRequest(http.get(), request, endpoint->Resource.c_str()));
  if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    fwlaccess::SetLastError(kNotReached);
    return 0;
  }

  const std::string model(text::Trim(TextOf(response.get(), "printer-make-and-model")));
  if (model.empty()) {
    fwlaccess::SetLastError(accesscode::kModelUnknown);
    return 0;
  }
  PutField(record, model);
  PutField(record + FWL_INFO_FIELD_SIZE, TextOf(response.get(), "printer-firmware-string-version"));
  fwlaccess::SetLastError(0);
  return 1;
}
