// Sending a download file to an FTP printer.
#include "access/accesssettings.h"
#include "access/fwloadaccess.h"
#include "access/lasterror.h"
#include "common/codes.h"
#include "common/ftpaddress.h"
#include "platform/fileio.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Without progress the receiver still hears from the transfer this often, so that an abort is
// seen while the printer is silent.
constexpr auto kHeartbeat = std::chrono::milliseconds(500);
// Removing a partial file never holds the caller for long: an abort (a close signal among them)
// must end within seconds even when the printer has stopped answering.
constexpr long kCleanupSeconds = 3;
// Larger blocks than curl's default keep the per-block overhead out of a fast local network.
constexpr long kUploadBufferSize = 512 * 1024;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool HasControl(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The authority part of the URL ("name", "name:port", "[v6]:port") of a host given with or
// without "ftp://" and a trailing "/". Nothing when no host can be read or a directory comes with
// it (the directory has an argument of its own).
std::optional<std::string> Authority(std::string_view host) {
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseAddressField(host);
  if (!parsed.Ok()) return std::nullopt;
  return parsed.Address.Authority();
}

// The directory's names, without empty parts: "ketora0", "a/b".
std::vector<std::string> DirectoryParts(std::string_view directory) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= directory.size()) {
    const auto end = std::min(directory.find('/', start), directory.size());
    if (end > start) parts.emplace_back(directory.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

class Upload {
 public:
  Upload(FwlNotifyProc notify, void* context, std::int64_t size, long stallSeconds)
      : notify_(notify),
        context_(context),
        size_(size),
        stallLimit_(std::chrono::seconds(stallSeconds)) {}

  // Tells the receiver; true when it answers that the user has asked to abort.
  bool Notify(int notification, std::uint64_t value) {
    last_ = Clock::now();
    if (!notify_) return false;
    if (notify_(context_, notification, value) == 1) aborted_ = true;
    return aborted_;
  }

  // Progress of the transfer (also called while connecting): one update per percent step, and a
  // heartbeat while nothing moves.
  bool Progress(std::uint64_t sent) {
    if (aborted_ || stalled_) return true;
    const auto now = Clock::now();
    const bool due = now - last_ >= kHeartbeat;
    if (!sending_) return due ? Notify(FWL_NOTIFY_CONNECTING, 0) : false;
    // curl's own low-speed check averages over several seconds and so fires late; the limit
    // counts from the last byte that moved.
    if (sent != moved_) {
      moved_ = sent;
      movedAt_ = now;
    } else if (stallLimit_.count() > 0 && now - movedAt_ >= stallLimit_) {
      stalled_ = true;
      return true;
    }
    const int percent =
        size_ > 0 ? static_cast<int>(sent * 100 / static_cast<std::uint64_t>(size_)) : 100;
    if (percent == lastPercent_ && !due) return false;
    lastPercent_ = percent;
    lastSent_ = sent;
    return Notify(FWL_NOTIFY_PROGRESS, sent);
  }

  // The first block is asked for once the printer has accepted the file: the download begins.
  std::size_t Read(char* buffer, std::size_t size) {
    if (!sending_) {
      sending_ = true;
      movedAt_ = Clock::now();
      if (Notify(FWL_NOTIFY_DOWNLOADING, 0)) return CURL_READFUNC_ABORT;
    }
    const std::size_t n = std::fread(buffer, 1, size, file_);
    if (n == 0 && std::ferror(file_)) {
      readFailed_ = true;
      return CURL_READFUNC_ABORT;
    }
    return n;
  }

  void Finished() {
    if (lastSent_ != static_cast<std::uint64_t>(size_)) Notify(FWL_NOTIFY_PROGRESS, size_);
  }

  std::FILE* file_ = nullptr;
  bool storeSent_ = false;  // the printer was asked to store the file: a partial one may exist
  bool aborted_ = false;
  bool readFailed_ = false;
  bool stalled_ = false;

 private:
  FwlNotifyProc notify_;
  void* context_;
  std::int64_t size_;
  bool sending_ = false;
  int lastPercent_ = -1;
  std::uint64_t lastSent_ = ~std::uint64_t{0};
  Clock::time_point last_ = Clock::now();
  std::chrono::seconds stallLimit_;
  std::uint64_t moved_ = 0;
  Clock::time_point movedAt_ = Clock::now();
};

std::size_t ReadCallback(char* buffer, std::size_t size, std::size_t count, void* user) {
  return static_cast<Upload*>(user)->Read(buffer, size * count);
}

int ProgressCallback(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
  return static_cast<Upload*>(user)->Progress(static_cast<std::uint64_t>(ulnow)) ? 1 : 0;
}

// Watches the commands sent to learn whether the printer was asked to store the file.
int DebugCallback(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  if (type == CURLINFO_HEADER_OUT && size >= 5 && std::memcmp(data, "STOR ", 5) == 0) {
    static_cast<Upload*>(user)->storeSent_ = true;
  }
  return 0;
}

void CommonOptions(CURL* curl, long stallSeconds) {
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  // Passive mode: the printer never has to reach back through a firewall.
  curl_easy_setopt(curl, CURLOPT_FTPPORT, static_cast<char*>(nullptr));
  curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
  if (stallSeconds > 0) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
  }
}

// libcurl leaves what arrived of an interrupted upload on the server; the printer must never
// keep part of its firmware as if it were a file to use.
void DeletePartialFile(const std::string& authority, const std::string& remotePath,
                       long stallSeconds) {
  CURL* curl = curl_easy_init();
  if (!curl) return;
  const long limit =
      stallSeconds > 0 && stallSeconds < kCleanupSeconds ? stallSeconds : kCleanupSeconds;
  CommonOptions(curl, limit);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, limit);
  std::string url = "ftp://";
  url += authority;
  url += '/';
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  // Sent after the login, before any directory change: the path is relative to the login.
  std::string command = "DELE ";
  command += remotePath;
  curl_slist* commands = curl_slist_append(nullptr, command.c_str());
  curl_easy_setopt(curl, CURLOPT_QUOTE, commands);
  curl_easy_perform(curl);
  curl_slist_free_all(commands);
  curl_easy_cleanup(curl);
}

std::uint32_t Send(FwlNotifyProc notify, void* context, const char* host, const char* directory,
                   const char* path) {
  const auto authority = Authority(host ? host : "");
  if (!authority) return accesscode::kSendFailed;
  const std::string dir = ftpaddress::NormalDirectory(directory ? directory : "");
  // Without a directory the file would land in the login directory, which is no place for it.
  if (ftpaddress::CheckDirectory(dir) != ftpaddress::AddressError::None) {
    return accesscode::kDirectory;
  }
  if (!path || !*path) return accesscode::kTempFile;
  const std::string fileName = std::filesystem::path(path).filename().string();
  if (fileName.empty() || HasControl(fileName)) return accesscode::kTempFile;

  // ("e": closed on exec.)
  std::FILE* file = std::fopen(path, "rbe");
  if (!file) return accesscode::kTempFile;
  const auto size = platform::RegularFileSize(file);
  if (!size) {
    std::fclose(file);
    return accesscode::kTempFile;
  }

  const auto settings = fwlaccess::LoadSettings(std::filesystem::path());
  const long stallSeconds = settings.StallSeconds;
  Upload upload(notify, context, static_cast<std::int64_t>(*size), stallSeconds);
  upload.file_ = file;

  // (Appends rather than operator+ on literals, which GCC 12 warns about wrongly at -O3.)
  std::string url = "ftp://";
  url += *authority;
  std::string remotePath;
  for (const auto& part : DirectoryParts(dir)) {
    url += '/';
    url += PercentEncode(part);
    remotePath += part;
    remotePath += '/';
  }
  url += '/';
  url += PercentEncode(fileName);
  remotePath += fileName;

  if (upload.Notify(FWL_NOTIFY_CONNECTING, 0)) {
    std::fclose(file);
    return accesscode::kAborted;
  }

  GlobalInit();
  CURL* curl = curl_easy_init();
  if (!curl) {
    std::fclose(file);
    return accesscode::kSendFailed;
  }
  CommonOptions(curl, stallSeconds);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(*size));
  curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadCallback);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &upload);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, DebugCallback);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &upload);

  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  std::fclose(file);

  std::uint32_t code;
  if (result == CURLE_OK) {
    upload.Finished();
    return accesscode::kSuccess;
  }
  if (upload.aborted_) {
    code = accesscode::kAborted;
  } else if (result == CURLE_REMOTE_ACCESS_DENIED) {
    code = accesscode::kDirectory;
  } else if (upload.readFailed_) {
    code = accesscode::kTempFile;
  } else {
    code = accesscode::kSendFailed;
  }
  if (upload.storeSent_) DeletePartialFile(*authority, remotePath, stallSeconds);
  return code;
}

}  // namespace

extern "C" uint32_t SendFileToFtpPrinter(FwlNotifyProc notify, void* context, const char* host,
                                         const char* directory, const char* path) {
  const std::uint32_t code = Send(notify, context, host, directory, path);
  fwlaccess::SetLastError(code);
  return code;
}
