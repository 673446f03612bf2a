#include "printers/accesslib.h"

#include "common/codes.h"
#include "platform/library.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

using SelectFn = int (*)(void*, char*, uint32_t, uint32_t*);
using InfoFn = int (*)(const char*, char*);
using SendFn = uint32_t (*)(FwlNotifyProc, void*, const char*, const char*, const char*);
using LastErrorFn = uint32_t (*)();

// A field of the information record: at most 40 bytes, up to its first zero.
std::string RecordField(const char* field) {
  return std::string(field, strnlen(field, FWL_INFO_FIELD_SIZE));
}

class LoadedLibrary : public IAccessLibrary {
 public:
  bool Load(const std::filesystem::path& file) {
    if (!library_.Load(file)) return false;
    // Each operation is looked up on its own: a library without one still serves the others.
    select_ = reinterpret_cast<SelectFn>(library_.Symbol("SelectNetworkPrinter"));
    info_ = reinterpret_cast<InfoFn>(library_.Symbol("GetFtpPrinterInfo"));
    send_ = reinterpret_cast<SendFn>(library_.Symbol("SendFileToFtpPrinter"));
    lastError_ = reinterpret_cast<LastErrorFn>(library_.Symbol("FwlGetLastError"));
    if (!lastError_) info_ = nullptr;  // a failure could not be told apart
    return true;
  }

  int SelectNetworkPrinter(void* owner, std::string& target) override {
    if (!select_) return 0;
    std::vector<char> buffer(260, '\0');
    uint32_t reserved = 0;
    const int chosen =
        select_(owner, buffer.data(), static_cast<uint32_t>(buffer.size()), &reserved);
    if (chosen) target.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
    return chosen;
  }

  bool GetFtpPrinterInfo(const std::string& host, std::string& model, std::string& version,
                         std::uint32_t& lastError) override {
    if (!info_) {
      lastError = accesscode::kSendFailed;
      return false;
    }
    char record[FWL_INFO_RECORD_SIZE] = {};
    if (!info_(host.c_str(), record)) {
      lastError = lastError_();
      return false;
    }
    model = RecordField(record);
    version = RecordField(record + FWL_INFO_FIELD_SIZE);
    lastError = 0;
    return true;
  }

  std::uint32_t SendFileToFtpPrinter(FwlNotifyProc notify, void* context, const std::string& host,
                                     const std::string& directory,
                                     const std::string& path) override {
    if (!send_) return accesscode::kSendFailed;
    return send_(notify, context, host.c_str(), directory.c_str(), path.c_str());
  }

 private:
  platform::Library library_;
  SelectFn select_ = nullptr;
  InfoFn info_ = nullptr;
  SendFn send_ = nullptr;
  LastErrorFn lastError_ = nullptr;
};

LoadedLibrary loaded;
std::atomic<IAccessLibrary*> replacement{nullptr};

}  // namespace

IAccessLibrary& AccessLibrary() {
  IAccessLibrary* r = replacement.load();
  return r ? *r : loaded;
}

void SetAccessLibrary(IAccessLibrary* library) { replacement.store(library); }

bool LoadAccessLibrary(const std::filesystem::path& file) { return loaded.Load(file); }
