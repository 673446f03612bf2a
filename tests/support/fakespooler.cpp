#include "support/fakespooler.h"

#include <algorithm>

namespace testsupport {

using platform::SpoolJobData;
using platform::SpoolStatus;

int FakePrinter::StartRawDocument(const std::string& documentName) {
  ++s_.Starts;
  s_.DocumentName = documentName;
  open_ = s_.JobToGive != 0;
  return s_.JobToGive;
}

bool FakePrinter::Write(const void* data, std::size_t size) {
  const int index = static_cast<int>(s_.Writes.size());
  s_.Writes.push_back(size);
  if (!open_ || index == s_.FailWrite) return false;
  s_.Bytes.append(static_cast<const char*>(data), size);
  return true;
}

bool FakePrinter::EndDocument() {
  ++s_.Ends;
  open_ = false;
  return !s_.EndFails;
}

void FakePrinter::AbortDocument() {
  ++s_.Aborts;
  open_ = false;
}

SpoolStatus FakePrinter::GetJob(int jobId, SpoolJobData& job) {
  ++s_.Polls;
  if (!s_.JobAnswer) return SpoolStatus::NotFound;
  job.JobId = jobId;
  return s_.JobAnswer(s_.Polls, job);
}

bool FakePrinter::CancelJob(int jobId) {
  s_.Cancels.push_back(jobId);
  return true;
}

void FakeSpooler::Add(const platform::SpoolPrinterData& data) {
  Printers[data.Name] = data;
  Order.push_back(data.Name);
}

SpoolStatus FakeSpooler::EnumPrinters(std::vector<std::string>& names) {
  if (EnumStatus != SpoolStatus::Ok) return EnumStatus;
  names.insert(names.end(), Order.begin(), Order.end());
  return SpoolStatus::Ok;
}

std::unique_ptr<platform::ISpoolPrinter> FakeSpooler::OpenPrinter(const std::string& name,
                                                                  SpoolStatus* why) {
  Opened.push_back(name);
  const auto it = Printers.find(name);
  if (it == Printers.end()) {
    if (why) *why = SpoolStatus::NotFound;
    return nullptr;
  }
  if (why) *why = SpoolStatus::Ok;
  const bool unreadable = std::find(Unreadable.begin(), Unreadable.end(), name) != Unreadable.end();
  return std::make_unique<FakePrinter>(
      Script, name,
      unreadable ? std::nullopt : std::optional<platform::SpoolPrinterData>(it->second));
}

}  // namespace testsupport
