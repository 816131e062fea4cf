// Timers on Windows: a window timer on a message-only window of the thread
// that creates the timer (a message-only window needs no desktop, so the
// timer also runs where no display is).
//
// The state asked for last wins: SetTimerCore records it, and the owner
// thread applies the recorded state, directly or when the posted 2064
// arrives, so a late message never undoes a later change.  The window class
// is registered while any timer window exists and unregistered with the
// last one: a library unloaded and loaded again registers it afresh with
// its new procedure address.
//
// A timer freed from another thread is handed over between two parties, the
// freeing thread and the owner: whichever of them is done with it last
// frees it.  An owner that does not answer the free messages in time thus
// still frees its timer when it handles them later; and since its window
// then outlives the call, the library holding the window's procedure is
// pinned, so unloading it cannot leave a window whose procedure is gone.
#include <windows.h>

#include <atomic>

#include "platform/port.h"

namespace port {

struct TimerCore {
  HWND window = nullptr;
  DWORD owner = 0;
  void (*tick)(void*) = nullptr;
  void* context = nullptr;
  // What was asked for last, from any thread.
  std::atomic<uint32_t> interval{0};
  std::atomic<bool> run{false};
  std::atomic<bool> dead{false};
  // Owner thread only.
  bool running = false;
  uint32_t runningInterval = 0;
  bool inTick = false;
  bool freeAfterTick = false;  // destroyed during its own tick
  // Set by the first of the two parties done with a timer freed from
  // another thread; the second frees it.
  std::atomic<bool> handedOver{false};
};

namespace {

constexpr UINT_PTR kTimerId = 1;
std::atomic<UINT> g_sendTimeoutMs{5000};
const char kWindowClass[] = "bacnetipTimerWindow";
// What the free message answers.
constexpr LRESULT kFreedHere = 1;
constexpr LRESULT kFreedAfterTick = 2;

SRWLOCK g_classLock = SRWLOCK_INIT;
int g_windows = 0;  // live timer windows; the class is registered while any exists

LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

// One party is done with the timer; the second one frees it.
void ReleaseCore(TimerCore* core) {
  if (core->handedOver.exchange(true)) delete core;
}

// Keeps the library holding the window procedure loaded for good.
void PinThisModule() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&TimerWindowProc), &self);
}

HINSTANCE ThisModule() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&TimerWindowProc), &self);
  return self ? self : GetModuleHandleA(nullptr);
}

HWND CreateTimerWindow() {
  AcquireSRWLockExclusive(&g_classLock);
  HWND hwnd = nullptr;
  bool registered = g_windows > 0;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TimerWindowProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kWindowClass;
    registered = RegisterClassA(&wc) != 0;
  }
  if (registered) {
    hwnd = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
    if (hwnd) ++g_windows;
    else if (g_windows == 0) UnregisterClassA(kWindowClass, ThisModule());
  }
  ReleaseSRWLockExclusive(&g_classLock);
  return hwnd;
}

// Owner thread only.
void DestroyTimerWindow(TimerCore* core) {
  KillTimer(core->window, kTimerId);
  core->running = false;
  SetWindowLongPtrA(core->window, GWLP_USERDATA, 0);
  DestroyWindow(core->window);
  core->window = nullptr;
  AcquireSRWLockExclusive(&g_classLock);
  if (--g_windows == 0) UnregisterClassA(kWindowClass, ThisModule());
  ReleaseSRWLockExclusive(&g_classLock);
}

// Applies the state asked for last, on the owner thread.  Each change of it
// restarts the interval; the same state again leaves the running timer be.
bool ApplyLatest(TimerCore* core) {
  const bool run = core->run.load() && !core->dead.load();
  const uint32_t interval = core->interval.load();
  const bool wanted = run && interval > 0;
  if (wanted == core->running && (!wanted || interval == core->runningInterval)) return true;
  KillTimer(core->window, kTimerId);
  core->running = false;
  if (!wanted) return true;
  if (SetTimer(core->window, kTimerId, interval, nullptr) == 0) return false;
  core->running = true;
  core->runningInterval = interval;
  return true;
}

thread_local int t_tickDepth = 0;

LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* core = reinterpret_cast<TimerCore*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (core) {
    switch (msg) {
      case WM_TIMER:
        // A handler that pumps messages does not get the next tick inside
        // itself.
        if (wparam == kTimerId && !core->dead.load() && core->tick && !core->inTick) {
          core->inTick = true;
          ++t_tickDepth;
          try {
            core->tick(core->context);
          } catch (...) {
          }
          --t_tickDepth;
          core->inTick = false;
          if (core->freeAfterTick) ReleaseCore(core);
        }
        return 0;
      case kTimerMessageEnable:
        ApplyLatest(core);
        return 0;
      case kTimerMessageFree:
        core->dead.store(true);
        DestroyTimerWindow(core);
        if (core->inTick) {
          core->freeAfterTick = true;
          return kFreedAfterTick;
        }
        ReleaseCore(core);
        return kFreedHere;
      default:
        break;
    }
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

}  // namespace

bool HasTickCount64() {
  static const bool has = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64") != nullptr;
  return has;
}

TimerCore* CreateTimerCore(void (*tick)(void* context), void* context) {
  HWND hwnd = CreateTimerWindow();
  if (!hwnd) return nullptr;
  auto* core = new TimerCore;
  core->tick = tick;
  core->context = context;
  core->owner = GetCurrentThreadId();
  core->window = hwnd;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(core));
  return core;
}

bool SetTimerCore(TimerCore* core, bool run, uint32_t intervalMs) {
  if (!core) return false;
  core->interval.store(intervalMs);
  core->run.store(run);
  if (GetCurrentThreadId() == core->owner) return ApplyLatest(core);
  PostMessageA(core->window, kTimerMessageEnable, run ? 1 : 0, 0);
  return true;
}

void DestroyTimerCore(TimerCore* core) {
  if (!core) return;
  core->dead.store(true);
  core->run.store(false);
  if (GetCurrentThreadId() == core->owner) {
    DestroyTimerWindow(core);
    // Destroyed from its own tick: freed when the tick returns, with no
    // other party to wait for.
    core->handedOver.store(true);
    if (core->inTick) core->freeAfterTick = true;
    else delete core;
    return;
  }
  const HWND window = core->window;
  const UINT wait = g_sendTimeoutMs.load();
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, kTimerMessageEnable, 0, 0, SMTO_NORMAL, wait, &result);
  result = 0;
  const bool answered = SendMessageTimeoutA(window, kTimerMessageFree, 0, 0, SMTO_NORMAL, wait, &result) != 0;
  if (!answered) {
    // A message that timed out may be withdrawn: the free message is posted
    // so that the owner, pumping again, still handles it.  Its window
    // outlives this call, marked dead (it never ticks again), and the owner
    // frees the timer then (or after the tick it is in).
    PinThisModule();
    PostMessageA(window, kTimerMessageFree, 0, 0);
  }
  ReleaseCore(core);
}

void SetTimerFreeWaitForTests(uint32_t ms) { g_sendTimeoutMs.store(ms ? ms : 5000); }

bool InTimerTick() { return t_tickDepth > 0; }

}  // namespace port
