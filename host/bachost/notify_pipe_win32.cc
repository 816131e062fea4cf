#include "notify_pipe.h"

#include <windows.h>

#include <future>
#include <utility>

#include "message_window_win32.h"

namespace host {

NotifyPipe::~NotifyPipe() { Stop(); }

bool NotifyPipe::Start(Handler handler) {
  Stop();
  std::promise<std::pair<HWND, DWORD>> made;
  auto window = made.get_future();
  reader_ = std::thread([&made, handler = std::move(handler)] {
    MessageWindow w;
    // The thread's message queue exists before anyone learns the window.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    made.set_value({w.Create(handler) ? w.Window() : nullptr, GetCurrentThreadId()});
    if (!w.Window()) return;
    // Messages posted before Stop's WM_QUIT are dispatched first.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  });
  const auto [hwnd, thread] = window.get();
  if (!hwnd) {
    reader_.join();
    return false;
  }
  fds_[0] = static_cast<int64_t>(thread);
  fds_[1] = reinterpret_cast<int64_t>(hwnd);
  return true;
}

void NotifyPipe::Stop() {
  if (fds_[0] >= 0) PostThreadMessageA(static_cast<DWORD>(fds_[0]), WM_QUIT, 0, 0);
  if (reader_.joinable()) reader_.join();
  fds_[0] = fds_[1] = -1;
}

}  // namespace host
