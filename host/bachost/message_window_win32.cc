#include "message_window_win32.h"

#include <mutex>

namespace host {

namespace {

const char kClassName[] = "bachostNotifyWindow";
std::mutex g_classLock;
int g_windows = 0;  // windows of the class; it is registered while any lives

HINSTANCE ProgramInstance() { return GetModuleHandleA(nullptr); }

}  // namespace

MessageWindow::~MessageWindow() { Destroy(); }

LRESULT CALLBACK MessageWindow::Procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self && msg >= WM_USER && self->handler_) {
    self->handler_(msg, static_cast<uint32_t>(wparam), static_cast<uint32_t>(lparam));
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

bool MessageWindow::Create(Handler handler) {
  Destroy();
  handler_ = std::move(handler);
  std::lock_guard<std::mutex> g(g_classLock);
  if (g_windows == 0) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Procedure;
    wc.hInstance = ProgramInstance();
    wc.lpszClassName = kClassName;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  hwnd_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ProgramInstance(), nullptr);
  if (!hwnd_) {
    if (g_windows == 0) UnregisterClassA(kClassName, ProgramInstance());
    return false;
  }
  ++g_windows;
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

void MessageWindow::Destroy() {
  if (!hwnd_) return;
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  std::lock_guard<std::mutex> g(g_classLock);
  if (--g_windows == 0) UnregisterClassA(kClassName, ProgramInstance());
}

}  // namespace host
