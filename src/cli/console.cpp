#include "cli/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

void Console::Progress(const std::string& line) {
  const std::lock_guard lock(FLock);
  const std::string whole = "fwload-cli: " + line + "\n";
  std::fwrite(whole.data(), 1, whole.size(), stderr);
  std::fflush(stderr);
}

bool Console::Out(const std::string& text) {
  const std::lock_guard lock(FLock);
  if (FOutputFailed) return false;
  errno = 0;
  const std::size_t n = std::fwrite(text.data(), 1, text.size(), stdout);
  if (n != text.size() || std::fflush(stdout) != 0) {
    FOutputFailed = true;
    FOutputErrno = errno;
    // The rest would only fail again; nothing more goes to the closed stream.
    std::clearerr(stdout);
  }
  return !FOutputFailed;
}

void Console::ReportOutputFailure() {
  if (!FOutputFailed) return;
  Progress(std::string("standard output could not be written (") +
           (FOutputErrno ? std::strerror(FOutputErrno) : "write failed") +
           "): the results above are incomplete; the downloads themselves ran to their end");
}

}  // namespace cli
