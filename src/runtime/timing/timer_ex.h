// The timer component: calls OnTimer every Interval milliseconds while
// Enabled, Interval > 0 and OnTimer is assigned: on Windows on the thread
// that created it (a window timer there), elsewhere on the one timer thread
// that serves every timer of the process.
// Enabled may be changed from any thread; the handler is never re-entered;
// freeing the timer from any thread, its own handler included, stops it
// without deadlock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/port.h"
#include "runtime/component/component.h"

namespace port {
struct TimerCore;
}

namespace kel {

class TkelTimerEx : public TComponent {
 public:
  using THandler = std::function<void(TkelTimerEx& sender)>;

  explicit TkelTimerEx(TComponent* owner = nullptr);
  ~TkelTimerEx() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  bool Enabled() const { return enabled_.load(); }
  void SetEnabled(bool enabled);
  uint32_t Interval() const { return interval_.load(); }
  void SetInterval(uint32_t ms);
  uint32_t OwnerThread() const { return ownerThread_; }
  // Assigned on the owner thread before the timer runs, cleared before it is
  // freed.
  void SetOnTimer(THandler handler);
  // Enabled, Interval > 0 and OnTimer assigned.
  bool Running() const;

  // Told of a failure that escaped the handler (the default writes it to the
  // debugger output).  The timer goes on.
  std::function<void(const std::string& message)> OnError;

  // Tests: timers created while this is set run no ticks of their own; the
  // test calls the handler itself.
  static void SetManualTicks(bool manual);

 private:
  static void TickThunk(void* self);
  void Update() EXCLUDES(lock_);

  port::CriticalSection lock_;  // the handler and the timer core's state
  THandler onTimer_ GUARDED_BY(lock_);
  std::atomic<bool> hasHandler_{false};
  std::atomic<bool> enabled_{true};
  std::atomic<uint32_t> interval_{1000};
  uint32_t ownerThread_;
  port::TimerCore* core_ GUARDED_BY(lock_) = nullptr;
  bool coreFailed_ = false;
};

}  // namespace kel
