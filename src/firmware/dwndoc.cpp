// Opening a firmware file: unpacking it into the program's temporary folder, then reading its
// header (dwndoc_header.cpp) and its data (dwndoc_data.cpp).
#include "firmware/dwndoc.h"

#include "common/codes.h"
#include "common/strings.h"
#include "firmware/packages.h"
#include "platform/fileops.h"
#include "platform/paths.h"
#include "platform/tempfiles.h"
#include "platform/text.h"

namespace {

// Followed by the name of the cabinet tool that is missing.
constexpr int kMsgCabinetToolMissing = 4362;

// Icon files beside the header go to the data folder, where the printer list finds them; an icon
// of the same name in another letter case is replaced rather than doubled.
void CopyIcons(const std::filesystem::path& workDir) {
  const std::filesystem::path dataDir = platform::DataDir();
  std::error_code ec;
  bool madeDir = false;
  for (auto it = std::filesystem::directory_iterator(workDir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 4 ||
        !text::EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".ico"))
      continue;
    std::error_code statusError;
    if (!std::filesystem::is_regular_file(it->symlink_status(statusError))) continue;
    if (!madeDir) {
      std::error_code dirError;
      std::filesystem::create_directories(dataDir, dirError);
      madeDir = true;
    }
    std::filesystem::path target = platform::FindEntryNoCase(dataDir, name);
    if (target.empty()) target = dataDir / name;
    platform::CopyFileOver(it->path(), target);
  }
}

}  // namespace

TDownDocFile::TDownDocFile(const std::string& path) : FFileName(path) {
  if (!path.empty()) Open(path);
}

TDownDocFile::~TDownDocFile() = default;

bool TDownDocFile::Open(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  if (path.empty() || ec) {
    FError = rc::kFileOpen;
    return false;
  }
  // Only a regular file is a firmware file: a FIFO or a device would hold the program (or feed it
  // without end), a folder has nothing to unpack.
  if (!std::filesystem::is_regular_file(full, ec)) {
    FError = rc::kFileOpen;
    return false;
  }
  const auto tempName = MakeTempFileName("dwn");
  if (!tempName) {
    FError = rc::kTempFile;
    return false;
  }
  // The name is reserved; the expansion or the extraction folder takes its place.
  DeleteTemp(*tempName);
  if (!Unpack(full, *tempName)) {
    if (FError == 0) FError = rc::kTempFile;
    DeleteTemp(*tempName);
    return false;
  }
  const bool loaded = LoadData();
  // A file that failed to open leaves nothing behind, its icons included.
  if (loaded) CopyIcons(FWorkDir);
  DeleteTemp(*tempName);
  return loaded;
}

bool TDownDocFile::Unpack(const std::filesystem::path& fullPath,
                          const std::filesystem::path& tempName) {
  const std::string name = fullPath.filename().string();
  const std::size_t dot = name.rfind('.');
  const std::string extension =
      dot == std::string::npos ? std::string() : text::ToUpperAscii(name.substr(dot));

  std::filesystem::path headerPath;
  bool unpacked = false;
  if (extension == ".FWV") {
    if (!ExtractCabinet(fullPath, tempName)) {
      // Name the program to install, rather than take the package for an unknown file.
      FError = rc::kFileOpen;
      FErrorFile = std::string(strings::Load(kMsgCabinetToolMissing)) + CabinetTool().Program;
      return false;
    }
    // Found whatever its letter case in the package.
    headerPath = platform::FindEntryNoCase(tempName, "HEADER.FWB");
    if (headerPath.empty()) headerPath = tempName / "HEADER.FWB";
    unpacked = true;
  } else {
    unpacked = ExpandFile(fullPath, tempName, FError);
    if (!unpacked) FError = rc::kTempFile;
    headerPath = tempName;
  }
  FWorkDir = headerPath.parent_path().string() + "/";
  if (!unpacked) return false;
  return ReadHeader(headerPath);
}
