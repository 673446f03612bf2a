#pragma once

#include <filesystem>
#include <functional>
#include <memory>

class QLocalServer;

// One running instance per user. The guard is an exclusive lock on a per-user lock file, which
// the system releases when the process ends; a local socket beside it lets a second instance ask
// the first to raise its window.
namespace platform {

class SingleInstance {
 public:
  // `dir` defaults to $XDG_RUNTIME_DIR, else /tmp with the user id in the names.
  explicit SingleInstance(std::filesystem::path dir = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock. False when another instance holds it. When the lock file cannot be made at
  // all, the program runs without the guard (true).
  bool TryLock();

  // Asks the running instance to raise its window. True when it was reached.
  bool RequestRaise() const;

  // Listens for raise requests (after the event loop's application object exists).
  void Listen(std::function<void()> onRaise);

  const std::filesystem::path& LockPath() const { return lockPath_; }
  const std::filesystem::path& SocketPath() const { return socketPath_; }

 private:
  std::filesystem::path lockPath_;
  std::filesystem::path socketPath_;
  int fd_ = -1;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace platform
