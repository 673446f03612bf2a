#pragma once

#include <cstdint>

class TPrintThread;

// What a transfer shows while it runs: a state text, a bar from 0 to 100 and, for the access
// library, its notifications. The transfer thread calls these on its own thread; a window carries
// each call out on its own thread and returns only when it is done, so the thread never runs
// ahead of what the user sees. An implementation without a display may act at once.
class ITransferView {
 public:
  virtual ~ITransferView() = default;

  // The state text: a message id of the string table (4129 to 4139).
  virtual void SetLabel(int messageId) = 0;
  // The bar's position, 0 to 100. The thread calls it only when the position changes.
  virtual void SetProgress(int position) = 0;
  // The size of the download file in bytes: the divisor of the library's progress notification.
  virtual void SetTotalSize(std::uint64_t bytes) = 0;
  // A notification of the access library during an FTP transfer (4 connecting, 5 downloading,
  // 6 bytes sent in `value`). Answers 1 when the user has asked to abort, else 0.
  virtual int Notify(int notification, std::uint64_t value) = 0;

  // Starts `thread` and returns once it has ended, showing it meanwhile (a window: modal, with its
  // abort button; a console: it waits). Its result may be read only after this returned.
  virtual void Follow(TPrintThread& thread) = 0;
};
