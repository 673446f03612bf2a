#include "download/transfer_support.h"

#include "firmware/dwndoc.h"
#include "platform/spooler.h"
#include "printers/printers_support.h"
#include "support/run.h"
#include "support/tempenv.h"

#include <QDeadlineTimer>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

namespace transfertest {

using namespace std::chrono_literals;

std::string Hex(const std::string& text) {
  std::string bytes;
  std::string digits;
  for (char c : text) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
      digits.clear();
    }
  }
  return bytes;
}

std::string CommandPrefix() {
  return Hex(
      "1B 01 40 45 4A 4C 0D 0A"
      "40 45 4A 4C 20 53 45 20 4C 41 20 3D 20 45 53 43 2F 50 0D 0A"
      "40 45 4A 4C 20 45 4E 20 4C 41 20 3D 20 45 53 43 2F 50 0D 0A"
      "1B 7A D0 81");
}

std::string ExpectedStream(const std::string& data, bool command, bool trailer, int memory) {
  std::string stream;
  if (command) {
    stream += CommandPrefix();
    std::string digits = std::to_string(data.size());
    digits.insert(0, 8 - digits.size(), '0');
    stream += "Uf" + digits + ",0*";
  }
  stream += data;
  if (trailer) stream += memory ? "Ug,1,1*" : "Ug,1,0*";
  return stream;
}

std::string TestData(std::size_t size, std::uint32_t seed) {
  std::string data(size, '\0');
  std::uint32_t x = 0x9E3779B9u ^ seed;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    data[i] = static_cast<char>(x >> 24);
  }
  const char special[] = {'\x00', '\x1A', '\x1B', '\xFF', '\r', '\n'};
  for (std::size_t i = 0; i < sizeof special && i < size; ++i) data[i] = special[i];
  return data;
}

std::unique_ptr<TDownDocFile> MakeDoc(const std::string& data, int enableCommand, int reboot) {
  auto doc = std::make_unique<TDownDocFile>();
  doc->FFormatValid = 1;
  doc->FEnableCommand = enableCommand;
  doc->FReboot = reboot;
  doc->FDataSize = static_cast<std::uint32_t>(data.size());
  doc->FData = std::make_unique<std::uint8_t[]>(data.size() + 1);
  if (!data.empty()) std::memcpy(doc->FData.get(), data.data(), data.size());
  return doc;
}

void RecordingView::SetLabel(int messageId) {
  {
    std::lock_guard guard(lock_);
    labels_.push_back(messageId);
  }
  if (OnLabel) OnLabel(messageId);
}

void RecordingView::SetProgress(int position) {
  {
    std::lock_guard guard(lock_);
    positions_.push_back(position);
  }
  if (OnProgress) OnProgress(position);
}

void RecordingView::SetTotalSize(std::uint64_t bytes) {
  std::lock_guard guard(lock_);
  total_ = bytes;
}

int RecordingView::Notify(int notification, std::uint64_t value) {
  {
    std::lock_guard guard(lock_);
    notifications_.push_back(notification);
  }
  return Answer ? Answer(notification, value) : 0;
}

std::vector<int> RecordingView::Labels() const {
  std::lock_guard guard(lock_);
  return labels_;
}
std::vector<int> RecordingView::Positions() const {
  std::lock_guard guard(lock_);
  return positions_;
}
std::vector<int> RecordingView::Notifications() const {
  std::lock_guard guard(lock_);
  return notifications_;
}
std::uint64_t RecordingView::Total() const {
  std::lock_guard guard(lock_);
  return total_;
}
int RecordingView::LastLabel() const {
  std::lock_guard guard(lock_);
  return labels_.empty() ? 0 : labels_.back();
}

void RecordingView::Follow(TPrintThread& thread) { RunToEnd(thread); }

bool RunToEnd(TPrintThread& thread, std::chrono::milliseconds limit) {
  thread.start();
  if (thread.wait(QDeadlineTimer(limit.count()))) return true;
  thread.requestInterruption();
  thread.wait();
  return false;
}

std::vector<std::string> LeftoverDownloadFiles(const std::filesystem::path& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename().string().rfind("dwn", 0) == 0) found.push_back(it->path().string());
  }
  return found;
}

TestQueue::TestQueue(std::string name, const std::string& uri, const std::string& model)
    : name_(std::move(name)) {
  printerstest::sandbox::AddQueue(name_, uri, model);
}

TestQueue::~TestQueue() {
  testsupport::Run({"cancel", "-a", name_});
  printerstest::sandbox::Remove(name_);
}

std::string TestQueue::SocketUri(int port) {
  return "socket://127.0.0.1:" + std::to_string(port) + "/?snmp=false";
}

int JobState(const std::string& queue, int jobId) {
  auto printer = platform::Spooler().OpenPrinter(queue);
  if (!printer) return 0;
  platform::SpoolJobData job;
  return printer->GetJob(jobId, job) == platform::SpoolStatus::Ok ? job.State : 0;
}

int WaitForEndState(const std::string& queue, int jobId, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int state = JobState(queue, jobId);
  while (state < 7 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(20ms);
    state = JobState(queue, jobId);
  }
  return state;
}

std::string ActiveJobs(const std::string& queue) {
  std::string out;
  testsupport::Run({"lpstat", "-o", queue}, {.Captured = &out});
  return out;
}

int NewestJob(const std::string& queue) {
  // Lines read "QUEUE-ID USER SIZE DATE".
  std::string jobs;
  testsupport::Run({"lpstat", "-W", "all", "-o", queue}, {.Captured = &jobs});
  const std::string prefix = queue + "-";
  int newest = 0;
  for (std::size_t at = jobs.find(prefix); at != std::string::npos;
       at = jobs.find(prefix, at + 1)) {
    if (at == 0 || jobs[at - 1] == '\n')
      newest = std::max(newest, std::atoi(&jobs[at + prefix.size()]));
  }
  return newest;
}

namespace {

// Threads of this process whose system name is `name`.
int ThreadsNamed(const std::string& name) {
  int count = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
       it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (testsupport::ReadFile(it->path() / "comm") == name + "\n") ++count;
  }
  return count;
}

bool WaitUntilNoThreadNamed(const std::string& name, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (ThreadsNamed(name) > 0) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

}  // namespace

bool WaitUntilNoTransferThread(std::chrono::milliseconds limit) {
  return WaitUntilNoThreadNamed("TPrintThread", limit);
}

bool EndPooledThreads(std::chrono::milliseconds limit) {
  QThreadPool::globalInstance()->waitForDone(static_cast<int>(limit.count()));
  return WaitUntilNoThreadNamed("Thread (pooled)", limit);
}

TransferTimings ShortTimings() {
  TransferTimings t;
  t.JobPoll = 20ms;
  t.NoAnswerLimit = 1s;
  return t;
}

}  // namespace transfertest
