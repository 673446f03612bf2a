#include "firmware/packages.h"

#include "common/codes.h"
#include "platform/cabinet.h"
#include "platform/fileops.h"
#include "platform/lzexpand.h"
#include "platform/process.h"

#include <mspack.h>

#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// One extraction at a time: the callback's target folder is one value for the process.
std::mutex extractionMutex;
std::string rememberedTarget;

// The parts of a member's name, made safe: empty and "." parts vanish, so leading separators are
// dropped and the name stays inside the target folder; a ".." part or a drive letter refuses the
// name (nullopt).
std::optional<std::vector<std::string>> SafeParts(std::string_view name) {
  std::vector<std::string> parts;
  for (const std::string_view part : platform::NameParts(name)) {
    if (part == "..") return std::nullopt;
    if (parts.empty() && part.size() >= 2 && part[1] == ':' &&
        ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'))) {
      return std::nullopt;
    }
    parts.emplace_back(part);
  }
  if (parts.empty()) return std::nullopt;
  return parts;
}

bool IsRealDirectory(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::symlink_status(p, ec).type() == std::filesystem::file_type::directory;
}

// The folder and file a member goes to. Parts that exist already in another letter case are
// reused, so that names differing only in case meet in one file (the later member wins) and in
// one folder; missing folders are created at any depth.
unsigned PlaceMember(TCabinetFileInfo& info) {
  const auto parts = SafeParts(info.NameInCabinet);
  if (!parts) return kCabinetSkip;
  std::filesystem::path current(rememberedTarget);
  std::error_code ec;
  if (!IsRealDirectory(current)) {
    if (std::filesystem::exists(std::filesystem::symlink_status(current, ec))) return kCabinetSkip;
    if (!std::filesystem::create_directories(current, ec) || ec) return kCabinetSkip;
  }
  for (std::size_t i = 0; i + 1 < parts->size(); ++i) {
    const std::filesystem::path entry = platform::FindEntryNoCase(current, (*parts)[i]);
    if (entry.empty()) {
      current /= (*parts)[i];
      if (!std::filesystem::create_directory(current, ec) || ec) return kCabinetSkip;
    } else if (IsRealDirectory(entry)) {
      current = entry;
    } else {
      return kCabinetSkip;  // a file stands where the folder should be
    }
  }
  const std::filesystem::path entry = platform::FindEntryNoCase(current, parts->back());
  const std::filesystem::path target = entry.empty() ? current / parts->back() : entry;
  if (IsRealDirectory(target)) return kCabinetSkip;  // a folder stands where the file should be
  info.FullTargetName = target.string();
  return kCabinetExtract;
}

// Hands the walk's questions to CabinetCallback.
class CallbackVisitor : public platform::ICabinetVisitor {
 public:
  explicit CallbackVisitor(const char* context) : context_(context) {}

  bool CabinetOpened(const std::filesystem::path&) override {
    return CabinetCallback(const_cast<char*>(context_), kCabinetInfo, 0, 0) == kCabinetNoError;
  }

  std::optional<std::filesystem::path> FileInCabinet(
      const platform::CabinetMember& member) override {
    TCabinetFileInfo info;
    info.NameInCabinet = member.name;
    info.FileSize = member.size;
    const unsigned answer = CabinetCallback(const_cast<char*>(context_), kFileInCabinet,
                                            reinterpret_cast<std::uintptr_t>(&info), 0);
    if (answer != kCabinetExtract || info.FullTargetName.empty()) return std::nullopt;
    return std::filesystem::path(info.FullTargetName);
  }

  void FileExtracted(const platform::CabinetMember& member, const std::filesystem::path& target,
                     int error) override {
    TCabinetFileInfo info;
    info.NameInCabinet = member.name;
    info.FileSize = member.size;
    info.FullTargetName = target.string();
    info.Error = error;
    CabinetCallback(const_cast<char*>(context_), kFileExtracted,
                    reinterpret_cast<std::uintptr_t>(&info), 0);
  }

 private:
  const char* context_;
};

}  // namespace

TCabinetTool& CabinetTool() {
  static TCabinetTool tool;
  return tool;
}

bool ExpandFile(const std::filesystem::path& source, const std::filesystem::path& target,
                std::uint16_t& error) {
  switch (platform::LzExpand(source, target)) {
    case platform::LzResult::Ok:
      return true;
    case platform::LzResult::SourceOpen:
      error = rc::kFileOpen;
      return false;
    case platform::LzResult::TargetCreate:
    case platform::LzResult::Failed:
      break;
  }
  error = rc::kTempFile;
  return false;
}

unsigned CabinetCallback(void* context, unsigned notification, std::uintptr_t param1,
                         std::uintptr_t /*param2*/) {
  switch (notification) {
    case kCabinetInfo:
      rememberedTarget = context ? static_cast<const char*>(context) : "";
      return kCabinetNoError;
    case kFileInCabinet: {
      auto* info = reinterpret_cast<TCabinetFileInfo*>(param1);
      if (!info) return kCabinetSkip;
      return PlaceMember(*info);
    }
    default:
      return kCabinetNoError;
  }
}

extern "C" int IterateCabinet(const char* cabinetPath, const char* targetDir) {
  if (!cabinetPath || !targetDir) return MSPACK_ERR_ARGS;
  std::lock_guard lock(extractionMutex);
  CallbackVisitor visitor(targetDir);
  return platform::WalkCabinet(cabinetPath, visitor);
}

bool ExtractCabinet(const std::filesystem::path& cabinet, const std::filesystem::path& targetDir,
                    const TCabinetTool& tool) {
  if (IterateCabinet(cabinet.c_str(), targetDir.c_str()) == 0) return true;

  // The tool gets the cabinet and the folder as arguments of their own: blanks do no harm.
  const platform::ProgramRun run = platform::RunProgram(
      {tool.Program, "-q", "-e", "CP932", "-d", targetDir.string(), "--", cabinet.string()},
      tool.PollInterval, tool.PollCount);
  if (!run.started) return false;
  // A tool that was ended, or that failed, may have left members half written.
  if (!run.finished || run.exitCode != 0) DeleteTemp(targetDir);
  return true;
}

bool DeleteTemp(const std::filesystem::path& path) { return platform::DeleteTree(path); }
