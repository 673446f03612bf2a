#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Sets (or, with nullopt, removes) an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A private home for one test: configuration, data, runtime and temporary folders inside a fresh
// directory, set in the environment for the test's duration, so no test ever meets the user's
// own settings.
class TempEnv {
 public:
  TempEnv();
  ~TempEnv();
  TempEnv(const TempEnv&) = delete;
  TempEnv& operator=(const TempEnv&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path ConfigHome() const { return root_ / "config"; }
  std::filesystem::path DataHome() const { return root_ / "data"; }
  std::filesystem::path RuntimeDir() const { return root_ / "run"; }
  std::filesystem::path TmpDir() const { return root_ / "tmp"; }
  std::filesystem::path SettingsFile() const { return ConfigHome() / "fwload" / "FWLOAD.INI"; }

 private:
  std::filesystem::path root_;
  std::vector<std::unique_ptr<ScopedEnv>> vars_;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// Names of everything below a folder, relative to it, sorted.
std::vector<std::string> ListTree(const std::filesystem::path& dir);

// Where the build put the program (the folder of fwload, its companions and the tests).
std::filesystem::path BinDir();
std::filesystem::path SourceDir();

}  // namespace testsupport

namespace testsupport {

// Runs `body` as a user whom file permissions bind: as is, or, when the tests run as root (as in
// CI), in a child process that hands the TempEnv's folder to the user "nobody" and becomes it.
// `body` returns an empty text on success, else what went wrong.
std::string AsUnprivilegedUser(const TempEnv& env, const std::function<std::string()>& body);

}  // namespace testsupport
