#include "stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace host {

namespace {

volatile sig_atomic_t g_stop = 0;
std::atomic<int> g_wakeFd{-1};
struct sigaction g_oldInt, g_oldTerm, g_oldPipe;

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  g_stop = 1;
  const int fd = g_wakeFd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char one = 1;
    ssize_t r = ::write(fd, &one, 1);
    (void)r;
  }
  errno = saved;
}

}  // namespace

bool StopSignals::Install(WakeupChannel* wake) {
  g_stop = 0;
  g_wakeFd.store(static_cast<int>(wake->SetHandle()));
  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  // A reader of the records that goes away must not kill the host before it
  // has shut the plug-in down: writes then fail with EPIPE instead.
  if (::sigaction(SIGINT, &sa, &g_oldInt) != 0 || ::sigaction(SIGTERM, &sa, &g_oldTerm) != 0 ||
      ::sigaction(SIGPIPE, &ignore, &g_oldPipe) != 0)
    return false;
  installed_ = true;
  return true;
}

bool StopSignals::Requested() const { return g_stop != 0; }

StopSignals::~StopSignals() {
  if (!installed_) return;
  ::sigaction(SIGINT, &g_oldInt, nullptr);
  ::sigaction(SIGTERM, &g_oldTerm, nullptr);
  ::sigaction(SIGPIPE, &g_oldPipe, nullptr);
  g_wakeFd.store(-1);
}

}  // namespace host
