// Timers on Windows: a window timer on a message-only window of the thread
// that creates the timer.
#include <windows.h>

#include <atomic>

#include "platform/port.h"

namespace port {

struct TimerCore {
  HWND window = nullptr;
  DWORD owner = 0;
  void (*tick)(void*) = nullptr;
  void* context = nullptr;
  std::atomic<uint32_t> interval{0};
  bool running = false;  // owner thread only
  std::atomic<bool> dead{false};
};

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kSendTimeoutMs = 5000;
const char kWindowClass[] = "bacnetipTimerWindow";

// Applies a run state on the owner thread.
bool Apply(TimerCore* core, bool run) {
  KillTimer(core->window, kTimerId);
  core->running = false;
  const uint32_t interval = core->interval.load();
  if (!run || interval == 0) return true;
  if (SetTimer(core->window, kTimerId, interval, nullptr) == 0) return false;
  core->running = true;
  return true;
}

thread_local int t_tickDepth = 0;

LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* core = reinterpret_cast<TimerCore*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (core) {
    switch (msg) {
      case WM_TIMER:
        if (wparam == kTimerId && !core->dead.load() && core->tick) {
          // Nothing of the core is touched after the tick: it may free it.
          void (*tick)(void*) = core->tick;
          void* context = core->context;
          ++t_tickDepth;
          try {
            tick(context);
          } catch (...) {
          }
          --t_tickDepth;
        }
        return 0;
      case kTimerMessageEnable:
        if (!core->dead.load()) Apply(core, wparam != 0);
        else KillTimer(hwnd, kTimerId);
        return 0;
      case kTimerMessageFree:
        KillTimer(hwnd, kTimerId);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

bool RegisterTimerClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TimerWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    // The class belongs to the module that holds this code.
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&TimerWindowProc), &self);
    if (self) wc.hInstance = self;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

bool HasTickCount64() {
  static const bool has = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64") != nullptr;
  return has;
}

TimerCore* CreateTimerCore(void (*tick)(void* context), void* context) {
  if (!RegisterTimerClass()) return nullptr;
  auto* core = new TimerCore;
  core->tick = tick;
  core->context = context;
  core->owner = GetCurrentThreadId();
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&TimerWindowProc), &self);
  core->window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 self ? self : GetModuleHandleA(nullptr), nullptr);
  if (!core->window) {
    delete core;
    return nullptr;
  }
  SetWindowLongPtrA(core->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(core));
  return core;
}

bool SetTimerCore(TimerCore* core, bool run, uint32_t intervalMs) {
  if (!core) return false;
  core->interval.store(intervalMs);
  if (GetCurrentThreadId() == core->owner) return Apply(core, run);
  PostMessageA(core->window, kTimerMessageEnable, run ? 1 : 0, 0);
  return true;
}

void DestroyTimerCore(TimerCore* core) {
  if (!core) return;
  core->dead.store(true);
  if (GetCurrentThreadId() == core->owner) {
    KillTimer(core->window, kTimerId);
    SetWindowLongPtrA(core->window, GWLP_USERDATA, 0);
    DestroyWindow(core->window);
    delete core;
    return;
  }
  DWORD_PTR result = 0;
  SendMessageTimeoutA(core->window, kTimerMessageEnable, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result);
  const bool freed =
      SendMessageTimeoutA(core->window, kTimerMessageFree, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
  // A window whose thread did not answer keeps its core: a late message must
  // not find it freed.  It is marked dead and never ticks again.
  if (freed) delete core;
}

bool InTimerTick() { return t_tickDepth > 0; }

}  // namespace port
