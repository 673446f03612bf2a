#include "cli/staticaccess.h"

#include <cstring>

namespace cli {

int StaticAccessLibrary::SelectNetworkPrinter(void*, std::string&) { return 0; }

bool StaticAccessLibrary::GetFtpPrinterInfo(const std::string& host, std::string& model,
                                            std::string& version, std::uint32_t& lastError) {
  char record[FWL_INFO_RECORD_SIZE] = {};
  if (!::GetFtpPrinterInfo(host.c_str(), record)) {
    lastError = ::FwlGetLastError();
    return false;
  }
  model.assign(record, strnlen(record, FWL_INFO_FIELD_SIZE));
  version.assign(record + FWL_INFO_FIELD_SIZE,
                 strnlen(record + FWL_INFO_FIELD_SIZE, FWL_INFO_FIELD_SIZE));
  lastError = 0;
  return true;
}

std::uint32_t StaticAccessLibrary::SendFileToFtpPrinter(FwlNotifyProc notify, void* context,
                                                        const std::string& host,
                                                        const std::string& directory,
                                                        const std::string& path) {
  return ::SendFileToFtpPrinter(notify, context, host.c_str(), directory.c_str(), path.c_str());
}

}  // namespace cli
