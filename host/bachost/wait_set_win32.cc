// Waiting on Windows: the handles are manual-reset events (a socket's
// network event, the wake-up and the notification events), and the wait
// also takes the thread's window messages.  The module's window timers and
// the host's notification window live on the loop's thread, so every turn
// first dispatches what its queue holds.
#include "wait_set.h"

#include <windows.h>

namespace host {

namespace {

// Bounded, so that a flood of messages cannot hold the loop here.
constexpr int kMessagesPerTurn = 256;

void DispatchWaitingMessages() {
  MSG msg;
  for (int n = 0; n < kMessagesPerTurn && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

WaitSet::WaitSet() = default;
WaitSet::~WaitSet() = default;

size_t WaitSet::Add(WaitHandle handle) {
  handles_.push_back(handle);
  stale_ = true;
  return handles_.size() - 1;
}

void WaitSet::Set(size_t index, WaitHandle handle) {
  if (handles_[index] == handle) return;
  handles_[index] = handle;
  stale_ = true;
}

void WaitSet::Rebuild() {
  events_.clear();
  index_.clear();
  for (size_t i = 0; i < handles_.size(); ++i) {
    if (handles_[i] == kNoWaitHandle) continue;
    events_.push_back(reinterpret_cast<HANDLE>(handles_[i]));
    index_.push_back(i);
  }
  stale_ = false;
}

bool WaitSet::Wait(int timeoutMs, std::vector<bool>* ready) {
  ready->assign(handles_.size(), false);
  if (stale_) Rebuild();
  const std::vector<HANDLE>& events = events_;  // HANDLE is void*
  const std::vector<size_t>& index = index_;
  if (events.size() >= MAXIMUM_WAIT_OBJECTS) return false;
  const ULONGLONG start = GetTickCount64();
  const ULONGLONG bound = timeoutMs < 0 ? 0 : static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    DispatchWaitingMessages();
    bool any = false;
    for (size_t k = 0; k < events.size(); ++k) {
      if (WaitForSingleObject(events[k], 0) == WAIT_OBJECT_0) {
        (*ready)[index[k]] = true;
        any = true;
      }
    }
    const ULONGLONG spent = GetTickCount64() - start;
    if (any || spent >= bound) return true;
    const DWORD r = MsgWaitForMultipleObjectsEx(static_cast<DWORD>(events.size()), events.data(),
                                                static_cast<DWORD>(bound - spent), QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE);
    if (r == WAIT_FAILED) return false;
  }
}

WakeupChannel::~WakeupChannel() {
  if (fds_[0] != kNoWaitHandle) CloseHandle(reinterpret_cast<HANDLE>(fds_[0]));
  fds_[0] = fds_[1] = kNoWaitHandle;
}

bool WakeupChannel::Open() {
  HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!e) return false;
  fds_[0] = fds_[1] = reinterpret_cast<WaitHandle>(e);
  return true;
}

void WakeupChannel::Set() {
  if (fds_[1] != kNoWaitHandle) SetEvent(reinterpret_cast<HANDLE>(fds_[1]));
}

void WakeupChannel::Clear() {
  if (fds_[0] != kNoWaitHandle) ResetEvent(reinterpret_cast<HANDLE>(fds_[0]));
}

}  // namespace host
