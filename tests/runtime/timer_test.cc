// The timer component on its own thread: ticks, changes from other threads,
// and destruction from anywhere, its own tick included.
#include "runtime/timing/timer_ex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/test_event.h"

namespace kel {
namespace {

using namespace std::chrono_literals;

TEST(Timer, TicksOnlyWhileEnabledWithAHandler) {
  std::atomic<int> ticks{0};
  testutil::Event three;
  auto* t = new TkelTimerEx();
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->Interval(), 1000u);
  t->SetInterval(5);
  EXPECT_FALSE(t->Running()) << "no handler yet";
  t->SetOnTimer([&](TkelTimerEx&) {
    if (++ticks == 3) three.Set();
  });
  EXPECT_TRUE(three.Wait());
  // Disabled from another thread: no tick starts afterwards.
  std::thread([&] { t->SetEnabled(false); }).join();
  EXPECT_FALSE(t->Running());
  delete t;
}

TEST(Timer, HandlerIsNeverReenteredAndFailuresDoNotStopIt) {
  std::atomic<int> inside{0};
  std::atomic<int> overlap{0};
  std::atomic<int> ticks{0};
  std::string error;
  testutil::Event enough;
  TkelTimerEx t;
  t.SetInterval(1);
  t.OnError = [&](const std::string& m) { error = m; };
  t.SetOnTimer([&](TkelTimerEx&) {
    if (inside.fetch_add(1) != 0) ++overlap;
    std::this_thread::sleep_for(2ms);  // longer than the interval
    inside.fetch_sub(1);
    if (++ticks == 2) throw std::runtime_error("handler failed");
    if (ticks == 6) enough.Set();
  });
  ASSERT_TRUE(enough.Wait());
  t.SetEnabled(false);
  EXPECT_EQ(overlap.load(), 0);
  EXPECT_EQ(error, "handler failed");
}

TEST(Timer, RepeatedEnableDoesNotPostponeTheTick) {
  std::atomic<int> ticks{0};
  testutil::Event ticked;
  TkelTimerEx t;
  t.SetInterval(20);
  t.SetOnTimer([&](TkelTimerEx&) {
    ++ticks;
    ticked.Set();
  });
  // Someone keeps saying "enabled" far more often than the interval.
  std::atomic<bool> stop{false};
  std::thread nag([&] {
    while (!stop) {
      t.SetEnabled(true);
      std::this_thread::sleep_for(1ms);
    }
  });
  EXPECT_TRUE(ticked.Wait());
  stop = true;
  nag.join();
}

TEST(Timer, FreedFromItsOwnTickOrWhileTickingElsewhere) {
  // From inside its own handler.
  testutil::Event freed;
  auto* own = new TkelTimerEx();
  own->SetInterval(1);
  own->SetOnTimer([&](TkelTimerEx& self) {
    delete &self;
    freed.Set();
  });
  EXPECT_TRUE(freed.Wait());
  // From another thread while a tick runs: the tick finishes first.
  testutil::Event inTick;
  std::atomic<bool> finished{false};
  auto* busy = new TkelTimerEx();
  busy->SetInterval(1);
  busy->SetOnTimer([&](TkelTimerEx&) {
    inTick.Set();
    std::this_thread::sleep_for(20ms);
    finished = true;
  });
  ASSERT_TRUE(inTick.Wait());
  delete busy;
  EXPECT_TRUE(finished.load());
}

#ifndef _WIN32
size_t ThreadCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// Every timer of the process is served by one thread, from a queue ordered
// by due time: ticks of different timers never overlap, the earlier due
// goes first, changes from other threads act at once, timers go away from
// anywhere while the others keep ticking, and the thread ends with the last.
TEST(Timer, AllTimersShareOneThreadThatEndsWithTheLast) {
  const size_t before = ThreadCount();
  constexpr int kTimers = 12;
  struct Slot {
    std::unique_ptr<TkelTimerEx> timer;
    std::atomic<int> ticks{0};
    testutil::Event ticked3;
  };
  std::vector<Slot> slots(kTimers);
  std::atomic<int> inside{0}, overlap{0};
  std::mutex m;
  std::vector<std::thread::id> threads;
  std::vector<int> order;  // which of timers 0 and 1 ticked first
  for (int i = 0; i < kTimers; ++i) {
    Slot& slot = slots[static_cast<size_t>(i)];
    slot.timer = std::make_unique<TkelTimerEx>();
    // Timer 0 is due long after timer 1, though made first.
    slot.timer->SetInterval(i == 0 ? 40 : static_cast<uint32_t>(1 + i % 4));
    slot.timer->SetOnTimer([&, i](TkelTimerEx& self) {
      if (inside.fetch_add(1) != 0) ++overlap;
      {
        std::lock_guard<std::mutex> g(m);
        threads.push_back(std::this_thread::get_id());
        if (i < 2 && order.size() < 2) order.push_back(i);
      }
      const int n = ++slots[static_cast<size_t>(i)].ticks;
      inside.fetch_sub(1);
      if (n == 3) slots[static_cast<size_t>(i)].ticked3.Set();
      if (i == kTimers - 1 && n == 3) slots[static_cast<size_t>(i)].timer.reset();  // from its own tick
      (void)self;
    });
  }
  for (Slot& slot : slots) ASSERT_TRUE(slot.ticked3.Wait());
  // Off and on again from another thread, while the others tick.
  // (A tick of it that was running then ends before any other starts.)
  auto othersTickTwice = [&] {
    for (int i = 3; i < kTimers - 1; ++i) {
      const int seen = slots[static_cast<size_t>(i)].ticks.load();
      while (slots[static_cast<size_t>(i)].ticks.load() < seen + 2) std::this_thread::yield();
    }
  };
  std::thread([&] { slots[2].timer->SetEnabled(false); }).join();
  othersTickTwice();
  const int frozen = slots[2].ticks.load();
  othersTickTwice();
  EXPECT_EQ(slots[2].ticks.load(), frozen) << "a disabled timer ticked";
  slots[2].timer->SetEnabled(true);
  while (slots[2].ticks.load() < frozen + 2) std::this_thread::yield();
  // Freed from other threads, half of them at once.
  std::vector<std::thread> freeing;
  for (int i = 0; i < kTimers - 1; i += 2) freeing.emplace_back([&, i] { slots[static_cast<size_t>(i)].timer.reset(); });
  for (auto& t : freeing) t.join();
  for (int i = 1; i < kTimers - 1; i += 2) slots[static_cast<size_t>(i)].timer.reset();
  EXPECT_EQ(overlap.load(), 0);
  EXPECT_EQ(ThreadCount(), before) << "the timer thread outlived the last timer";
  std::lock_guard<std::mutex> g(m);
  for (const auto& id : threads) EXPECT_EQ(id, threads.front());
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], 1) << "the timer due first ticked second";
}
#endif

TEST(Timer, ManualTimersRunNoTicksOfTheirOwn) {
  TkelTimerEx::SetManualTicks(true);
  std::atomic<int> ticks{0};
  {
    TkelTimerEx t;
    t.SetInterval(1);
    t.SetOnTimer([&](TkelTimerEx&) { ++ticks; });
    EXPECT_TRUE(t.Running());
    std::this_thread::sleep_for(10ms);
  }
  TkelTimerEx::SetManualTicks(false);
  EXPECT_EQ(ticks.load(), 0);
}

}  // namespace
}  // namespace kel
