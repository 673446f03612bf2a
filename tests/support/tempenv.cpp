#include "support/tempenv.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport {

TempEnv::TempEnv() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/fwload-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  for (const auto& dir : {ConfigHome(), DataHome(), RuntimeDir(), TmpDir()}) {
    std::filesystem::create_directories(dir);
  }
  std::filesystem::permissions(RuntimeDir(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  const std::map<std::string, std::string> vars = {{"XDG_CONFIG_HOME", ConfigHome()},
                                                   {"XDG_DATA_HOME", DataHome()},
                                                   {"XDG_RUNTIME_DIR", RuntimeDir()},
                                                   {"TMPDIR", TmpDir()}};
  for (const auto& [name, value] : vars) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

TempEnv::~TempEnv() {
  for (const auto& [name, value] : saved_) {
    if (value) ::setenv(name.c_str(), value->c_str(), 1);
    else ::unsetenv(name.c_str());
  }
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
  const char* dir = std::getenv("FWLOAD_BIN_DIR");
  return dir ? std::filesystem::path(dir) : std::filesystem::path();
}

std::filesystem::path SourceDir() {
  const char* dir = std::getenv("FWLOAD_SOURCE_DIR");
  return dir ? std::filesystem::path(dir) : std::filesystem::path();
}

}  // namespace testsupport
