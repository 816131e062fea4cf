// Timers on POSIX: one thread serves every timer of the process, from a
// queue ordered by due time.
#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>
#include <utility>

#include "platform/mutex.h"
#include "platform/port.h"

namespace port {

using Clock = std::chrono::steady_clock;
using Queue = std::multimap<Clock::time_point, TimerCore*>;

struct TimerCore {
  void (*tick)(void*) = nullptr;
  void* context = nullptr;
  bool run = false;
  uint32_t interval = 0;
  Clock::time_point due{};
  bool queued = false;
  Queue::iterator at;  // its place in the queue while queued
  bool inTick = false;
  bool destroyed = false;  // destroyed from its own tick: freed when the tick returns
};

namespace {

thread_local int t_tickDepth = 0;

// The timer thread and its queue.  The thread starts with the first timer
// and ends when the last one is gone; a thread that ended inside a tick (its
// last timer destroyed from that tick) is joined by the next start, or when
// this object ends with the library, so no thread is left running the
// library's code after it is unloaded.
class TimerService {
 public:
  ~TimerService() {
    std::thread last;
    {
      MutexLock g(m_);
      quit_ = true;
      wake_.notify_all();
      last = std::move(worker_);
    }
    if (!last.joinable()) return;
    if (last.get_id() == std::this_thread::get_id()) last.detach();  // ending from a tick
    else last.join();
  }

  // Counts a new timer in, starting the thread when there is none.  Throws
  // (nothing counted) when no thread can be started.
  void Add() {
    std::thread ended;
    {
      MutexLock g(m_);
      if (!running_) {
        ended = std::move(worker_);
        try {
          worker_ = std::thread(&TimerService::Loop, this);
        } catch (...) {
          worker_ = std::move(ended);
          throw;
        }
        running_ = true;
        workerId_ = worker_.get_id();
      }
      ++count_;
    }
    if (ended.joinable()) ended.join();  // past its loop already
  }

  void Set(TimerCore* core, bool run, uint32_t intervalMs) {
    MutexLock g(m_);
    if (core->run == run && core->interval == intervalMs) return;
    core->run = run;
    core->interval = intervalMs;
    Unqueue(core);
    if (Runs(*core)) {
      core->due = Clock::now() + std::chrono::milliseconds(intervalMs);
      Enqueue(core);  // also while it ticks: the one thread cannot start it twice
    }
  }

  void Remove(TimerCore* core) {
    std::thread ended;
    {
      MutexLock l(m_);
      Unqueue(core);
      core->tick = nullptr;
      core->run = false;
      if (core->inTick && std::this_thread::get_id() == workerId_) {
        // From its own tick: the loop frees it when the tick returns.
        core->destroyed = true;
        --count_;
        return;
      }
      while (core->inTick) tickDone_.wait(l.Waitable());
      delete core;
      if (--count_ > 0) return;
      // The last timer: its thread ends before this returns, so that the
      // library can be unloaded at once.
      wake_.notify_all();
      if (running_ && std::this_thread::get_id() == workerId_) return;  // from another timer's tick
      while (running_ && count_ == 0) ended_.wait(l.Waitable());
      if (running_) return;  // a new timer came first and keeps the thread
      ended = std::move(worker_);
    }
    if (ended.joinable()) ended.join();
  }

 private:
  static bool Runs(const TimerCore& c) { return c.run && c.interval > 0 && c.tick; }

  void Enqueue(TimerCore* core) REQUIRES(m_) {
    core->at = queue_.emplace(core->due, core);
    core->queued = true;
    wake_.notify_all();
  }
  void Unqueue(TimerCore* core) REQUIRES(m_) {
    if (!core->queued) return;
    queue_.erase(core->at);
    core->queued = false;
  }

  void Loop() EXCLUDES(m_) {
    MutexLock l(m_);
    while (!quit_ && count_ > 0) {
      if (queue_.empty()) {
        wake_.wait(l.Waitable());
        continue;
      }
      const auto first = queue_.begin();
      const Clock::time_point due = first->first;  // a copy: the entry may go while waiting
      if (Clock::now() < due) {
        wake_.wait_until(l.Waitable(), due);
        continue;
      }
      TimerCore* c = first->second;
      Unqueue(c);
      const Clock::time_point fired = c->due;
      void (*tick)(void*) = c->tick;
      void* context = c->context;
      c->inTick = true;
      l.Unlock();
      ++t_tickDepth;
      try {
        tick(context);
      } catch (...) {
        // The owner's handler reports its own failures; nothing may end the loop.
      }
      --t_tickDepth;
      l.Lock();
      c->inTick = false;
      tickDone_.notify_all();
      if (c->destroyed) {
        delete c;
        continue;
      }
      // A handler that changed the timer has queued it itself.
      if (!c->queued && Runs(*c)) {
        const auto step = std::chrono::milliseconds(c->interval);
        c->due = fired + step;
        const Clock::time_point after = Clock::now();
        if (c->due <= after) c->due = after + step;  // ticks missed are not made up
        Enqueue(c);
      }
    }
    running_ = false;
    ended_.notify_all();
  }

  // The queue, the count and the thread, and the fields of every timer core
  // (which the analysis cannot tie to this lock: each core is used only
  // under it, by the functions here).
  Mutex m_;
  std::condition_variable wake_;      // the thread: the queue or the count changed
  std::condition_variable tickDone_;  // destroyers: a tick returned
  std::condition_variable ended_;     // the last destroyer: the thread left its loop
  Queue queue_ GUARDED_BY(m_);
  size_t count_ GUARDED_BY(m_) = 0;
  bool running_ GUARDED_BY(m_) = false;  // a thread runs the loop (and will see the count)
  bool quit_ GUARDED_BY(m_) = false;
  std::thread worker_ GUARDED_BY(m_);
  std::thread::id workerId_ GUARDED_BY(m_);
};

TimerService& Service() {
  static TimerService service;
  return service;
}

}  // namespace

bool HasTickCount64() { return true; }

bool InTimerTick() { return t_tickDepth > 0; }

TimerCore* CreateTimerCore(void (*tick)(void* context), void* context) {
  TimerService& service = Service();  // made before any timer, so that it ends after every timer
  auto* core = new TimerCore;
  core->tick = tick;
  core->context = context;
  try {
    service.Add();
  } catch (...) {
    delete core;
    return nullptr;
  }
  return core;
}

bool SetTimerCore(TimerCore* core, bool run, uint32_t intervalMs) {
  if (!core) return false;
  Service().Set(core, run, intervalMs);
  return true;
}

void DestroyTimerCore(TimerCore* core) {
  if (!core) return;
  Service().Remove(core);
}

}  // namespace port
