#include "common/historynotice.h"

#include "common/strings.h"

HistoryNoticeMessage NoticeMessageOf(const HistoryNotice& notice) {
  // The message says what it means for the downloads; the line after it what the person may
  // want to look at: the file kept under another name, the newer file, or the system's reason.
  int id = 0;
  std::string detail;
  switch (notice.What) {
    case HistoryNotice::Kind::SetAside:
      id = 4363;
      detail = notice.MovedTo.string();
      break;
    case HistoryNotice::Kind::NewerSchema:
      id = 4364;
      detail = notice.File.string();
      break;
    case HistoryNotice::Kind::CannotWrite:
      id = 4365;
      detail = notice.Detail;
      break;
    case HistoryNotice::Kind::CannotRead:
      id = 4366;
      detail = notice.Detail;
      break;
  }
  std::string text(strings::Load(id));
  if (!detail.empty()) text += "\n" + detail;
  return {id, text};
}
