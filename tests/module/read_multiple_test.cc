// A group's items read with ReadPropertyMultiple, at both paces: the split
// at the device's maximum APDU, the ACK's values and property errors, one
// record per group, time-outs per request and the way back to ReadProperty.
// The clock and the ticks are the test's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "poll_harness.h"

namespace polltest {
namespace {

const char kSource[] = "1;UDP1;BACnet/IP port 47808\r\n";
const char kPeer[] = "192.168.1.30:47808";

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The values of a record in its order (the items named V...).
std::vector<std::string> Values(const host::NamedValues& items) {
  std::vector<std::string> out;
  for (const auto& [name, value] : items)
    if (name.size() > 1 && name[0] == 'V') out.push_back(name + "=" + value.ToText());
  return out;
}

class ReadMultiple : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UseFakeClock(); }
  bool Fast() const { return GetParam(); }
  // One group of n items (AI 1..n, named V1..Vn) of device 7 at kPeer.
  static RequestXml Group(int n, const std::string& caption = "G") {
    RequestXml r;
    r.caption = caption;
    r.endpoint = kPeer;
    for (int i = 1; i <= n; ++i) r.items.push_back("D00:" + std::to_string(i) + "=V" + std::to_string(i));
    return r;
  }
  void Start(PollHost& h, const std::vector<RequestXml>& requests, int perDevice = 4) {
    h.Start(ConfigXml(requests));
    auto* cfg = h.Options();
    cfg->chkReadMultiple_Checked = true;
    cfg->chkFastPace_Checked = Fast();
    cfg->spInFlightDev_Value = perDevice;
    h.SaveOptions();
    ASSERT_EQ(h.SetState(kSource), 0);
  }
  // The requests out after a tick (at the fast pace an answer sends the
  // next before it returns; the tick adds what the window still takes).
  static std::vector<SentFrame> Out(PollHost& h) {
    h.Tick();
    return h.TakeSent();
  }
  PollHost host;
};

TEST_P(ReadMultiple, AGroupIsSplitAtTheDevicesMaximumApduAndGivesOneRecordAfterItsLastRequest) {
  struct Case {
    uint16_t maxApdu;  // from the device's I-Am; 0: none seen
    int items;
    std::vector<size_t> requests;
  };
  const Case cases[] = {{0, 30, {22, 8}}, {128, 12, {5, 5, 2}}, {50, 3, {2, 1}}, {1476, 75, {70, 5}}, {480, 1, {1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE("max APDU " + std::to_string(c.maxApdu) + ", " + std::to_string(c.items) + " items");
    PollHost h;
    Start(h, {Group(c.items)});
    if (c.maxApdu) h.Receive(IAmFrame(7, {.maxApdu = c.maxApdu}), kPeer);
    uint32_t next = 1;
    Delivered last;
    for (size_t r = 0; r < c.requests.size(); ++r) {
      const std::vector<SentFrame> out = Out(h);
      ASSERT_EQ(out.size(), 1u) << "request " << r << ": one request of the group out at a time";
      ASSERT_TRUE(out[0].multiple);
      ASSERT_EQ(out[0].objects.size(), c.requests[r]) << "request " << r;
      for (const auto& object : out[0].objects) EXPECT_EQ(object.second, next++) << "the group's order";
      last = h.Receive(MultipleAck(out[0], 0.5f), kPeer);
      if (r + 1 < c.requests.size()) {
        EXPECT_EQ(ByName(last.items).count("DEV_ID"), 0u) << "no record before the last";
      }
    }
    std::vector<std::string> expected;
    for (int i = 1; i <= c.items; ++i) expected.push_back("V" + std::to_string(i) + "=" + std::to_string(i) + ".5");
    EXPECT_EQ(Values(last.items), expected);
    EXPECT_EQ(ByName(last.items)["DEV_ID"].ToText(), "7");
    EXPECT_EQ(ByName(last.items)["REQUEST_DESC"].ToText(), "G");
    EXPECT_TRUE(Out(h).empty()) << "nothing due before the interval";
    EXPECT_EQ(h.TakeLog(), "");
  }
}

TEST_P(ReadMultiple, ValuesAndPropertyErrorsOfOneAckFillTheirItemsWhateverTheOrder) {
  Start(host, {Group(5)});
  std::vector<SentFrame> out = Out(host);
  ASSERT_EQ(out.size(), 1u);
  // Out of order, an error for AI 2, no result for AI 3, one for an object
  // not asked for.
  const std::vector<MultipleResult> results = {
      {0, 5, 5.0f}, {0, 1, 1.0f}, {0, 2, 0, true, 1, 31}, {0, 4, 4.0f}, {0, 99, 9.0f}};
  std::vector<uint8_t> broken = MultipleAck(out[0], results);
  broken.resize(broken.size() - 3);  // ends inside the last value
  broken[3] = static_cast<uint8_t>(broken.size());
  Delivered d = host.Receive(broken, kPeer);
  EXPECT_TRUE(Values(d.items).empty()) << "a broken ACK fills nothing";
  EXPECT_TRUE(Out(host).empty()) << "and leaves the request out";
  Advance(1500);
  out = Out(host);
  ASSERT_EQ(out.size(), 1u) << "resent after its time-out";
  EXPECT_EQ(out[0].objects.size(), 5u);
  d = host.Receive(MultipleAck(out[0], results), kPeer);
  EXPECT_EQ(Values(d.items), (std::vector<std::string>{"V1=1", "V4=4", "V5=5"}));
  EXPECT_EQ(host.TakeLog(), "\x02" "Bacnet/IP. Error response [Object, Unknown Object]\r\n");
  // The next cycle brings the rest; the record keeps the group's order.
  Advance(1000);
  out = Out(host);
  ASSERT_EQ(out.size(), 1u);
  d = host.Receive(MultipleAck(out[0], 10.0f), kPeer);
  EXPECT_EQ(Values(d.items), (std::vector<std::string>{"V1=11", "V2=12", "V3=13", "V4=14", "V5=15"}));
}

TEST_P(ReadMultiple, EachRequestHasItsTriesAndAGivenUpOneGivesOneTimeoutLine) {
  Start(host, {Group(30, "Boiler")});
  std::vector<SentFrame> out = Out(host);
  ASSERT_EQ(out.size(), 1u);
  host.Receive(MultipleAck(out[0], 0.0f), kPeer);
  std::vector<uint8_t> ids;
  for (int attempt = 0; attempt < 3; ++attempt) {
    out = Out(host);
    ASSERT_EQ(out.size(), 1u) << "attempt " << attempt;
    EXPECT_EQ(out[0].objects.size(), 8u) << "the same items again";
    EXPECT_EQ(out[0].objectInstance, 23u);
    ids.push_back(out[0].invokeId);
    Advance(1500);
  }
  EXPECT_NE(ids[0], ids[1]);
  Out(host);  // gives up
  const std::string log = host.TakeLog();
  EXPECT_EQ(log.rfind("\x02" "Bacnet/IP. Request timeout: Boiler (192.168.1.30:47808)\r\n", 0), 0u) << log;
  EXPECT_EQ(Count(log, "Request timeout"), 1u) << "one line, and its diagnosis";
  const std::vector<host::ParsedRecord> records = host.TakeKind9();
  ASSERT_EQ(records.size(), 1u) << "one record, after the request given up";
  EXPECT_EQ(Values(records[0].items).size(), 22u);
}

TEST_P(ReadMultiple, ADeviceThatRefusesIsReadWithReadPropertyAtOnceAndUntilTheConfigurationIsLoadedAgain) {
  struct Case {
    const char* what;
    std::vector<uint8_t> (*answer)(const SentFrame&);
    bool fallsBack;
    const char* text;
  };
  const Case cases[] = {
      {"Reject unrecognized service", [](const SentFrame& f) { return Refusal(f, 0x60, 9); }, true,
       "Unrecognized Service"},
      {"Reject invalid tag", [](const SentFrame& f) { return Refusal(f, 0x60, 4); }, true, "Invalid Tag"},
      {"Abort segmentation", [](const SentFrame& f) { return Refusal(f, 0x71, 4); }, true,
       "Segmentation Not Supported"},
      {"Abort buffer overflow", [](const SentFrame& f) { return Refusal(f, 0x71, 1); }, true, "Buffer Overflow"},
      {"Error services", [](const SentFrame& f) { return ErrorAnswer(f, 5, 5); }, true, "Services"},
      {"Abort out of resources", [](const SentFrame& f) { return Refusal(f, 0x71, 9); }, false, ""},
      {"Error device busy", [](const SentFrame& f) { return ErrorAnswer(f, 0, 3); }, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PollHost h;
    Start(h, {Group(3)}, 1);
    // A cycle read with ReadPropertyMultiple, then the device refuses it.
    std::vector<SentFrame> out = Out(h);
    ASSERT_EQ(out.size(), 1u);
    h.Receive(MultipleAck(out[0], 0.0f), kPeer);
    Advance(1000);
    out = Out(h);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_TRUE(out[0].multiple);
    Delivered d = h.Receive(c.answer(out[0]), kPeer);
    const std::string log = h.TakeLog();
    if (!c.fallsBack) {
      EXPECT_EQ(Count(log, "Error response ["), 1u) << log;
      EXPECT_EQ(Count(log, "ReadPropertyMultiple"), 0u) << log;
      Advance(1000);
      out = Out(h);
      ASSERT_EQ(out.size(), 1u);
      EXPECT_TRUE(out[0].multiple) << "a passing refusal keeps the device's way";
      continue;
    }
    EXPECT_EQ(Count(log, "Device 7 at 192.168.1.30:47808 does not serve ReadPropertyMultiple ["), 1u) << log;
    EXPECT_EQ(Count(log, c.text), 1u) << log;
    EXPECT_EQ(ByName(d.items).count("DEV_ID"), 0u);
    // Read again at once, item by item, without waiting for the interval,
    // and so in the next cycle.
    for (int read = 0; read < 4; ++read) {
      out = Out(h);
      ASSERT_EQ(out.size(), 1u) << "read " << read;
      EXPECT_FALSE(out[0].multiple);
      d = h.Receive(RealAck(out[0], 20.0f + static_cast<float>(out[0].objectInstance)), kPeer);
      if (read == 2) {
        EXPECT_EQ(Values(d.items), (std::vector<std::string>{"V1=21", "V2=22", "V3=23"})) << "nothing lost";
        Advance(1000);
      }
    }
    EXPECT_EQ(h.TakeLog(), "") << "said once";
    h.TakeSent();
    ASSERT_EQ(h.SetState(kSource), 0);  // loads the configuration again
    out = Out(h);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].multiple) << "the configuration loaded again tries ReadPropertyMultiple again";
  }
}

INSTANTIATE_TEST_SUITE_P(BothPaces, ReadMultiple, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Fast" : "Designed"; });

TEST(ReadMultipleFastPace, OneRequestTakesOneSlotOfTheWindow) {
  UseFakeClock();
  PollHost host;
  // Two devices with two groups of ten items each.
  RequestXml r;
  for (int i = 1; i <= 10; ++i) r.items.push_back("D00:" + std::to_string(i) + "=V" + std::to_string(i));
  std::vector<RequestXml> requests = {r, r, r, r};
  for (size_t k = 0; k < 4; ++k) requests[k].endpoint = "192.168.1." + std::to_string(30 + k / 2) + ":47808";
  host.Start(ConfigXml(requests));
  auto* cfg = host.Options();
  cfg->chkReadMultiple_Checked = true;
  cfg->chkFastPace_Checked = true;
  cfg->spInFlight_Value = 3;
  cfg->spInFlightDev_Value = 2;
  host.SaveOptions();
  ASSERT_EQ(host.SetState(kSource), 0);
  host.Tick();
  std::vector<SentFrame> out = host.TakeSent();
  ASSERT_EQ(out.size(), 3u) << "three requests of ten items fill a window of three";
  for (const SentFrame& f : out) EXPECT_EQ(f.objects.size(), 10u);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  const Delivered d = host.Receive(MultipleAck(out[0], 0.0f), out[0].address + ":47808");
  EXPECT_EQ(Values(d.items).size(), 10u);
  EXPECT_EQ(host.TakeSent().size(), 1u) << "the answer frees one slot";
}

}  // namespace
}  // namespace polltest
