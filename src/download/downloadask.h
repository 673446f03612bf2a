#pragma once

#include "common/boxstyle.h"

#include <string>

// How a download asks and tells. A window shows boxes, a console writes lines, a test answers
// from a script; none answers yes unless told to.
class IDownloadAsk {
 public:
  virtual ~IDownloadAsk() = default;

  // A question the download stops at unless answered OK (1). `messageId` is the first message of
  // the text (4103, 4104, 4105, 4106, 4107, 4193, 4194), so a front end can say what stopped it.
  virtual int Confirm(int messageId, const std::string& text, unsigned style, int helpContext) = 0;
  // The settings-memory question (message 4101 with the check box 4124): OK (1) or Cancel (2),
  // with the check box's state in and out of `initialise`.
  virtual int AskMemoryInit(const std::string& text, const std::string& checkText, int helpContext,
                            bool& initialise) = 0;
  // A message whose answer does not matter: an input check that ends the command (4355, 4352,
  // 4356, a file that failed to open), the result (4113...), the after-download instruction.
  virtual void Tell(int messageId, const std::string& text, unsigned style, int helpContext) = 0;
  // Something the person should know once that does not stop the download: the history could
  // not be written, was set aside, or belongs to a newer program (messages 4363 to 4366). Told
  // like any other message unless a front end keeps notices apart.
  virtual void Notice(int messageId, const std::string& text) {
    Tell(messageId, text, platform::mb::kIconExclamation, 0);
  }
  // True once the run is being stopped (a close signal): nothing more is asked or told, every
  // question counts as cancelled, and nothing is sent that was not under way already.
  virtual bool Stopped() const = 0;
};
