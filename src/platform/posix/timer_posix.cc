// Timers on POSIX: one thread per timer.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/port.h"

namespace port {

using Clock = std::chrono::steady_clock;

struct TimerCore {
  struct State {
    std::mutex m;
    std::condition_variable cv;
    void (*tick)(void*) = nullptr;
    void* context = nullptr;
    bool run = false;
    bool stop = false;
    bool inTick = false;
    uint32_t interval = 0;
    Clock::time_point due{};
    std::thread::id worker;
    bool exited = false;  // the loop has returned
  };
  std::shared_ptr<State> state = std::make_shared<State>();
  std::thread thread;
};

namespace {

// Threads of timers destroyed from their own tick.  They still run the end
// of the loop after the timer is gone, which is code of this library: they
// are joined, never left to run, before the library can be unloaded (this
// object ends when the library does), and joined as soon as they are done
// when another timer is destroyed this way.
class TimerGraves {
 public:
  ~TimerGraves() {
    std::vector<Grave> all;
    {
      std::lock_guard<std::mutex> g(m_);
      all.swap(graves_);
    }
    for (Grave& grave : all) {
      if (grave.thread.get_id() == std::this_thread::get_id()) grave.thread.detach();  // ending from a tick
      else if (grave.thread.joinable()) grave.thread.join();
    }
  }
  void Add(std::thread thread, std::shared_ptr<TimerCore::State> state) {
    std::vector<Grave> done;
    {
      std::lock_guard<std::mutex> g(m_);
      for (size_t i = 0; i < graves_.size();) {
        bool exited;
        {
          std::lock_guard<std::mutex> sg(graves_[i].state->m);
          exited = graves_[i].state->exited;
        }
        if (exited) {
          done.push_back(std::move(graves_[i]));
          graves_.erase(graves_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          ++i;
        }
      }
      graves_.push_back(Grave{std::move(thread), std::move(state)});
    }
    for (Grave& grave : done) grave.thread.join();  // returning already
  }

 private:
  struct Grave {
    std::thread thread;
    std::shared_ptr<TimerCore::State> state;
  };
  std::mutex m_;
  std::vector<Grave> graves_;
};

thread_local int t_tickDepth = 0;

TimerGraves& Graves() {
  static TimerGraves graves;
  return graves;
}

void TimerLoop(std::shared_ptr<TimerCore::State> s) {
  std::unique_lock<std::mutex> l(s->m);
  while (!s->stop) {
    if (!s->run || s->interval == 0 || !s->tick) {
      s->cv.wait(l);
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (now < s->due) {
      s->cv.wait_until(l, s->due);
      continue;
    }
    const Clock::time_point fired = s->due;
    void (*tick)(void*) = s->tick;
    void* context = s->context;
    s->inTick = true;
    l.unlock();
    ++t_tickDepth;
    try {
      tick(context);
    } catch (...) {
      // The owner's handler reports its own failures; nothing may end the loop.
    }
    --t_tickDepth;
    l.lock();
    s->inTick = false;
    s->cv.notify_all();
    // A handler that changed the timer has set the next time itself.
    if (s->due == fired) {
      const auto step = std::chrono::milliseconds(s->interval);
      s->due = fired + step;
      const Clock::time_point after = Clock::now();
      if (s->due <= after) s->due = after + step;  // ticks missed are not made up
    }
  }
  s->exited = true;
}

}  // namespace

bool HasTickCount64() { return true; }

bool InTimerTick() { return t_tickDepth > 0; }

TimerCore* CreateTimerCore(void (*tick)(void* context), void* context) {
  Graves();  // made before any timer, so that it ends after every timer
  auto core = std::make_unique<TimerCore>();
  core->state->tick = tick;
  core->state->context = context;
  try {
    core->thread = std::thread(TimerLoop, core->state);
  } catch (...) {
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> g(core->state->m);
    core->state->worker = core->thread.get_id();
  }
  return core.release();
}

bool SetTimerCore(TimerCore* core, bool run, uint32_t intervalMs) {
  if (!core) return false;
  TimerCore::State& s = *core->state;
  std::lock_guard<std::mutex> g(s.m);
  if (s.run == run && s.interval == intervalMs) return true;
  s.run = run;
  s.interval = intervalMs;
  if (run) s.due = Clock::now() + std::chrono::milliseconds(intervalMs);
  s.cv.notify_all();
  return true;
}

void DestroyTimerCore(TimerCore* core) {
  if (!core) return;
  bool own = false;
  {
    std::lock_guard<std::mutex> g(core->state->m);
    core->state->stop = true;
    core->state->tick = nullptr;
    core->state->cv.notify_all();
    own = core->state->worker == std::this_thread::get_id();
  }
  if (own) {
    // Destroyed from its own tick: the loop ends when the tick returns, and
    // its thread is joined later.
    Graves().Add(std::move(core->thread), core->state);
  } else if (core->thread.joinable()) {
    core->thread.join();
  }
  delete core;
}

}  // namespace port
