#pragma once

#include "platform/spooler.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// How the fake spooler's RAW jobs go, and what they were given. One script for every printer of
// the spooler.
struct SpoolScript {
  int JobToGive = 42;  // 0: no job can be started
  int FailWrite = -1;  // index of the write call that fails
  bool EndFails = false;
  // The answer to each poll of the job (`poll` counts from 1); none: the job is not found.
  std::function<platform::SpoolStatus(int poll, platform::SpoolJobData&)> JobAnswer;

  std::string DocumentName;
  std::vector<std::size_t> Writes;
  std::string Bytes;
  int Starts = 0;
  int Ends = 0;
  int Aborts = 0;
  std::vector<int> Cancels;
  int Polls = 0;
};

// A printer of the fake spooler: its data as the test gave it (nullopt: unreadable), its jobs as
// the script says.
class FakePrinter : public platform::ISpoolPrinter {
 public:
  FakePrinter(SpoolScript& script, std::string name,
              std::optional<platform::SpoolPrinterData> data = std::nullopt)
      : s_(script), name_(std::move(name)), data_(std::move(data)) {}
  const std::string& Name() const override { return name_; }
  std::optional<platform::SpoolPrinterData> GetData() override { return data_; }
  int StartRawDocument(const std::string& documentName) override;
  bool Write(const void* data, std::size_t size) override;
  bool EndDocument() override;
  void AbortDocument() override;
  platform::SpoolStatus GetJob(int jobId, platform::SpoolJobData& job) override;
  bool CancelJob(int jobId) override;

 private:
  SpoolScript& s_;
  std::string name_;
  std::optional<platform::SpoolPrinterData> data_;
  bool open_ = false;
};

// A spooler whose printers and jobs a test describes: for the port texts, failures and job
// states a real server cannot show on demand. In use (platform::Spooler()) while it lives.
class FakeSpooler : public platform::ISpooler {
 public:
  FakeSpooler() { platform::SetSpooler(this); }
  ~FakeSpooler() override { platform::SetSpooler(nullptr); }
  FakeSpooler(const FakeSpooler&) = delete;
  FakeSpooler& operator=(const FakeSpooler&) = delete;

  std::map<std::string, platform::SpoolPrinterData> Printers;
  std::vector<std::string> Order;       // names in the server's order
  std::vector<std::string> Unreadable;  // open, but their data cannot be had
  platform::SpoolStatus EnumStatus = platform::SpoolStatus::Ok;
  std::vector<std::string> Opened;  // every name asked for, as given
  SpoolScript Script;

  void Add(const platform::SpoolPrinterData& data);

  platform::SpoolStatus EnumPrinters(std::vector<std::string>& names) override;
  std::unique_ptr<platform::ISpoolPrinter> OpenPrinter(const std::string& name,
                                                       platform::SpoolStatus* why) override;
  void BeginSnapshot() override {}
  void EndSnapshot() override {}
};

}  // namespace testsupport
