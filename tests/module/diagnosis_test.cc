// What the module knows of its devices: the line after each time-out,
// DEVICE-STATUS, and the registration as a foreign device with a broadcast
// manager, on the test's clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "poll_harness.h"
#include "runtime/settings/proxy_code_object.h"

namespace polltest {
namespace {

const char kSource[] = "1;UDP1;BACnet/IP 192.168.1.5:47808\r\n";

class Knowledge : public ::testing::Test {
 protected:
  void SetUp() override { UseFakeClock(); }
  void Start(const std::vector<RequestXml>& requests, const std::function<void(kel::TProxyCodeObject&)>& options = {}) {
    host.Start(ConfigXml(requests));
    if (options) host.SetOptions(options);
    ASSERT_EQ(host.SetState(kSource), 0);
  }
  // Ticks once; answers a ReadProperty with how(frame), or leaves it unanswered.
  std::vector<SentFrame> Tick(const std::function<std::vector<uint8_t>(const SentFrame&)>& how = {}) {
    host.Tick();
    std::vector<SentFrame> sent = host.TakeSent();
    for (const SentFrame& f : sent)
      if (how && !f.whoIs && f.function != 0x05 && f.function != 0x08)
        host.Receive(how(f), f.address + ":" + std::to_string(f.port));
    return sent;
  }
  // Lets the request in hand go unanswered until it is given up; the log
  // line after the time-out line.
  std::string Silence() {
    for (int i = 0; i < 3; ++i) {
      Advance(1500);
      host.Tick();
    }
    host.TakeSent();
    const std::string log = host.TakeLog();
    const size_t second = log.find("\r\n\x02");
    EXPECT_NE(log.find("Request timeout: "), std::string::npos) << log;
    return second == std::string::npos ? std::string() : log.substr(second + 3);
  }
  PollHost host;
};

RequestXml Device(const std::string& endpoint, const std::string& instance, const std::string& caption) {
  RequestXml r;
  r.caption = caption;
  r.endpoint = endpoint;
  r.instances = instance;
  r.items = {"D00:1=T"};
  return r;
}

const auto kValue = [](const SentFrame& f) { return RealAck(f, 1.5f); };

TEST_F(Knowledge, EachTimeOutIsExplainedByWhatTheDataSourceKnows) {
  // Device 7 answers; device 8 never did, and an I-Am from its address named 4001.
  Start({Device("192.168.1.30:47808", "7", "A"), Device("192.168.1.31:47808", "8", "B")});
  host.Receive(IAmFrame(4001), "192.168.1.31:47808");
  Tick(kValue);  // 7 answers
  Tick();        // 8 is asked
  std::string line = Silence();
  EXPECT_NE(line.find("3 tries, 1500 ms apart, no answer from device 8 at 192.168.1.31:47808; no answer since the "
                      "configuration was loaded; the address may be wrong, or the device instance (an I-Am from this "
                      "address named instance 4001); other devices on this data source answered in the last minute"),
            std::string::npos)
      << line;

}

TEST_F(Knowledge, AfterAnErrorAnswerAndLongQuietTheLineNamesBoth) {
  Start({Device("192.168.1.30:47808", "7", "A")});
  Tick([](const SentFrame& f) { return ErrorAnswer(f, 2, 32); });
  host.TakeLog();
  Advance(120000);
  Tick();
  const std::string line = Silence();
  EXPECT_NE(line.find("no answer from device 7 at 192.168.1.30:47808; last answer 2 min 4 s ago; its last answer was "
                      "an error, 2 min 4 s ago: "),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("nothing has answered on this data source for 2 min 4 s: check the logger's bind address"),
            std::string::npos)
      << line;
}

TEST_F(Knowledge, ARoutedDeviceIsNamedWithItsRouteAndTheLineCanBeTurnedOff) {
  for (const bool on : {true, false}) {
    PollHost& h = host;
    h.Start(ConfigXml({Device("192.168.1.255", "1201", "Routed")}));
    h.SetOptions([&](kel::TProxyCodeObject& o) { o.chkDiagnosis_Checked = on; });
    ASSERT_EQ(h.SetState(kSource), 0);
    Tick();  // the Who-Is
    h.Receive(Routed(IAmFrame(1201), 5, {12}), "192.168.1.1:47808");
    Tick();
    const std::string log = [&] {
      for (int i = 0; i < 3; ++i) {
        Advance(1500);
        h.Tick();
      }
      return h.TakeLog();
    }();
    const size_t lines = std::count(log.begin(), log.end(), '\n');
    if (!on) {
      EXPECT_EQ(lines, 1u) << "the documented line alone: " << log;
      continue;
    }
    EXPECT_EQ(lines, 2u) << log;
    EXPECT_NE(log.find("no answer from device 1201 at 192.168.1.1:47808 (via router, network 5, station 12)"),
              std::string::npos)
        << log;
    h.Free();
  }
}

TEST_F(Knowledge, DeviceStatusListsEveryDeviceAskedWithItsFigures) {
  Start({Device("192.168.1.30:47808", "7", "A")});
  // Two answers, 40 ms and 20 ms after their requests, then a time-out.
  for (const uint64_t rtt : {40u, 20u}) {
    host.Tick();
    for (const SentFrame& f : host.TakeSent()) {
      Advance(rtt);
      host.Receive(RealAck(f, 2.0f), "192.168.1.30:47808");
    }
    Advance(1000);
  }
  host.Tick();
  Silence();
  const std::string text = host.Plugin()->PortModules()[0]->DeviceStatusText();
  EXPECT_EQ(text, "source=1 device=7 address=192.168.1.30:47808 answers=2 timeouts=1 rtt-avg-ms=30 rtt-max-ms=40 "
                  "last-answer-s-ago=5\r\n");
  EXPECT_EQ(host.Command("DEVICE-STATUS"), 0);
}

const auto kFast = [](kel::TProxyCodeObject& o) { o.chkFastPace_Checked = true; };

TEST_F(Knowledge, AtTheFastPaceAnswersAreCountedAndATimeOutIsExplained) {
  Start({Device("192.168.1.30:47808", "7", "A"), Device("192.168.1.31:47808", "8", "B")}, kFast);
  host.Tick();
  const std::vector<SentFrame> out = host.TakeSent();
  ASSERT_EQ(out.size(), 2u) << "both in flight";
  Advance(25);
  for (const SentFrame& f : out)
    if (f.address == "192.168.1.30") host.Receive(RealAck(f, 1.0f), "192.168.1.30:47808");
  EXPECT_EQ(Silence(),
            "Bacnet/IP. 3 tries, 1500 ms apart, no answer from device 8 at 192.168.1.31:47808; no answer since the configuration "
            "was loaded; the address may be wrong, or the device instance; other devices on this data source answered "
            "in the last minute, so the network path is up: the device or its router is not answering\r\n");
  const std::string status = host.Plugin()->PortModules()[0]->DeviceStatusText();
  EXPECT_NE(status.find("device=7 address=192.168.1.30:47808 answers=1 timeouts=0 rtt-avg-ms=25 rtt-max-ms=25"),
            std::string::npos)
      << status;
  EXPECT_NE(status.find("device=8 address=192.168.1.31:47808 answers=0 timeouts=1"), std::string::npos) << status;
}

TEST_F(Knowledge, ASendTheHostGivesUpIsExplainedWithTheTriesItHadAtBothPaces) {
  // The host gives the send up (-102) at the first try or at the third.
  for (const bool fast : {false, true})
    for (const int failingTry : {1, 3}) {
      SCOPED_TRACE(std::string(fast ? "fast" : "designed") + " pace, try " + std::to_string(failingTry));
      PollHost h;
      h.Start(ConfigXml({Device("192.168.1.30:47808", "7", "A")}));
      h.SetOptions([&](kel::TProxyCodeObject& o) { o.chkFastPace_Checked = fast; });
      ASSERT_EQ(h.SetState(kSource), 0);
      for (int attempt = 1; attempt <= failingTry; ++attempt) {
        if (attempt == failingTry) h.SendResult = bacnet_module::kSendTimedOut;
        if (attempt > 1) Advance(1500);
        h.Tick();
      }
      const std::string log = h.TakeLog();
      EXPECT_NE(log.find("Request timeout: A (192.168.1.30:47808)\r\n"), std::string::npos) << log;
      EXPECT_NE(log.find(failingTry == 1 ? "\x02" "Bacnet/IP. 1 try, no answer from device 7 at 192.168.1.30:47808; "
                                         : "\x02" "Bacnet/IP. 3 tries, 1500 ms apart, no answer from device 7 at "),
                std::string::npos)
          << log;
      // The next send has its full tries again: the first silence is a resend.
      h.TakeSent();
      h.SendResult = 0;
      Advance(1000);
      h.Tick();
      ASSERT_EQ(h.TakeSent().size(), 1u);
      Advance(1500);
      h.Tick();
      EXPECT_EQ(h.TakeSent().size(), 1u);
      EXPECT_EQ(h.TakeLog(), "") << "no time-out after one silence";
      h.Free();
    }
}

// ---- foreign-device registration ----------------------------------------

std::vector<uint8_t> BvlcResult(uint16_t code) {
  return {0x81, 0x00, 0x00, 0x06, static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
}

const auto kManager = [](kel::TProxyCodeObject& o) {
  o.edtBbmd_Text = "10.0.0.1";
  o.spBbmdPort_Value = 47809;
  o.spBbmdTtl_Value = 120;
};

// The management frames among what went out.
std::vector<SentFrame> Management(const std::vector<SentFrame>& sent) {
  std::vector<SentFrame> m;
  for (const SentFrame& f : sent)
    if (f.function == 0x05 || f.function == 0x08) m.push_back(f);
  return m;
}

TEST_F(Knowledge, RegistrationIsRenewedAtHalfItsTimeToLiveAndABroadcastWhoIsGoesThroughTheManager) {
  Start({Device("192.168.1.255", "*", "All")}, kManager);
  std::vector<SentFrame> sent = Tick();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].address, "10.0.0.1");
  EXPECT_EQ(sent[0].port, 47809);
  EXPECT_EQ(sent[0].octets, (std::vector<uint8_t>{0x81, 0x05, 0x00, 0x06, 0x00, 120}));
  // The broadcast waits for the manager's answer...
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_TRUE(Tick().empty());
  host.Receive(BvlcResult(0), "10.0.0.1:47809");
  EXPECT_EQ(host.TakeLog(), "") << "a first success is no news";
  // ...and, registered, is distributed by the manager.
  sent = Tick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].function, 0x09);
  EXPECT_EQ(sent[0].address, "10.0.0.1");
  EXPECT_TRUE(sent[0].whoIs);
  // Renewed 60 s after the answer, not before.
  Advance(59999);
  EXPECT_TRUE(Management(Tick()).empty());
  Advance(1);
  sent = Management(Tick());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].function, 0x05);
  host.Receive(BvlcResult(0), "10.0.0.1:47809");
  // Closing the data source deletes its entry, naming this data source's endpoint.
  ASSERT_EQ(host.SetState(kSource, 0), 0);
  sent = Management(host.TakeSent());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].octets, (std::vector<uint8_t>{0x81, 0x08, 0x00, 0x0A, 192, 168, 1, 5, 0xBA, 0xC0}));
}

TEST_F(Knowledge, ARefusedOrUnansweredRegistrationIsWarnedAndTriedAgainLaterEachTime) {
  Start({Device("192.168.1.30:47808", "7", "A")}, kManager);
  // Refused, then silent twice, then accepted: 30, 60, then 120 s (the time
  // to live caps the pause).
  struct Step {
    const char* answer;  // "nak", "none", "ok"
    uint64_t nextAfterMs;
    const char* log;
  };
  const Step steps[] = {
      {"nak", 30000, "Broadcast manager 10.0.0.1:47809 refused the foreign-device registration (result 0x0030); next try in 30 s"},
      {"none", 60000, "Broadcast manager 10.0.0.1:47809 did not answer the foreign-device registration; next try in 60 s"},
      {"none", 120000, "did not answer the foreign-device registration; next try in 120 s"},
      {"ok", 60000, "Registered as a foreign device with broadcast manager 10.0.0.1:47809 again"},
  };
  uint64_t waited = 0;
  for (const Step& s : steps) {
    std::vector<SentFrame> reg = Management(Tick(kValue));
    ASSERT_EQ(reg.size(), 1u) << s.answer << " after " << waited;
    if (std::string(s.answer) == "nak") host.Receive(BvlcResult(0x0030), "10.0.0.1:47809");
    if (std::string(s.answer) == "ok") host.Receive(BvlcResult(0), "10.0.0.1:47809");
    if (std::string(s.answer) == "none") {
      Advance(3000);
      Tick(kValue);
    }
    const std::string log = host.TakeLog();
    EXPECT_NE(log.find(s.log), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << "one line: " << log;
    // Nothing until the pause is over.
    Advance(s.nextAfterMs - 1);
    EXPECT_TRUE(Management(Tick(kValue)).empty()) << s.answer;
    Advance(1);
    waited += s.nextAfterMs;
  }
}

}  // namespace
}  // namespace polltest
