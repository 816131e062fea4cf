// The host's notification target as the event loop reads it: the module
// posts its messages (1809: log lines wait) to it, and the loop takes them
// when its handle is readable.  On POSIX (notify_channel_posix.cc) it is a
// pipe whose write end the module gets as "MSG-PROC-HANDLE", each message
// 12 bytes (message, wParam, lParam).  On Windows (notify_channel_win32.cc)
// it is a message-only window of the loop's thread and an event that its
// procedure sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wait_set.h"

namespace host {

struct NotifyMessage {
  uint32_t message = 0;
  uint32_t wparam = 0;
  uint32_t lparam = 0;
};

class NotifyChannel {
 public:
  NotifyChannel() = default;
  ~NotifyChannel();
  NotifyChannel(const NotifyChannel&) = delete;
  NotifyChannel& operator=(const NotifyChannel&) = delete;

  bool Open(std::string* error);
  // The value to pass as "MSG-PROC-HANDLE".
  int64_t ModuleTarget() const { return fds_[1]; }
  WaitHandle Handle() const { return fds_[0]; }
  // The messages that arrived, without waiting.
  std::vector<NotifyMessage> Take();

 private:
  WaitHandle fds_[2] = {kNoWaitHandle, kNoWaitHandle};
  std::vector<uint8_t> partial_;
#if defined(_WIN32)
  void* window_ = nullptr;  // the message-only window
#endif
};

}  // namespace host
