// The notification channel on Windows: a message-only window of the loop's
// thread, whose handle the module gets as "MSG-PROC-HANDLE".  Its procedure
// runs while the loop's wait dispatches messages; it keeps each message and
// sets an event, which the loop waits on as for any other handle.
#include "notify_channel.h"

#include <windows.h>

#include <cstring>

#include "message_window_win32.h"

namespace host {

NotifyChannel::~NotifyChannel() {
  delete static_cast<MessageWindow*>(window_);
  window_ = nullptr;
  if (fds_[0] != kNoWaitHandle) CloseHandle(reinterpret_cast<HANDLE>(fds_[0]));
  fds_[0] = fds_[1] = kNoWaitHandle;
}

bool NotifyChannel::Open(std::string* error) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto* w = new MessageWindow;
  const bool made = event && w->Create([this, event](uint32_t m, uint32_t wp, uint32_t lp) {
    const uint32_t words[3] = {m, wp, lp};
    const auto* bytes = reinterpret_cast<const uint8_t*>(words);
    partial_.insert(partial_.end(), bytes, bytes + sizeof words);
    SetEvent(event);
  });
  if (!made) {
    *error = "cannot create the notification window (error " + std::to_string(GetLastError()) + ")";
    if (event) CloseHandle(event);
    delete w;
    return false;
  }
  fds_[0] = reinterpret_cast<WaitHandle>(event);
  fds_[1] = reinterpret_cast<WaitHandle>(w->Window());
  window_ = w;
  return true;
}

std::vector<NotifyMessage> NotifyChannel::Take() {
  std::vector<NotifyMessage> out;
  if (fds_[0] == kNoWaitHandle) return out;
  ResetEvent(reinterpret_cast<HANDLE>(fds_[0]));
  for (size_t at = 0; at + 12 <= partial_.size(); at += 12) {
    NotifyMessage m;
    std::memcpy(&m.message, &partial_[at], 4);
    std::memcpy(&m.wparam, &partial_[at + 4], 4);
    std::memcpy(&m.lparam, &partial_[at + 8], 4);
    out.push_back(m);
  }
  partial_.clear();
  return out;
}

}  // namespace host
