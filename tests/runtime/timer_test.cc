// The timer component on its own thread: ticks, changes from other threads,
// and destruction from anywhere, its own tick included.
#include "runtime/timing/timer_ex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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
