#include "platform/singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

constexpr char kRaiseRequest[] = "raise\n";

// Makes the folder (0700) or finds it made; true only when it is a folder, not a link, owned by
// this user and closed to everybody else.
bool MakeOwnFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

}  // namespace

SingleInstance::SingleInstance(std::filesystem::path dir, const std::filesystem::path& sharedDir) {
  if (dir.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') {
      dir = runtime;
    } else {
      // A folder shared by every user: the lock lives in a folder of the user's own, so nobody
      // else can take it or put a file of theirs in its place. (A format rather than "-" + ...:
      // GCC 12 warns falsely, -Wrestrict, on string assignments here at -O3.)
      char name[32];
      std::snprintf(name, sizeof name, "fwload-%u", static_cast<unsigned>(::getuid()));
      dir = sharedDir / name;
      ownFolder_ = true;
    }
  }
  lockPath_ = dir / "FWLOAD.lock";
  socketPath_ = dir / "FWLOAD.sock";
}

SingleInstance::~SingleInstance() {
  if (server_) {
    server_->close();
    server_.reset();
  }
  if (fd_ >= 0) ::close(fd_);
}

bool SingleInstance::TryLock() {
  if (ownFolder_ && !MakeOwnFolder(lockPath_.parent_path())) return true;
  // O_NOFOLLOW: the lock is never redirected through a link.
  fd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return true;
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
  const bool held = errno == EWOULDBLOCK;
  ::close(fd_);
  fd_ = -1;
  return !held;
}

bool SingleInstance::RequestRaise() const {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = socketPath_.string();
  if (path.size() >= sizeof addr.sun_path) {
    ::close(s);
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::write(s, kRaiseRequest, sizeof kRaiseRequest - 1) ==
                static_cast<ssize_t>(sizeof kRaiseRequest - 1);
  if (ok) {
    // Wait for the running instance to take the request before we go.
    char answer = 0;
    timeval tv{2, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ok = ::read(s, &answer, 1) == 1;
  }
  ::close(s);
  return ok;
}

void SingleInstance::Listen(std::function<void()> onRaise) {
  // Without the lock the socket's place is not known to be ours, nor a socket there stale.
  if (fd_ < 0) return;
  server_ = std::make_unique<QLocalServer>();
  // We hold the lock, so a socket file left by a crashed instance is stale.
  QLocalServer::removeServer(QString::fromStdString(socketPath_.string()));
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(QString::fromStdString(socketPath_.string()))) return;
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                   [this, onRaise = std::move(onRaise)]() {
                     while (QLocalSocket* client = server_->nextPendingConnection()) {
                       QObject::connect(client, &QLocalSocket::disconnected, client,
                                        &QObject::deleteLater);
                       QObject::connect(client, &QLocalSocket::readyRead, client,
                                        [client, onRaise]() {
                                          if (!client->readAll().contains("raise")) return;
                                          onRaise();
                                          client->write("1");
                                          client->flush();
                                        });
                     }
                   });
}

}  // namespace platform
