// The cabinet walk with the callback's naming rules. After every input: the extraction folder holds
// exactly the members the walk reported as extracted, each whole, with nothing left of a member
// that failed, and nothing was written anywhere else.
//
// Speed: the folders are made once and watched with inotify rather than listed, the input is
// rewritten in place, and only an extraction folder that was made is read (with getdents64) and
// deleted in the same pass.

#include "firmware/packages.h"
#include "fuzzenv.h"
#include "platform/cabinet.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_cabinet: %s\n", what.c_str());
  std::abort();
}

struct Outcome {
  std::uint64_t size = 0;
  bool extracted = false;
};

// Drives the walk as IterateCabinet does, through CabinetCallback, and keeps the last word the walk
// said about every target.
class RecordingVisitor : public platform::ICabinetVisitor {
 public:
  explicit RecordingVisitor(std::string target) : target_(std::move(target)) {}

  bool CabinetOpened(const fs::path&) override {
    return CabinetCallback(target_.data(), kCabinetInfo, 0, 0) == kCabinetNoError;
  }

  std::optional<fs::path> FileInCabinet(const platform::CabinetMember& member) override {
    TCabinetFileInfo info;
    info.NameInCabinet = member.name;
    info.FileSize = member.size;
    const unsigned answer =
        CabinetCallback(target_.data(), kFileInCabinet, reinterpret_cast<std::uintptr_t>(&info), 0);
    if (answer != kCabinetExtract || info.FullTargetName.empty()) return std::nullopt;
    return fs::path(info.FullTargetName);
  }

  void FileExtracted(const platform::CabinetMember& member, const fs::path& target,
                     int error) override {
    TCabinetFileInfo info;
    info.NameInCabinet = member.name;
    info.FileSize = member.size;
    info.FullTargetName = target.string();
    info.Error = error;
    CabinetCallback(target_.data(), kFileExtracted, reinterpret_cast<std::uintptr_t>(&info), 0);
    // The callback builds targets from the extraction folder and the name's non-empty parts, so
    // they compare as they are with the paths found on disk.
    Outcomes[target.string()] = {member.size, error == 0};
  }

  std::unordered_map<std::string, Outcome> Outcomes;

 private:
  std::string target_;
};

// Everything one process needs: the input file and the extraction folder, five levels below the
// fuzz folder with every folder on the way watched, so that a name which climbs out lands where it
// is seen.
struct Bench {
  fuzzenv::InputFile input;
  fs::path target;
  int notify = -1;
  std::map<int, fs::path> watched;
  int targetParent = -1;  // the watch on the folder that holds the extraction folder

  Bench() : input(fuzzenv::Setup() / "in" / "in.cab") {
    const fs::path& root = fuzzenv::Root();
    fs::path parent = root / "out" / "1" / "2" / "3";
    fs::create_directories(parent);
    target = (parent / "x").lexically_normal();

    notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify < 0) Fail("inotify_init1");
    constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF |
                                       IN_MOVE_SELF;
    const auto watch = [&](const fs::path& dir, std::uint32_t mask) {
      const int wd = ::inotify_add_watch(notify, dir.c_str(), mask | IN_ONLYDIR);
      if (wd < 0) Fail("inotify_add_watch " + dir.string());
      watched[wd] = dir;
      return wd;
    };
    // The input's own folder changes by the harness writing the input (IN_MODIFY); a write
    // opened by the walk still shows on closing.
    watch(root / "in", kChanges & ~IN_MODIFY);
    for (const char* dir : {"tmp", "data", "config"}) watch(root / dir, kChanges);
    for (fs::path dir = parent; dir != root; dir = dir.parent_path()) {
      const int wd = watch(dir, kChanges);
      if (dir == parent) targetParent = wd;
    }
    watch(root, kChanges);
  }

  // Events in a watched folder other than the extraction folder coming and going are writes
  // outside it.
  void CheckNothingElseChanged() {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
      const ssize_t n = ::read(notify, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) Fail("reading the inotify queue");
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) Fail("inotify queue overflow");
        if (event->mask & IN_IGNORED) continue;
        const std::string name = event->len ? event->name : "";
        if (event->wd == targetParent && name == target.filename().string() &&
            (event->mask & (IN_CREATE | IN_DELETE)) != 0 && (event->mask & IN_ISDIR) != 0) {
          continue;
        }
        char mask[16];
        std::snprintf(mask, sizeof mask, "%x", event->mask);
        Fail("written outside the extraction folder: " + watched[event->wd].string() + "/" + name +
             " (inotify mask 0x" + mask + ")");
      }
    }
  }

  // The folder holds folders and regular files only, and its files are exactly the members the
  // walk reported as extracted, at their sizes. Deletes it on the way.
  void CheckAndClear(const std::unordered_map<std::string, Outcome>& outcomes) {
    std::size_t expected = 0;
    for (const auto& [path, outcome] : outcomes) expected += outcome.extracted ? 1 : 0;
    const int parent = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) Fail("opening the extraction folder's parent");
    struct stat st {};
    std::size_t found = 0;
    if (::fstatat(parent, target.filename().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (!S_ISDIR(st.st_mode)) Fail("the extraction folder is not a folder");
      found = CheckAndDelete(parent, target.filename().string(), target.string(), outcomes);
    }
    ::close(parent);
    if (found != expected) Fail("an extracted member is missing");
  }

 private:
  // One folder of the extraction, read with getdents64 rather than opendir, whose 32 KiB buffer
  // costs more than the entries under the sanitizers. Returns the files found.
  static std::size_t CheckAndDelete(int parent, const std::string& name, const std::string& path,
                                    const std::unordered_map<std::string, Outcome>& outcomes) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) Fail("opening " + path);
    std::vector<std::string> names;
    alignas(8) char buffer[8192];
    for (;;) {
      const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
      if (n < 0) Fail("listing " + path);
      if (n == 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
        at += entry->d_reclen;
        const std::string_view entryName = entry->d_name;
        if (entryName != "." && entryName != "..") names.emplace_back(entryName);
      }
    }
    std::size_t found = 0;
    for (const auto& entryName : names) {
      const std::string entryPath = path + "/" + entryName;
      struct stat st {};
      if (::fstatat(fd, entryName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        Fail("stat " + entryPath);
      if (S_ISDIR(st.st_mode)) {
        found += CheckAndDelete(fd, entryName, entryPath, outcomes);
        continue;
      }
      if (!S_ISREG(st.st_mode)) Fail("not a file or folder: " + entryPath);
      const auto outcome = outcomes.find(entryPath);
      if (outcome == outcomes.end()) Fail("a file no member was extracted to: " + entryPath);
      if (!outcome->second.extracted) Fail("a failed member left its file: " + entryPath);
      if (static_cast<std::uint64_t>(st.st_size) != outcome->second.size) {
        Fail("a member is not whole: " + entryPath);
      }
      if (::unlinkat(fd, entryName.c_str(), 0) != 0) Fail("deleting " + entryPath);
      ++found;
    }
    ::close(fd);
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) Fail("deleting " + path);
    return found;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Bench bench;
  bench.input.Put(data, size);

  RecordingVisitor visitor(bench.target.string());
  platform::WalkCabinet(bench.input.Path(), visitor);

  // Writes elsewhere first: a member written outside is also missing from the folder.
  bench.CheckNothingElseChanged();
  bench.CheckAndClear(visitor.Outcomes);
  bench.CheckNothingElseChanged();
  return 0;
}
