#pragma once

#include "download/downloadask.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Answers a download's questions from a script and records every question and message, in order.
// It has no default answer: a question the script does not answer is recorded as unexpected and
// answered with Cancel, so a test never goes on by accident.
class ScriptedAsk : public IDownloadAsk {
 public:
  struct Asked {
    char kind;  // 'C' confirmation, 'M' settings-memory question, 'T' message, 'N' notice
    int id;     // message id (4101 for the settings-memory question)
    std::string text;
    unsigned style = 0;
    int help = 0;
  };
  struct Answer {
    int id;          // the question it answers
    int button;      // 1 OK, 2 Cancel
    bool check = 0;  // the settings-memory check box as left by the answer
  };

  explicit ScriptedAsk(std::vector<Answer> script) : script_(script.begin(), script.end()) {}

  int Confirm(int messageId, const std::string& text, unsigned style, int help) override {
    return Take('C', messageId, text, style, help, nullptr);
  }
  int AskMemoryInit(const std::string& text, const std::string&, int help,
                    bool& initialise) override {
    return Take('M', 4101, text, 0, help, &initialise);
  }
  void Tell(int messageId, const std::string& text, unsigned style, int help) override {
    std::lock_guard guard(lock_);
    asked_.push_back({'T', messageId, text, style, help});
  }
  void Notice(int messageId, const std::string& text) override {
    std::lock_guard guard(lock_);
    asked_.push_back({'N', messageId, text});
  }
  bool Stopped() const override { return false; }

  std::vector<Asked> AskedSoFar() const {
    std::lock_guard guard(lock_);
    return asked_;
  }
  // The ids asked or told, in order, each with its kind ("C4103", "M4101", "T4113").
  std::vector<std::string> Ids() const {
    std::vector<std::string> ids;
    for (const Asked& a : AskedSoFar()) ids.push_back(a.kind + std::to_string(a.id));
    return ids;
  }
  // Questions the script did not answer (by id), and answers the download never asked for.
  std::vector<int> Unexpected() const {
    std::lock_guard guard(lock_);
    std::vector<int> ids = unexpected_;
    for (const Answer& a : script_) ids.push_back(a.id);
    return ids;
  }

 private:
  int Take(char kind, int id, const std::string& text, unsigned style, int help, bool* check) {
    std::lock_guard guard(lock_);
    asked_.push_back({kind, id, text, style, help});
    if (script_.empty() || script_.front().id != id) {
      unexpected_.push_back(id);
      return 2;
    }
    const Answer a = script_.front();
    script_.pop_front();
    if (check) *check = a.check;
    return a.button;
  }

  mutable std::mutex lock_;
  std::deque<Answer> script_;
  std::vector<Asked> asked_;
  std::vector<int> unexpected_;
};

}  // namespace testsupport
