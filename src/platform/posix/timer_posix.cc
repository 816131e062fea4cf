// Timers on POSIX: one thread per timer.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

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
  };
  std::shared_ptr<State> state = std::make_shared<State>();
  std::thread thread;
};

namespace {

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
    try {
      tick(context);
    } catch (...) {
      // The owner's handler reports its own failures; nothing may end the loop.
    }
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
}

}  // namespace

bool HasTickCount64() { return true; }

TimerCore* CreateTimerCore(void (*tick)(void* context), void* context) {
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
    // Destroyed from its own tick: the loop ends when the tick returns.
    core->thread.detach();
  } else if (core->thread.joinable()) {
    core->thread.join();
  }
  delete core;
}

}  // namespace port
