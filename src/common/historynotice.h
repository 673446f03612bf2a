#pragma once

#include "common/history.h"

#include <string>

// What the person is told of a notice of the history store: the message id and its text, which
// names the file concerned (or where it was set aside) and the system's reason.
struct HistoryNoticeMessage {
  int Id = 0;
  std::string Text;
};

HistoryNoticeMessage NoticeMessageOf(const HistoryNotice& notice);
