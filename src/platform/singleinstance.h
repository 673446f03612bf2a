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
  // `dir` defaults to $XDG_RUNTIME_DIR, else to a folder of the user's own in `sharedDir`,
  // named with the user id and made 0700 when first needed.
  explicit SingleInstance(std::filesystem::path dir = {},
                          const std::filesystem::path& sharedDir = "/tmp");
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock. False when another instance holds it. When the lock file cannot be made at
  // all, or the folder for it in the shared folder is not the user's own (another user's, a link,
  // open to others), the program runs without the guard (true).
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
  bool ownFolder_ = false;  // the folder is made and checked before the lock is taken
  int fd_ = -1;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace platform
