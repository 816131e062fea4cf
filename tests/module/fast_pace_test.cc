// The fast pace as a host meets it: many requests in flight, the next sent
// from inside the answer's ProcessData, answers matched by source and
// invoke identifier.  The clock and the ticks are the test's.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "poll_harness.h"

namespace polltest {
namespace {

const char kSource[] = "1;UDP1;BACnet/IP port 47808\r\n";

std::string Peer(const SentFrame& f) { return f.address + ":" + std::to_string(f.port); }

struct Pace {
  int inFlight = 16;
  int perDevice = 1;
  int spacingMs = 0;
};

class FastPace : public ::testing::Test {
 protected:
  void SetUp() override { UseFakeClock(); }
  void Start(const std::vector<RequestXml>& requests, const Pace& pace) {
    host.Start(ConfigXml(requests));
    auto* cfg = host.Options();
    cfg->chkFastPace_Checked = true;
    cfg->spInFlight_Value = pace.inFlight;
    cfg->spInFlightDev_Value = pace.perDevice;
    cfg->spMinInt_Value = pace.spacingMs;
    host.SaveOptions();
    ASSERT_EQ(host.SetState(kSource), 0);
  }
  // Requests of one item each to devices .30, .31, ... (items per device).
  static std::vector<RequestXml> Devices(int devices, int itemsPerDevice, int interval = 1000) {
    std::vector<RequestXml> out;
    for (int d = 0; d < devices; ++d)
      for (int i = 0; i < itemsPerDevice; ++i) {
        RequestXml r;
        r.caption = "D" + std::to_string(d) + "I" + std::to_string(i);
        r.endpoint = "192.168.1." + std::to_string(30 + d) + ":47808";
        r.instances = std::to_string(100 + d);
        r.interval = interval;
        r.items = {"D00:" + std::to_string(i + 1) + "=V" + std::to_string(d) + "_" + std::to_string(i)};
        out.push_back(r);
      }
    return out;
  }
  PollHost host;
};

TEST_F(FastPace, TheWindowHoldsNRequestsAndMPerDeviceAndAnAnswerSendsTheNextAtOnce) {
  struct Case {
    Pace pace;
    size_t first;  // sends of the first tick
  };
  const Case cases[] = {{{16, 1}, 3}, {{16, 2}, 6}, {{4, 2}, 4}, {{2, 1}, 2}, {{16, 3}, 9}, {{255, 255}, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE("in flight " + std::to_string(c.pace.inFlight) + ", per device " + std::to_string(c.pace.perDevice));
    PollHost h;
    h.Start(ConfigXml(Devices(3, 3)));
    h.Options()->chkFastPace_Checked = true;
    h.Options()->spInFlight_Value = c.pace.inFlight;
    h.Options()->spInFlightDev_Value = c.pace.perDevice;
    h.SaveOptions();
    ASSERT_EQ(h.SetState(kSource), 0);
    h.Tick();
    std::vector<SentFrame> out = h.TakeSent();
    ASSERT_EQ(out.size(), c.first);
    std::map<std::string, std::set<uint8_t>> ids;
    for (const SentFrame& f : out) ids[f.address].insert(f.invokeId);
    for (const auto& [address, set] : ids) EXPECT_LE(set.size(), static_cast<size_t>(c.pace.perDevice)) << address;
    for (const auto& [address, set] : ids) {
      const std::string& to = address;  // clang 14 captures no structured binding
      EXPECT_EQ(set.size(), static_cast<size_t>(std::count_if(out.begin(), out.end(), [&](const SentFrame& f) { return f.address == to; }))) << "an invoke identifier per request";
    }
    // Another tick sends nothing while the window is full or every item is out.
    h.Tick();
    EXPECT_TRUE(h.TakeSent().empty());
    // Each answer ends its record and sends the next request before it returns.
    size_t answered = 0;
    while (!out.empty() && answered < 9) {
      const SentFrame f = out.front();
      out.erase(out.begin());
      const Delivered d = h.Receive(RealAck(f, 1.0f), Peer(f));
      EXPECT_EQ(ByName(d.items).count("DEV_ID"), 1u);
      ++answered;
      for (const SentFrame& next : h.TakeSent()) out.push_back(next);
    }
    EXPECT_EQ(answered, 9u) << "every item sent once";
    EXPECT_TRUE(out.empty()) << "and not twice before it is due";
  }
}

TEST_F(FastPace, EveryDueItemIsSentOnceBeforeAnyIsSentTwiceAtIntervalZero) {
  // One device with one item and one with three: answered at once, the lone
  // item must not take every other turn.
  std::vector<RequestXml> requests = Devices(1, 1, 0);
  for (RequestXml& r : Devices(2, 3, 0))
    if (r.endpoint.find(".31:") != std::string::npos) requests.push_back(r);
  Start(requests, {16, 1});
  std::map<std::string, int> sends;  // by item (object instance and device)
  host.Tick();
  std::vector<SentFrame> out = host.TakeSent();
  for (int n = 0; n < 40 && !out.empty(); ++n) {
    const SentFrame f = out.front();
    out.erase(out.begin());
    ++sends[f.address + "/" + std::to_string(f.objectInstance)];
    int least = 1 << 30, most = 0;
    for (const auto& [k, count] : sends) {
      least = std::min(least, count);
      most = std::max(most, count);
    }
    if (sends.size() == 4) {
      EXPECT_LE(most - least, 1) << "after " << n + 1 << " sends";
    }
    host.Receive(RealAck(f, 2.0f), Peer(f));
    for (const SentFrame& next : host.TakeSent()) out.push_back(next);
  }
  ASSERT_EQ(sends.size(), 4u);
  EXPECT_GE(sends["192.168.1.30/1"], 9);
}

TEST_F(FastPace, TheMinimalIntervalSpacesEverySend) {
  Start(Devices(3, 1), {16, 1, 100});
  host.Tick();
  std::vector<SentFrame> first = host.TakeSent();
  ASSERT_EQ(first.size(), 1u) << "one send, then the spacing holds";
  host.Receive(RealAck(first[0], 1.0f), Peer(first[0]));
  EXPECT_TRUE(host.TakeSent().empty()) << "an answer does not cut the spacing short";
  Advance(99);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  Advance(1);
  host.Tick();
  EXPECT_EQ(host.TakeSent().size(), 1u);
}

TEST_F(FastPace, LateAndRepeatedAnswersMakeOneRecord) {
  Start(Devices(1, 1), {16, 1});
  host.Tick();
  const std::vector<SentFrame> first = host.TakeSent();
  ASSERT_EQ(first.size(), 1u);
  Advance(1500);
  host.Tick();
  const std::vector<SentFrame> resend = host.TakeSent();
  ASSERT_EQ(resend.size(), 1u);
  ASSERT_NE(resend[0].invokeId, first[0].invokeId);
  // The first send's answer arrives after the resend: taken, once.
  int records = 0;
  for (const auto& answer : {RealAck(first[0], 5.0f), RealAck(resend[0], 6.0f), RealAck(first[0], 5.0f)}) {
    const Delivered d = host.Receive(answer, Peer(first[0]));
    if (ByName(d.items).count("V0_0")) {
      ++records;
      EXPECT_DOUBLE_EQ(ByName(d.items)["V0_0"].d, 5.0);
    }
  }
  EXPECT_EQ(records, 1);
  EXPECT_TRUE(host.TakeSent().empty()) << "nothing more is due";
  EXPECT_EQ(host.TakeLog(), "");
}

TEST_F(FastPace, AGiveUpFreesItsSlotInTheSameTick) {
  Start(Devices(2, 1), {1, 1});
  host.Tick();
  std::vector<SentFrame> sent = host.TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].address, "192.168.1.30");
  for (int retry = 0; retry < 2; ++retry) {
    Advance(1500);
    host.Tick();
    sent = host.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].address, "192.168.1.30") << "a resend keeps the slot";
  }
  Advance(1500);
  host.Tick();
  // The documented line and its diagnosis, as at the designed pace.
  EXPECT_EQ(host.TakeLog(),
            "\x02" "Bacnet/IP. Request timeout: D0I0 (192.168.1.30:47808)\r\n"
            "\x02" "Bacnet/IP. 3 tries, 1500 ms apart, no answer from device 100 at 192.168.1.30:47808; no answer "
            "since the configuration was loaded; the address may be wrong, or the device instance; nothing has "
            "answered on this data source for 4 s: check the logger's bind address, firewall, and that the devices "
            "are on this subnet or reachable through a broadcast manager\r\n");
  sent = host.TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].address, "192.168.1.31");
}

TEST_F(FastPace, SwitchedToTheDesignedPaceWithRequestsOutTheirAnswersAreNotTaken) {
  Start(Devices(3, 1), {16, 1});
  host.Tick();
  const std::vector<SentFrame> out = host.TakeSent();
  ASSERT_EQ(out.size(), 3u);
  host.Module()->FastPace = false;
  host.Tick();
  const std::vector<SentFrame> designed = host.TakeSent();
  ASSERT_EQ(designed.size(), 1u) << "one request out at a time again";
  for (const SentFrame& f : out)
    if (f.address != designed[0].address || f.invokeId != designed[0].invokeId) {
      EXPECT_TRUE(host.Receive(RealAck(f, 1.0f), Peer(f)).items.empty()) << f.address;
    }
  EXPECT_FALSE(host.Receive(RealAck(designed[0], 1.0f), Peer(designed[0])).items.empty());
  host.Tick();
  EXPECT_EQ(host.TakeSent().size(), 1u);
  // And back: the designed request in hand is forgotten and sent again with
  // the third, the answered one is not due yet.
  host.Module()->FastPace = true;
  host.Tick();
  EXPECT_EQ(host.TakeSent().size(), 2u);
}

TEST_F(FastPace, AnAnswerCountsOnlyFromItsOwnDeviceWhateverTheInvokeIdentifier) {
  Start(Devices(2, 1), {16, 1});
  host.Tick();
  const std::vector<SentFrame> out = host.TakeSent();
  ASSERT_EQ(out.size(), 2u);
  ASSERT_EQ(out[0].invokeId, out[1].invokeId) << "each device counts its own";
  // The same invoke identifier from a third device, from another port of
  // the first, and from behind a router at the first's address: none taken.
  EXPECT_TRUE(host.Receive(RealAck(out[0], 9.0f), "192.168.1.99:47808").items.empty());
  EXPECT_TRUE(host.Receive(RealAck(out[0], 9.0f), "192.168.1.30:47809").items.empty());
  EXPECT_TRUE(host.Receive(Routed(RealAck(out[0], 9.0f), 5, {7}), "192.168.1.30:47808").items.empty());
  // Each device's answer lands under its own DEV_ID.
  for (const SentFrame& f : out) {
    const float value = f.address == "192.168.1.30" ? 30.0f : 31.0f;
    auto v = ByName(host.Receive(RealAck(f, value), Peer(f)).items);
    const int device = f.address == "192.168.1.30" ? 0 : 1;
    EXPECT_EQ(v["DEV_ID"].ToInt(), 100 + device);
    EXPECT_DOUBLE_EQ(v["V" + std::to_string(device) + "_0"].d, value);
  }
}

TEST_F(FastPace, APatternsWhoIsHoldsNoSlotAndIsNotRepeatedByTheAnswersOfOthers) {
  RequestXml pattern;
  pattern.endpoint = "192.168.1.255:47808";
  pattern.instances = "*";
  pattern.interval = 0;
  pattern.items = {"D00:1=P"};
  std::vector<RequestXml> requests = Devices(1, 1, 0);
  requests.push_back(pattern);
  Start(requests, {1, 1});
  host.Tick();
  std::vector<SentFrame> sent = host.TakeSent();
  // Answered at once, the read goes out again after every answer; the
  // Who-Is goes once, then not again for 30 s.
  auto answerReads = [&](int rounds) {
    int whoIs = 0;
    for (int n = 0; n < rounds; ++n) {
      SentFrame read;
      int reads = 0;
      for (const SentFrame& f : sent) f.whoIs ? ++whoIs : (read = f, ++reads);
      EXPECT_EQ(reads, 1) << "one read out at a time, after " << n << " answers";
      if (reads != 1) break;
      host.Receive(RealAck(read, 1.0f), Peer(read));
      sent = host.TakeSent();
    }
    return whoIs;
  };
  EXPECT_EQ(answerReads(20), 1);
  EXPECT_EQ(answerReads(20), 0);
  Advance(30000);
  EXPECT_EQ(answerReads(3), 1);
}

}  // namespace
}  // namespace polltest
