#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace testsupport {

// One download as the printer simulator saw it (its report's fields).
struct SimRecord {
  int Seq = 0;
  std::string Channel;  // "raw" or "ftp"
  std::string File;     // relative to the simulator's folder
  std::string Name;     // the uploaded name (FTP)
  std::int64_t Bytes = 0;
  std::string Sha256;
  bool Complete = false;
  std::string Fault;
  std::string Shape;  // plain, data+trailer, wrapped, wrapped+trailer, empty
  std::int64_t DataLength = -1;
  std::int64_t SizeRecord = -1;  // -1: no size record
  int Memory = -1;               // -1: no trailer
  std::vector<std::string> Errors;
  bool Deleted = false;
  std::string VersionAfter;  // what the IPP identity reports once back; empty: it does not answer
};

// The printer's own IPP identity, as options of the simulator.
struct SimIdentity {
  SimIdentity(std::string model = {}, std::string version = {}, std::string applyVersion = {},
              double restartSeconds = 0, std::string fault = {})
      : Model(std::move(model)),
        Version(std::move(version)),
        ApplyVersion(std::move(applyVersion)),
        RestartSeconds(restartSeconds),
        Fault(std::move(fault)) {}
  std::string Model;          // empty: the printer answers without a model
  std::string Version;        // empty: without a firmware version
  std::string ApplyVersion;   // empty: a download leaves the version as it was
  double RestartSeconds = 0;  // the IPP port stays closed this long after a well-formed download
  std::string Fault;          // "", "garbage", "silent" or "down"
  std::vector<std::string> Args() const;
};

// The printer simulator (tools/simulator/simulator.py) run as a child process for one test or
// benchmark: started in the constructor, stopped in the destructor, never left behind (it also
// ends when this process ends).
class Simulator {
 public:
  // Runs `script` (tools/simulator/simulator.py); `dir` receives the downloads and the report;
  // `args` are further options, such as {"--ftp-fault", "drop:65536"}. Throws
  // std::runtime_error when it does not become ready.
  Simulator(const std::filesystem::path& script, const std::filesystem::path& dir,
            const std::vector<std::string>& args = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The script's place in a source tree.
  static std::filesystem::path ScriptIn(const std::filesystem::path& sourceDir) {
    return sourceDir / "tools" / "simulator" / "simulator.py";
  }

  void Stop();
  pid_t Pid() const { return pid_; }  // to pause it (SIGSTOP) as a printer that stops answering
  int RawPort() const { return rawPort_; }
  int FtpPort() const { return ftpPort_; }
  int IppPort() const { return ippPort_; }  // the built-in IPP identity
  pid_t IppPid() const { return ippPid_; }  // the --ipp-command process, 0 without one
  std::string FtpHost() const { return "127.0.0.1:" + std::to_string(ftpPort_); }
  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path FtpDir() const { return dir_ / "ftp" / "ketora0"; }

  std::vector<SimRecord> Records() const;
  // The IPP requests the identity has taken so far, one line each ("Get-Printer-Attributes
  // successful-ok version=V1.23", "garbage ...", "silent ...").
  std::vector<std::string> IppLog() const;
  // The records once there are at least `count`, or whatever there is after `timeout`.
  std::vector<SimRecord> WaitForRecords(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path report_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int rawPort_ = 0;
  int ftpPort_ = 0;
  int ippPort_ = 0;
  pid_t ippPid_ = 0;
};

// A loopback port on which nothing listens (held by this process until it ends).
int UnusedPort();

// Sends `bytes` to a raw port of the loopback interface as a socket printer's sender does, then
// closes; false when the printer broke off.
bool SendToRawPort(int port, const std::string& bytes);

}  // namespace testsupport
