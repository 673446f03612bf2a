#pragma once

#include "platform/spooler.h"
#include "printers/accesslib.h"
#include "printers/myapp.h"
#include "support/tempenv.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace printerstest {

// The private print servers of the CTest fixtures.
namespace sandbox {
std::filesystem::path Dir();       // the server with the standard queues (fixtures.sh)
std::filesystem::path EmptyDir();  // the server without queues
std::filesystem::path Socket(const std::filesystem::path& dir);  // the value for CUPS_SERVER
// The sandbox script's commands on Dir().
void AddQueue(const std::string& name, const std::string& uri, const std::string& model = "-",
              const std::string& info = std::string());
void Remove(const std::string& name);
}  // namespace sandbox

// The IPP identities of FTP printers (the ipp_identity fixture of fixtures.sh).
namespace ipp {
std::filesystem::path Dir();
// The port the printer `name` answers on; 0 when there is no such printer.
int PortOf(const std::string& name);
// Makes the access library of `env` ask printers' identities on `port`: it takes the IPP port
// from its own section of the settings file.
void UseIppPort(const testsupport::TempEnv& env, int port);

// A printer of one test's own beside the fixture's, for a test that counts the requests it
// answers. Port() is 0 when it did not start.
class OwnPrinter {
 public:
  OwnPrinter(const std::string& model, const std::string& version);
  ~OwnPrinter();
  OwnPrinter(const OwnPrinter&) = delete;
  OwnPrinter& operator=(const OwnPrinter&) = delete;

  int Port() const { return port_; }
  // Get-Printer-Attributes requests it has answered so far.
  int Requests() const;

 private:
  std::string name_;
  int port_ = 0;
};
}  // namespace ipp

// Answers the question for a printer's model with a fixed model, or as the user who cancels
// (nullopt); counts the questions.
class RecordingChooser : public IModelChooser {
 public:
  explicit RecordingChooser(std::optional<std::string> answer) : answer_(std::move(answer)) {}
  bool ChooseModel(std::string& modelName) override;
  int Asked = 0;

 private:
  std::optional<std::string> answer_;
};

// A printer on a raw TCP port of the loopback interface: takes every connection and keeps the
// bytes of each.
class TcpSink {
 public:
  TcpSink();
  ~TcpSink();
  TcpSink(const TcpSink&) = delete;
  TcpSink& operator=(const TcpSink&) = delete;
  int Port() const { return port_; }
  // The bytes of every connection that has been closed, in order.
  std::vector<std::string> Received();

 private:
  void Serve();
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::string> received_;
  std::thread thread_;
};

}  // namespace printerstest
