// Polling under load from every side at once: real timers ticking against a
// device that answers at once, answers handed in on two host threads, state
// changes adding and removing data sources, LOAD and UNLOAD, and finally
// the instance freed while it polls.  Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "module/ta_plugin.h"
#include "poll_harness.h"
#include "runtime/timing/kel_timeout.h"

namespace polltest {
namespace {

using namespace std::chrono_literals;

// Ends the test program if the test hangs: a deadlock must fail, not wait.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds bound) {
    thread_ = std::thread([this, bound] {
      std::unique_lock<std::mutex> l(m_);
      if (!cv_.wait_for(l, bound, [this] { return done_; })) {
        std::fprintf(stderr, "watchdog: the test did not finish in time (deadlock?)\n");
        std::abort();
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> g(m_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// The network between the module and its devices: frames sent wait here
// until one of the host's receiving threads answers them.
class Network {
 public:
  void Put(const SentFrame& f) {
    std::lock_guard<std::mutex> g(m_);
    frames_.push_back(f);
    cv_.notify_one();
  }
  bool Take(SentFrame& f) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait_for(l, 20ms, [this] { return !frames_.empty() || closed_; });
    if (frames_.empty()) return !closed_;
    f = frames_.front();
    frames_.pop_front();
    return true;
  }
  void Close() {
    std::lock_guard<std::mutex> g(m_);
    closed_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<SentFrame> frames_;
  bool closed_ = false;
};

// The host's receiving side: each answer carries a value never used
// before, so a record delivered twice shows up as a repeated value of its
// group's last item (named LAST).  Receive runs on each receiving thread.
class Receivers {
 public:
  Receivers(PollHost& host, Network& net) : host_(host), net_(net) {}
  void Receive() {
    SentFrame f;
    while (net_.Take(f)) {
      if (f.octets.empty() || f.simpleAck) continue;  // a notification's acknowledgement needs no answer
      const float value = static_cast<float>(serial.fetch_add(1) + 1);
      const std::string peer = f.address + ":" + std::to_string(f.port);
      // The answer comes back through the data source the request left by.
      // A ReadPropertyMultiple gets every object the value base + instance;
      // a subscription its Simple-ACK.
      const std::vector<uint8_t> answer =
          f.subscribe ? SimpleAck(f) : f.multiple ? MultipleAck(f, value) : RealAck(f, value);
      auto v = ByName(host_.Receive(answer, peer, f.dataSourceId).items);
      if (v.count("LAST")) {
        std::lock_guard<std::mutex> g(rowsLock_);
        lastValues_.insert(v["LAST"].d);
        ++rows;
      }
      f = SentFrame();
    }
  }
  void ExpectEachRecordOnce() {
    std::lock_guard<std::mutex> g(rowsLock_);
    for (double v : lastValues_) EXPECT_EQ(lastValues_.count(v), 1u) << "an answer delivered twice: " << v;
  }

  std::atomic<uint32_t> serial{0};  // answers given
  std::atomic<int> rows{0};         // records with LAST

 private:
  PollHost& host_;
  Network& net_;
  std::mutex rowsLock_;
  std::multiset<double> lastValues_;
};

TEST(PollingStress, EverythingAtOnceThenFreedWhilePolling) {
  Watchdog watchdog(std::chrono::seconds(120));
  kel::SetTimeoutClock(kel::TTickClock{});  // the system's clock
  PollHost host(false);
  Network net;
  std::atomic<int> sentCount{0};
  host.OnSent = [&](const SentFrame& f) { ++sentCount; net.Put(f); };
  RequestXml a;
  a.interval = 0;
  a.timeout = 200;
  a.instances = "7;8";
  a.items = {"D00:1=A1", "D00:2=A2", "D00:3=LAST"};
  RequestXml b = a;
  b.endpoint = "192.168.1.31";
  b.instances = "9";
  b.items = {"D02:1=B1", "D02:2=LAST"};
  host.Start(ConfigXml({a, b}));
  ASSERT_EQ(host.SetState("1;A;a\r\n2;B;b\r\n"), 0);

  Receivers answers(host, net);
  std::atomic<bool> stop{false};
  std::thread r1([&] { answers.Receive(); }), r2([&] { answers.Receive(); });
  std::thread commands([&] {
    const char* sets[] = {"1;A;a\r\n", "1;A;a\r\n2;B;b\r\n", "2;B;b\r\n", "1;A;a\r\n2;B;b\r\n"};
    for (int i = 0; i < 24 && !stop; ++i) {
      host.SetState(sets[i % 4]);
      if (i % 6 == 5) {
        host.Command("UNLOAD");
        host.Command("LOAD");
        host.SetState(sets[1]);
      }
      std::this_thread::sleep_for(15ms);
    }
  });
  commands.join();
  // Polling runs at full speed now; wait for a good number of records.
  for (int i = 0; i < 400 && answers.rows.load() < 40; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_GE(answers.rows.load(), 10) << "polling made progress; frames sent " << sentCount.load() << " answers " << answers.serial.load() << "\n" << host.TakeLog();
  // Freed while its timers tick and answers are on their way.
  host.Free();
  stop = true;
  net.Close();
  r1.join();
  r2.join();
  answers.ExpectEachRecordOnce();
}

// With readMultiple each request carries a group's three items.
void FastPaceAnswersOnTwoThreads(bool readMultiple) {
  Watchdog watchdog(std::chrono::seconds(120));
  kel::SetTimeoutClock(kel::TTickClock{});
  PollHost host(false);
  Network net;
  host.OnSent = [&](const SentFrame& f) { net.Put(f); };
  std::vector<RequestXml> requests;
  for (int d = 0; d < 6; ++d) {
    RequestXml r;
    r.endpoint = "192.168.1." + std::to_string(30 + d);
    r.instances = std::to_string(10 + d);
    r.interval = 0;
    r.timeout = 200;
    r.items = {"D00:1=A", "D00:2=B", "D00:3=LAST"};
    requests.push_back(r);
  }
  host.Start(ConfigXml(requests));
  host.Options()->chkFastPace_Checked = true;
  host.Options()->spInFlight_Value = 4;
  host.Options()->spInFlightDev_Value = 2;
  host.Options()->chkReadMultiple_Checked = readMultiple;
  host.SaveOptions();
  ASSERT_EQ(host.SetState("1;A;a\r\n"), 0);
  Receivers answers(host, net);
  std::thread r1([&] { answers.Receive(); }), r2([&] { answers.Receive(); });
  for (int i = 0; i < 500 && answers.rows.load() < 60; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_GE(answers.rows.load(), 20) << host.TakeLog();
  // The data source goes while answers are on their way, then the instance.
  host.SetState("");
  host.Free();
  net.Close();
  r1.join();
  r2.join();
  answers.ExpectEachRecordOnce();
}

TEST(PollingStress, FastPaceAnswersOnTwoThreadsThenTheSourceRemovedAndTheInstanceFreed) {
  FastPaceAnswersOnTwoThreads(false);
}

TEST(PollingStress, ReadPropertyMultipleAtTheFastPaceAnswersOnTwoThreadsThenTheSourceRemoved) {
  FastPaceAnswersOnTwoThreads(true);
}

TEST(PollingStress, LogOnChangeWithNotificationsOnAThirdThreadWhileSourcesComeAndGo) {
  Watchdog watchdog(std::chrono::seconds(120));
  kel::SetTimeoutClock(kel::TTickClock{});
  PollHost host(false);
  Network net;
  // The process identifier each data source subscribes with, as sent.
  std::atomic<uint32_t> process[3] = {0, 0, 0};
  host.OnSent = [&](const SentFrame& f) {
    if (f.subscribe && f.dataSourceId >= 1 && f.dataSourceId <= 2) process[f.dataSourceId] = f.processId;
    net.Put(f);
  };
  RequestXml r;
  r.interval = 50;
  r.timeout = 200;
  r.items = {"D00:1=A", "D00:2=B", "D00:3=LAST"};
  r.extra = "<LogOnChange>1</LogOnChange><SafetyNetPoll>1</SafetyNetPoll><CovLifetime>10</CovLifetime>";
  RequestXml other = r;
  other.endpoint = "192.168.1.31";
  other.instances = "8";
  host.Start(ConfigXml({r, other}));
  host.Options()->spMinInt_Value = 5;  // merged records, flushed by the tick
  host.SaveOptions();
  ASSERT_EQ(host.SetState("1;A;a\r\n2;B;b\r\n"), 0);
  std::atomic<bool> stop{false};
  Receivers answers(host, net);
  std::thread r1([&] { answers.Receive(); }), r2([&] { answers.Receive(); });
  std::thread notifier([&] {
    for (uint32_t n = 0; !stop; ++n) {
      const int ds = 1 + static_cast<int>(n % 2);
      const bool second = n % 4 >= 2;
      host.Receive(CovNotice(process[ds].load(), second ? 8 : 7, 0, 1 + n % 3, static_cast<float>(n), n % 5 == 0, 1),
                   second ? "192.168.1.31:47808" : "192.168.1.30:47808", ds);
      if (n % 64 == 0) std::this_thread::sleep_for(1ms);
    }
  });
  const char* sets[] = {"1;A;a\r\n", "1;A;a\r\n2;B;b\r\n", "2;B;b\r\n", "1;A;a\r\n2;B;b\r\n"};
  for (int i = 0; i < 16; ++i) {
    host.SetState(sets[i % 4]);
    if (i % 6 == 5) {
      host.Command("UNLOAD");
      host.Command("LOAD");
      host.SetState(sets[1]);
    }
    std::this_thread::sleep_for(30ms);
  }
  size_t records = 0;
  for (int i = 0; i < 300 && records < 20; ++i) {
    records += host.TakeKind9().size();
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_GE(records, 20u) << "notifications made records between the changes\n" << host.TakeLog();
  // The test's host reads its handle unguarded: the notifier ends first, the
  // answers still come while the instance is freed.
  stop = true;
  notifier.join();
  host.Free();
  net.Close();
  r1.join();
  r2.join();
}

}  // namespace
}  // namespace polltest
