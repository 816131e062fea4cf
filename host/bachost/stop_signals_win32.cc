// Console control events (Ctrl+C, Ctrl+Break, the console closing) as a
// request to stop.  The system calls the handler on a thread of its own.
#include "stop_signals.h"

#include <windows.h>

#include <atomic>

namespace host {

namespace {

std::atomic<bool> g_stop{false};
std::atomic<WakeupChannel*> g_wake{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_stop.store(true);
      if (WakeupChannel* w = g_wake.load()) w->Set();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool StopSignals::Install(WakeupChannel* wake) {
  g_stop.store(false);
  g_wake.store(wake);
  if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) return false;
  installed_ = true;
  return true;
}

bool StopSignals::Requested() const { return g_stop.load(); }

StopSignals::~StopSignals() {
  if (!installed_) return;
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_wake.store(nullptr);
}

}  // namespace host
