#pragma once

#include "common/codes.h"
#include "printers/accesslib.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// An access library whose FTP printers a test describes, and which records the uploads it is
// asked for. In use (AccessLibrary()) while it lives.
class FakeAccessLibrary : public IAccessLibrary {
 public:
  FakeAccessLibrary() { SetAccessLibrary(this); }
  ~FakeAccessLibrary() override { SetAccessLibrary(nullptr); }
  FakeAccessLibrary(const FakeAccessLibrary&) = delete;
  FakeAccessLibrary& operator=(const FakeAccessLibrary&) = delete;

  // ---- identity and the network printer dialog ----
  struct Answer {
    bool Ok = false;
    std::string Model;
    std::string Version;
    std::uint32_t LastError = 0;
  };
  std::map<std::string, Answer> Hosts;  // host -> answer; any other host does not answer
  std::vector<std::string> Asked;       // every host asked, as given
  std::string NetworkChoice;            // what the network printer dialog hands back; empty: cancel

  // ---- uploads ----
  std::uint32_t Code = accesscode::kSendFailed;  // what an upload returns
  // Notifications sent during the upload; the answers are kept.
  std::vector<std::pair<int, std::uint64_t>> Send = {{4, 0}, {5, 0}, {6, 0}, {6, 72}};
  std::function<void()> DuringUpload;
  int Calls = 0;
  std::string Host;
  std::string Directory;
  std::string FileBytes;  // the download file as it was during the call
  std::vector<int> Answers;

  int SelectNetworkPrinter(void* owner, std::string& target) override;
  bool GetFtpPrinterInfo(const std::string& host, std::string& model, std::string& version,
                         std::uint32_t& lastError) override;
  std::uint32_t SendFileToFtpPrinter(FwlNotifyProc notify, void* context, const std::string& host,
                                     const std::string& directory,
                                     const std::string& path) override;
};

}  // namespace testsupport
