#include "platform/closesignals.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

namespace platform {

namespace {

struct State {
  std::mutex Lock;
  std::function<void()> Handler;
  int Count = 0;         // signals since the handler was set
  bool Waiting = false;  // the first one came while no handler was set
  int SecondExitCode = 0;
};

// Never destroyed: the watcher thread may still use it while the program ends.
State& Shared() {
  static State* state = new State;
  return *state;
}

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
  errno = saved;
}

[[noreturn]] void EndAtOnce(int exitCode) {
  // The transfer thread may be making or deleting its file meanwhile: a folder that did not go
  // at the first try goes at the next.
  for (int i = 0; i < 3; ++i) RemoveTempDir();
  ::_exit(exitCode);
}

void Watch() {
  State& s = Shared();
  for (;;) {
    char buffer[16];
    const ssize_t n = ::read(signalPipe[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      std::lock_guard guard(s.Lock);
      if (++s.Count >= 2) EndAtOnce(s.SecondExitCode);
      if (!s.Handler) {
        s.Waiting = true;
        continue;
      }
      s.Handler();
    }
  }
}

}  // namespace

void CatchCloseSignals(int secondExitCode) {
  static std::once_flag once;
  std::call_once(once, [secondExitCode] {
    Shared().SecondExitCode = secondExitCode;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    std::thread(Watch).detach();
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
  });
}

void OnCloseSignal(std::function<void()> handler) {
  State& s = Shared();
  std::lock_guard guard(s.Lock);
  s.Handler = std::move(handler);
  if (!s.Handler) return;
  if (s.Waiting) {
    s.Waiting = false;
    s.Handler();
  } else {
    s.Count = 0;
  }
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
