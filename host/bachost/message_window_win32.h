// A message-only window (HWND_MESSAGE) of the thread that creates it: the
// host's notification target on Windows.  The messages a module sends or
// posts to it (WM_USER and above) reach the handler on that thread when
// its message loop dispatches them.  Message-only windows need no display.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace host {

class MessageWindow {
 public:
  using Handler = std::function<void(uint32_t message, uint32_t wparam, uint32_t lparam)>;

  MessageWindow() = default;
  // Destroys the window (on its own thread only); the window class goes
  // with the last window.
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  bool Create(Handler handler);
  void Destroy();
  HWND Window() const { return hwnd_; }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  HWND hwnd_ = nullptr;
  Handler handler_;
};

}  // namespace host
