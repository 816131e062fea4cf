// A one-shot event for tests: one thread sets it, another waits for it with
// a generous bound, so no test sleeps to wait and none hangs for ever.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testutil {

class Event {
 public:
  void Set() {
    std::lock_guard<std::mutex> g(m_);
    set_ = true;
    cv_.notify_all();
  }
  // True when the event was set within the bound.
  bool Wait(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, bound, [&] { return set_; });
  }
  bool IsSet() {
    std::lock_guard<std::mutex> g(m_);
    return set_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

}  // namespace testutil
