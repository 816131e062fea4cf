#include "runtime/timing/timer_ex.h"

#include <exception>
#include <new>
#include <stdexcept>

namespace kel {

namespace {

std::atomic<bool> g_manual{false};

const TPropInfo kProps[] = {
    [] {
      TPropInfo p;
      p.name = "Enabled";
      p.kind = TPropKind::Boolean;
      p.getInt = [](const TComponent& c) -> int64_t { return static_cast<const TkelTimerEx&>(c).Enabled(); };
      p.setInt = [](TComponent& c, int64_t v) { static_cast<TkelTimerEx&>(c).SetEnabled(v != 0); };
      return p;
    }(),
    [] {
      TPropInfo p;
      p.name = "Interval";
      p.kind = TPropKind::Integer;
      p.getInt = [](const TComponent& c) -> int64_t { return static_cast<const TkelTimerEx&>(c).Interval(); };
      p.setInt = [](TComponent& c, int64_t v) {
        static_cast<TkelTimerEx&>(c).SetInterval(v < 0 ? 0u : static_cast<uint32_t>(v));
      };
      return p;
    }(),
};

}  // namespace

const TClassInfo& TkelTimerEx::StaticClass() {
  static const TClassInfo info{"TkelTimerEx", &TComponent::StaticClass(), kProps, std::size(kProps)};
  return info;
}

void TkelTimerEx::SetManualTicks(bool manual) { g_manual.store(manual); }

TkelTimerEx::TkelTimerEx(TComponent* owner) : TComponent(owner), ownerThread_(port::CurrentThreadId()) {
  if (!g_manual.load()) {
    core_ = port::CreateTimerCore(&TickThunk, this);
    coreFailed_ = core_ == nullptr;
  }
}

TkelTimerEx::~TkelTimerEx() {
  port::TimerCore* core = nullptr;
  {
    port::Guard g(lock_);
    onTimer_ = nullptr;
    hasHandler_ = false;
    core = core_;
    core_ = nullptr;
  }
  // Waits for a tick running on another thread; from the timer's own tick it
  // only stops the timer.
  port::DestroyTimerCore(core);
}

void TkelTimerEx::TickThunk(void* self) {
  auto* t = static_cast<TkelTimerEx*>(self);
  THandler handler;
  std::function<void(const std::string&)> onError;
  {
    port::Guard g(t->lock_);
    if (!t->core_) return;
    handler = t->onTimer_;
    onError = t->OnError;
  }
  if (!handler) return;
  // The handler may free the timer: nothing of it is read afterwards.
  auto report = [&onError](const std::string& message) {
    if (onError) onError(message);
    else port::DebugOutput("Timer: " + message);
  };
  try {
    handler(*t);
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("unknown failure");
  }
}

bool TkelTimerEx::Running() const { return enabled_.load() && interval_.load() > 0 && hasHandler_.load(); }

void TkelTimerEx::SetEnabled(bool enabled) {
  if (enabled_.exchange(enabled) == enabled) return;
  Update();
}

void TkelTimerEx::SetInterval(uint32_t ms) {
  if (interval_.exchange(ms) == ms) return;
  Update();
}

void TkelTimerEx::SetOnTimer(THandler handler) {
  {
    port::Guard g(lock_);
    onTimer_ = std::move(handler);
    hasHandler_ = static_cast<bool>(onTimer_);
  }
  Update();
}

void TkelTimerEx::Update() {
  bool ok = true;
  {
    port::Guard g(lock_);
    if (!core_) return;
    const bool run = Running();
    ok = port::SetTimerCore(core_, run, interval_.load());
  }
  if (!ok) throw std::runtime_error("Not enough timers available");
}

}  // namespace kel
