#pragma once

#include "support/tempenv.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

// A print server of one test's own (tools/cups-sandbox.sh), for what the fixtures' shared servers
// must not be put through: counting requests (the tests that run beside this one ask the shared
// ones as well), being paused as a server that hangs. Its tree and socket lie in a short private
// folder below /tmp. Started by the constructor (Running() is false, and the test has failed,
// when it did not start); resumed, stopped and removed by the destructor.
class PrivateServer {
 public:
  enum class Use { Kept, Exported };  // Exported: CUPS_SERVER names it while it lives
  explicit PrivateServer(Use use = Use::Kept);
  ~PrivateServer();
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  const std::string& Socket() const { return socket_; }  // the value for CUPS_SERVER
  // A queue with the error policy abort-job; MODEL as cups-sandbox.sh add-queue takes it.
  void AddQueue(const std::string& name, const std::string& uri, const std::string& model = "-");
  // Requests answered so far, once none has been logged for `quiet` (the server writes a request's
  // line into its access log after the answer has gone).
  std::size_t Requests(std::chrono::milliseconds quiet = std::chrono::milliseconds(0)) const;
  // Stops the server's process: it still accepts connections but reads and answers nothing.
  void Pause();
  void Resume();
  // Part of a job's document has arrived: the server writes it into its spool folder as it comes.
  bool ReceivingDocument() const;

 private:
  std::filesystem::path dir_;   // the script's handle
  std::filesystem::path root_;  // the server's tree
  std::string socket_;
  pid_t pid_ = 0;
  std::optional<ScopedEnv> exported_;
};

}  // namespace testsupport
