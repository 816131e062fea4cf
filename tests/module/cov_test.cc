// Log on change as a host meets it: subscriptions sent through the
// scheduler at either pace, renewed and cancelled on the test's clock,
// notifications turned into kind-9 records, and the fallbacks to polling.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "module/request_config.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "poll_harness.h"

namespace polltest {
namespace {

const char kSource[] = "1;UDP1;BACnet/IP port 47808\r\n";
const char kPeer[] = "192.168.1.30:47808";
const char kCov[] = "<LogOnChange>1</LogOnChange>";

using TReply = std::function<std::vector<uint8_t>(const SentFrame&)>;

std::vector<uint8_t> AckAll(const SentFrame& f) { return f.subscribe ? SimpleAck(f) : RealAck(f, 1.0f); }

RequestXml TwoItems(const std::string& extra = kCov) {
  RequestXml r;
  r.items = {"D00:1=A", "D00:2=B"};
  r.extra = extra;
  return r;
}

class Cov : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UseFakeClock(); }
  void Start(const std::vector<RequestXml>& requests) {
    Host().Start(ConfigXml(requests));
    Host().Options()->chkFastPace_Checked = GetParam();
    Host().SaveOptions();
    ASSERT_EQ(Host().SetState(kSource), 0);
  }
  uint32_t ProcessId() { return Host().Module()->CovProcessId; }
  // Ticks and answers through reply until a tick sends nothing; the frames
  // sent.  Records answered in ProcessData are counted in polled.
  std::vector<SentFrame> Run(const TReply& reply = AckAll) {
    std::vector<SentFrame> all;
    for (int tick = 0; tick < 50; ++tick) {
      Host().Tick();
      std::vector<SentFrame> out = Host().TakeSent();
      if (out.empty()) break;
      for (size_t i = 0; i < out.size(); ++i) {
        all.push_back(out[i]);
        const std::vector<uint8_t> answer = reply(out[i]);
        if (answer.empty()) continue;
        if (!Host().Receive(answer, kPeer).items.empty()) ++polled;
        for (const SentFrame& next : Host().TakeSent()) out.push_back(next);
      }
    }
    return all;
  }
  // Sends a notification from kPeer; what ProcessData gave back.
  Delivered Notify(uint32_t instance, float value, uint32_t device = 7, uint16_t type = 0) {
    return Host().Receive(CovNotice(ProcessId(), device, type, instance, value), kPeer);
  }
  static std::string Kinds(const std::vector<SentFrame>& frames) {
    std::string s;
    for (const SentFrame& f : frames) {
      s += f.subscribe ? (f.hasLifetime ? "S" : "C") : f.multiple ? "M" : "R";
      s += std::to_string(f.objectInstance);
    }
    return s;
  }
  PollHost& Host() { return *host_; }
  // A host of its own for the next case.
  void Fresh() {
    host_.reset();
    host_ = std::make_unique<PollHost>();
    UseFakeClock();
    polled = 0;
  }
  std::unique_ptr<PollHost> host_ = std::make_unique<PollHost>();
  int polled = 0;
};

INSTANTIATE_TEST_SUITE_P(Paces, Cov, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fast" : "Designed"; });

TEST_P(Cov, SubscribesRenewsAtHalfTheLifetimeReadsBySafetyNetAndCancelsOnReloadAndFree) {
  Start({TwoItems()});
  // Read multiple on: a request logged on change still reads item by item.
  Host().Module()->ReadMultiple = true;
  std::vector<SentFrame> sent = Run();
  ASSERT_EQ(Kinds(sent), "S1S2") << "subscriptions instead of reads";
  for (const SentFrame& f : sent) {
    EXPECT_EQ(f.processId, ProcessId());
    EXPECT_EQ(f.lifetime, 300u);
    EXPECT_EQ(f.address, "192.168.1.30");
  }
  // Interval 1 s: the safety net reads every 60 s, the renewal is due at 150 s.
  struct Step {
    uint64_t at;  // ms after the subscription
    const char* sends;
  };
  const Step steps[] = {{59999, ""}, {60000, "R1R2"}, {119999, ""}, {120000, "R1R2"},
                        {149999, ""}, {150000, "S1S2"}, {209999, ""}, {210000, "R1R2"}};
  uint64_t now = 0;
  for (const Step& s : steps) {
    Advance(s.at - now);
    now = s.at;
    EXPECT_EQ(Kinds(Run()), s.sends) << "at " << s.at;
  }
  EXPECT_EQ(polled, 3) << "a record per safety-net round";
  EXPECT_EQ(Host().TakeLog(), "");

  // The data source opens again: nothing is sent for 15 s, the subscriptions
  // held still take notifications, then they are renewed.
  host::HostValue portOpen;
  portOpen.vt = KEL_VT_BSTR;
  portOpen.text = u"PORT-OPEN";
  ASSERT_EQ(Host().Command("EVENT", {{"EVENT-TYPE", portOpen}}), 0);
  EXPECT_EQ(Kinds(Run()), "");
  Notify(2, 5.0f);
  EXPECT_EQ(Host().TakeKind9().size(), 1u) << "no change lost while the port settles";
  Advance(15000);
  EXPECT_EQ(Kinds(Run()), "S1S2");

  // A reload cancels (no lifetime) and subscribes again.
  ASSERT_EQ(Host().SetState(kSource), 0);
  EXPECT_EQ(Kinds(Host().TakeSent()), "C1C2");
  EXPECT_EQ(Kinds(Run()), "S1S2");
  Host().Free();
  const std::vector<SentFrame> last = Host().TakeSent();
  EXPECT_EQ(Kinds(last), "C1C2");
  for (const SentFrame& f : last) EXPECT_EQ(f.processId, last[0].processId);
}

TEST_P(Cov, NotificationsMakeKind9RecordsMergedWithinTheMinimalInterval) {
  Start({TwoItems()});
  Run();
  Host().Module()->MinSendSpacingMs = 500;
  // The first notification goes at once, with the group's layout.
  EXPECT_TRUE(Notify(1, 1.5f).items.empty()) << "not in the ProcessData output";
  std::vector<host::ParsedRecord> records = Host().TakeKind9();
  ASSERT_EQ(records.size(), 1u);
  auto v = ByName(records[0].items);
  EXPECT_EQ(v["DEV_ID"].ToInt(), 7);
  EXPECT_EQ(v["REMOTE_ADDRESS"].ToText(), "192.168.1.30:47808");
  EXPECT_DOUBLE_EQ(v["A"].d, 1.5);
  EXPECT_EQ(v.count("B"), 0u) << "no value yet";
  // Within 500 ms of it: merged, last value wins, sent when the interval ends.
  Advance(100);
  Notify(1, 2.5f);
  Advance(100);
  Notify(1, 3.5f);
  Notify(2, 9.0f);
  Advance(299);
  Host().Tick();
  EXPECT_TRUE(Host().TakeKind9().empty());
  Advance(1);
  Host().Tick();
  records = Host().TakeKind9();
  ASSERT_EQ(records.size(), 1u) << "the merged record is not lost";
  v = ByName(records[0].items);
  EXPECT_DOUBLE_EQ(v["A"].d, 3.5);
  EXPECT_DOUBLE_EQ(v["B"].d, 9.0);
  Host().Tick();
  EXPECT_TRUE(Host().TakeKind9().empty()) << "sent once";
  // After a quiet interval a notification goes at once again.
  Advance(600);
  Notify(2, 10.0f);
  EXPECT_EQ(Host().TakeKind9().size(), 1u);
  EXPECT_TRUE(Host().TakeSent().empty()) << "an unconfirmed notification is not answered";
}

TEST_P(Cov, ForeignNotificationsAreDroppedAndConfirmedOnesOfOursAnswered) {
  Start({TwoItems()});
  Run();
  Notify(1, 1.0f);
  ASSERT_EQ(Host().TakeKind9().size(), 1u);
  struct Case {
    const char* what;
    std::vector<uint8_t> frame;
    std::string peer;
  };
  const uint32_t pid = ProcessId();
  const Case cases[] = {
      {"another process id", CovNotice(pid + 1, 7, 0, 1, 66.0f), kPeer},
      {"another device at the address", CovNotice(pid, 8, 0, 1, 66.0f), kPeer},
      {"the device's instance from another address", CovNotice(pid, 7, 0, 1, 66.0f), "192.168.1.31:47808"},
      {"another port", CovNotice(pid, 7, 0, 1, 66.0f), "192.168.1.30:47809"},
      {"an object not subscribed", CovNotice(pid, 7, 0, 9, 66.0f), kPeer},
      {"another type of the instance", CovNotice(pid, 7, 1, 1, 66.0f), kPeer},
      {"confirmed, another process id", CovNotice(pid + 1, 7, 0, 1, 66.0f, true, 9), kPeer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Advance(1000);
    EXPECT_TRUE(Host().Receive(c.frame, c.peer).items.empty());
    Host().Tick();
    EXPECT_TRUE(Host().TakeKind9().empty());
    EXPECT_TRUE(Host().TakeSent().empty()) << "no answer, nothing sent";
  }
  // A confirmed one of ours: Simple-ACK with its invoke identifier, and the
  // record still holds A's own value.
  Advance(1000);
  Host().Receive(CovNotice(pid, 7, 0, 2, 4.0f, true, 0x42), kPeer);
  const std::vector<SentFrame> acks = Host().TakeSent();
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_TRUE(acks[0].simpleAck);
  EXPECT_EQ(acks[0].invokeId, 0x42);
  EXPECT_EQ(acks[0].address, "192.168.1.30");
  const std::vector<host::ParsedRecord> records = Host().TakeKind9();
  ASSERT_EQ(records.size(), 1u);
  auto v = ByName(records[0].items);
  EXPECT_DOUBLE_EQ(v["A"].d, 1.0);
  EXPECT_DOUBLE_EQ(v["B"].d, 4.0);
}

TEST_P(Cov, ARefusedOrUnansweredSubscriptionPollsTheRequestWithOneLineForTheDevice) {
  struct Case {
    const char* what;
    TReply refuse;  // the answer to object 2's subscription
    const char* reason;
  };
  const Case cases[] = {
      {"Error", [](const SentFrame& f) { return ErrorAnswer(f, 5, 43); }, "Services, Cov Subscription Failed"},
      {"Reject", [](const SentFrame& f) { return Refusal(f, 0x60, 9); }, "Communication, Reject Unrecognized Service"},
      {"Abort", [](const SentFrame& f) { return Refusal(f, 0x70, 4); }, "Communication, Abort Segmentation Not Supported"},
      {"no answer", [](const SentFrame&) { return std::vector<uint8_t>(); }, "Request timeout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    // Two requests of one device: object 1 subscribes, 2 and 3 are refused.
    RequestXml second;
    second.caption = "Second";
    second.items = {"D00:3=C"};
    second.extra = kCov;
    Start({TwoItems(), second});
    const TReply reply = [&](const SentFrame& f) {
      if (f.subscribe && f.objectInstance != 1 && f.hasLifetime) return c.refuse(f);
      return AckAll(f);
    };
    std::string kinds = Kinds(Run(reply));
    for (int i = 0; i < 10; ++i) {
      Advance(1500);  // the tries of a silent device, one at a time at the designed pace
      kinds += Kinds(Run(reply));
    }
    // Object 1's subscription is cancelled once its group is polled.
    EXPECT_NE(kinds.find("S1"), std::string::npos) << kinds;
    EXPECT_NE(kinds.find("C1"), std::string::npos) << kinds;
    EXPECT_NE(kinds.find("R1"), std::string::npos) << kinds;
    EXPECT_NE(kinds.find("R2"), std::string::npos) << kinds;
    EXPECT_NE(kinds.find("R3"), std::string::npos) << kinds;
    const std::string log = Host().TakeLog();
    EXPECT_NE(log.find("No log on change with device 7 at 192.168.1.30:47808 (" + std::string(c.reason)),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("No log on change", log.find("No log on change") + 1), std::string::npos) << "one line";
    EXPECT_GE(polled, 2) << "both requests give polled records";
    // From now on only reads, at the request's interval.
    Advance(200000);
    EXPECT_EQ(Kinds(Run(reply)).find('S'), std::string::npos);
    Advance(1000);
    const std::string reads = Kinds(Run(reply));
    EXPECT_EQ(reads.size(), 6u) << reads;
    for (const char* r : {"R1", "R2", "R3"}) EXPECT_NE(reads.find(r), std::string::npos) << reads;
  }
}

TEST(CovConfig, LifetimeAndSafetyNetFromTheRequest) {
  struct Case {
    std::string extra;
    int32_t interval;
    uint32_t lifetime;
    int32_t safetyNetMs;
  };
  const Case cases[] = {
      {kCov, 1000, 300, 60000},                                                  // ten intervals, at least 60 s
      {kCov, 10000, 300, 100000},                                                // ten intervals
      {std::string(kCov) + "<CovLifetime>5</CovLifetime>", 1000, 10, 60000},     // held to 10 s at least
      {std::string(kCov) + "<SafetyNetPoll>30</SafetyNetPoll>", 1000, 300, 30000},
      {"<LogOnChange>0</LogOnChange><CovLifetime>60</CovLifetime>", 1000, 0, 0},  // off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    RequestXml r;
    r.items = {"D00:1=A"};
    r.interval = c.interval;
    r.poll = false;
    r.extra = c.extra;
    std::vector<std::unique_ptr<bacnet_module::TRequestItem>> items;
    bacnet_module::ReadRequestConfig(ConfigXml({r}), [&](auto item) { items.push_back(std::move(item)); });
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->LogOnChange, c.lifetime != 0);
    EXPECT_EQ(items[0]->CovLifetime, c.lifetime);
    EXPECT_EQ(items[0]->SafetyNetMs, c.safetyNetMs);
    EXPECT_EQ(items[0]->Poll, c.lifetime != 0) << "kept due while subscribed";
  }
}

}  // namespace
}  // namespace polltest
