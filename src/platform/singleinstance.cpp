#include "platform/singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
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

}  // namespace

SingleInstance::SingleInstance(std::filesystem::path dir) {
  std::string suffix;
  if (dir.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') {
      dir = runtime;
    } else {
      // /tmp is shared by every user: the user id keeps the names apart.
      dir = "/tmp";
      // Built with a format rather than "-" + ...: GCC 12 warns falsely (-Wrestrict) on string
      // assignments here at -O3.
      char id[32];
      std::snprintf(id, sizeof id, "-%u", static_cast<unsigned>(::getuid()));
      suffix = std::string(id);
    }
  }
  lockPath_ = dir / ("FWLOAD" + suffix + ".lock");
  socketPath_ = dir / ("FWLOAD" + suffix + ".sock");
}

SingleInstance::~SingleInstance() {
  if (server_) {
    server_->close();
    server_.reset();
  }
  if (fd_ >= 0) ::close(fd_);
}

bool SingleInstance::TryLock() {
  // O_NOFOLLOW: another user must not redirect our lock through a link in a shared folder.
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
