#include "support/fakeaccess.h"

#include "common/codes.h"
#include "support/tempenv.h"

namespace testsupport {

int FakeAccessLibrary::SelectNetworkPrinter(void*, std::string& target) {
  if (NetworkChoice.empty()) return 0;
  target = NetworkChoice;
  return 1;
}

bool FakeAccessLibrary::GetFtpPrinterInfo(const std::string& host, std::string& model,
                                          std::string& version, std::uint32_t& lastError) {
  Asked.push_back(host);
  const auto it = Hosts.find(host);
  if (it == Hosts.end()) {
    lastError = accesscode::kSendFailed;
    return false;
  }
  if (!it->second.Ok) {
    lastError = it->second.LastError;
    return false;
  }
  model = it->second.Model;
  version = it->second.Version;
  lastError = 0;
  return true;
}

std::uint32_t FakeAccessLibrary::SendFileToFtpPrinter(FwlNotifyProc notify, void* context,
                                                      const std::string& host,
                                                      const std::string& directory,
                                                      const std::string& path) {
  ++Calls;
  Host = host;
  Directory = directory;
  FileBytes = ReadFile(path);
  if (DuringUpload) DuringUpload();
  for (const auto& [n, v] : Send) Answers.push_back(notify(context, n, v));
  return Code;
}

}  // namespace testsupport
