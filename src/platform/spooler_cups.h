#pragma once

#include "platform/spooler.h"

#include <memory>
#include <string>
#include <string_view>

// The spooler over libcups, talking to the server that CUPS_SERVER names (read afresh at every
// connection), else the default server.
namespace platform {

// How long the layer waits for the server. A server that is down is noticed at once (the
// connection is refused); one that accepts but never answers is given up after these.
struct CupsTimeouts {
  int ConnectMs = 3000;        // making the connection
  double AnswerSeconds = 3.0;  // a query, from sending it to its answer
  double DataSeconds = 30.0;   // each piece of a job's data, and the answer to the whole job
  double CancelSeconds = 3.0;  // cancelling a job, connection included
};

class CupsSpooler : public ISpooler {
 public:
  explicit CupsSpooler(CupsTimeouts timeouts = {});
  ~CupsSpooler() override;

  SpoolStatus EnumPrinters(std::vector<std::string>& names) override;
  std::unique_ptr<ISpoolPrinter> OpenPrinter(const std::string& name,
                                             SpoolStatus* why = nullptr) override;
  void BeginSnapshot() override;
  void EndSnapshot() override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The port text of a device URI: parallel:/dev/lpN is "LPT(N+1):" (lp0 is LPT1:); any other URI
// stands as it is.
std::string PortTextOfDeviceUri(std::string_view deviceUri);

// The job status bits of a job-state (see SpoolJobData::Status).
std::uint32_t JobStatusOfState(int jobState);

}  // namespace platform
