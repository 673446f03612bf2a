#include "printers/accesslib.h"

#include "common/codes.h"
#include "platform/library.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

// A field of the information record: at most 40 bytes, up to its first zero.
std::string RecordField(const char* field) {
  return std::string(field, strnlen(field, FWL_INFO_FIELD_SIZE));
}

class FunctionLibrary : public IAccessLibrary {
 public:
  FunctionLibrary() = default;
  explicit FunctionLibrary(const AccessFunctions& functions) { SetFunctions(functions); }

  void SetFunctions(AccessFunctions functions) {
    // A failure could not be told apart without the last error.
    if (!functions.LastError) functions.Info = nullptr;
    f_ = functions;
  }

  int SelectNetworkPrinter(void* owner, std::string& target) override {
    if (!f_.Select) return 0;
    std::vector<char> buffer(260, '\0');
    uint32_t reserved = 0;
    const int chosen =
        f_.Select(owner, buffer.data(), static_cast<uint32_t>(buffer.size()), &reserved);
    if (chosen) target.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
    return chosen;
  }

  bool GetFtpPrinterInfo(const std::string& host, std::string& model, std::string& version,
                         std::uint32_t& lastError) override {
    if (!f_.Info) {
      lastError = accesscode::kSendFailed;
      return false;
    }
    char record[FWL_INFO_RECORD_SIZE] = {};
    if (!f_.Info(host.c_str(), record)) {
      lastError = f_.LastError();
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
    if (!f_.Send) return accesscode::kSendFailed;
    return f_.Send(notify, context, host.c_str(), directory.c_str(), path.c_str());
  }

 private:
  AccessFunctions f_;
};

class LoadedLibrary : public FunctionLibrary {
 public:
  bool Load(const std::filesystem::path& file) {
    if (!library_.Load(file)) return false;
    // Each operation is looked up on its own: a library without one still serves the others.
    AccessFunctions f;
    f.Select = reinterpret_cast<decltype(f.Select)>(library_.Symbol("SelectNetworkPrinter"));
    f.Info = reinterpret_cast<decltype(f.Info)>(library_.Symbol("GetFtpPrinterInfo"));
    f.Send = reinterpret_cast<decltype(f.Send)>(library_.Symbol("SendFileToFtpPrinter"));
    f.LastError = reinterpret_cast<decltype(f.LastError)>(library_.Symbol("FwlGetLastError"));
    SetFunctions(f);
    return true;
  }

 private:
  platform::Library library_;
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

std::unique_ptr<IAccessLibrary> MakeAccessLibrary(const AccessFunctions& functions) {
  return std::make_unique<FunctionLibrary>(functions);
}
