#pragma once

#include "ui/messagebox.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Answers the program's message boxes in tests and records what they showed, in order.
class RecordingBoxes : public platform::IMessageBoxes {
 public:
  struct Box {
    std::string text;
    unsigned style = 0;
    int help = 0;
  };

  RecordingBoxes() { platform::SetMessageBoxes(this); }
  ~RecordingBoxes() override { platform::SetMessageBoxes(nullptr); }
  RecordingBoxes(const RecordingBoxes&) = delete;
  RecordingBoxes& operator=(const RecordingBoxes&) = delete;

  // Answers given to the next boxes, in order; OK once they run out.
  void Answer(std::initializer_list<int> answers) { answers_.insert(answers_.end(), answers); }

  int Show(const std::string& text, unsigned style, int helpContext) override {
    shown.push_back({text, style, helpContext});
    if (OnShow) OnShow(shown.back());
    if (answers_.empty()) return platform::kIdOk;
    const int a = answers_.front();
    answers_.pop_front();
    return a;
  }

  std::vector<Box> shown;
  // Runs while a box is shown, before it is answered: what happens while the person reads it.
  std::function<void(const Box&)> OnShow;

 private:
  std::deque<int> answers_;
};

}  // namespace testsupport
