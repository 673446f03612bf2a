#include "support/tempenv.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value)
    ::setenv(name_.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    ::setenv(name_.c_str(), old_->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

TempEnv::TempEnv() {
  // Always short and below /tmp, whatever TMPDIR says: the program's own socket goes into the
  // runtime folder, and a socket's path may not be longer than about 100 bytes.
  std::string tmpl = "/tmp/fwl.XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  for (const auto& dir : {ConfigHome(), DataHome(), RuntimeDir(), TmpDir()}) {
    std::filesystem::create_directories(dir);
  }
  std::filesystem::permissions(RuntimeDir(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  const std::pair<const char*, std::filesystem::path> vars[] = {{"XDG_CONFIG_HOME", ConfigHome()},
                                                                {"XDG_DATA_HOME", DataHome()},
                                                                {"XDG_RUNTIME_DIR", RuntimeDir()},
                                                                {"TMPDIR", TmpDir()}};
  for (const auto& [name, value] : vars)
    vars_.push_back(std::make_unique<ScopedEnv>(name, value.string()));
}

TempEnv::~TempEnv() {
  vars_.clear();
  std::error_code ec;
  // Tests may leave read-only folders behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(root_, ec);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ListTree(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    names.push_back(std::filesystem::relative(it->path(), dir).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::filesystem::path BinDir() {
  // The tests are built beside the program.
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::filesystem::path SourceDir() { return FWLOAD_SOURCE_DIR; }

}  // namespace testsupport

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

std::string AsUnprivilegedUser(const TempEnv& env, const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(pipeFds[0]);
    constexpr uid_t kNobody = 65534;
    std::error_code ec;
    ::chown(env.Root().c_str(), kNobody, kNobody);
    for (auto it = std::filesystem::recursive_directory_iterator(env.Root(), ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      ::lchown(it->path().c_str(), kNobody, kNobody);
    }
    std::string result;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      result = "cannot become nobody";
    } else {
      result = body();
    }
    [[maybe_unused]] const auto n = ::write(pipeFds[1], result.data(), result.size());
    ::close(pipeFds[1]);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string result;
  char buf[512];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
    result.append(buf, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "the unprivileged run crashed";
  // Give the folder back so the TempEnv can remove it.
  std::error_code ec;
  ::chown(env.Root().c_str(), ::getuid(), ::getgid());
  for (auto it = std::filesystem::recursive_directory_iterator(env.Root(), ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    ::lchown(it->path().c_str(), ::getuid(), ::getgid());
  }
  return result;
}

}  // namespace testsupport
