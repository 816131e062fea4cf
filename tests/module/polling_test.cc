// The polling module as a host meets it: requests sent on the tick, answers
// handed in through ProcessData, records in the output list or through
// kind 9.  The clock and the ticks are the test's.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "framework/exports_impl.h"

#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "poll_harness.h"

namespace polltest {
namespace {

const char kSource[] = "1;UDP1;BACnet/IP port 47808\r\n";
const char kPeer[] = "192.168.1.30:47808";

class Polling : public ::testing::Test {
 protected:
  void SetUp() override { UseFakeClock(); }
  void Start(const std::vector<RequestXml>& requests, bool deviceProperties = false) {
    host.Start(ConfigXml(requests), deviceProperties);
    ASSERT_EQ(host.SetState(kSource), 0);
  }
  // One tick; the frame it sent (exactly one expected).
  SentFrame TickSends() {
    host.Tick();
    auto sent = host.TakeSent();
    EXPECT_EQ(sent.size(), 1u);
    return sent.empty() ? SentFrame() : sent[0];
  }
  PollHost host;
};

RequestXml Three() {
  RequestXml r;
  r.items = {"D00:1=T1", "D01:2=T2", "D02:3=T3"};
  return r;
}

TEST_F(Polling, GroupOfThreeGivesOneRowWithItsLastAnswer) {
  Start({Three()});
  std::vector<uint16_t> types;
  Delivered d;
  for (int i = 0; i < 3; ++i) {
    SentFrame f = TickSends();
    EXPECT_EQ(f.address, "192.168.1.30");
    EXPECT_EQ(f.port, 47808);
    EXPECT_EQ(f.propertyId, 85u);
    EXPECT_EQ(f.objectInstance, static_cast<uint32_t>(i + 1));
    types.push_back(f.objectType);
    d = host.Receive(RealAck(f, 20.5f + static_cast<float>(i)), kPeer);
    EXPECT_EQ(d.code, 0);
    if (i < 2) {
      EXPECT_TRUE(d.items.empty()) << "an earlier item only stores its value";
    }
  }
  EXPECT_EQ(types, (std::vector<uint16_t>{0, 1, 2}));
  const std::vector<std::string> names = {"DATE_TIME_STAMP", "DATA_SOURCE_ID", "DATA_SOURCE_FULL_NAME",
                                          "DATA_SOURCE_NAME", "REMOTE_ADDRESS", "DEV_ID", "REQUEST_DESC",
                                          "T1", "T2", "T3", "$NEW_ROW$"};
  ASSERT_EQ(Names(d.items), names);
  auto v = ByName(d.items);
  EXPECT_EQ(v["REMOTE_ADDRESS"].ToText(), "192.168.1.30:47808");
  EXPECT_EQ(v["DEV_ID"].vt, KEL_VT_UI4);
  EXPECT_EQ(v["DEV_ID"].ToInt(), 7);
  EXPECT_EQ(v["REQUEST_DESC"].ToText(), "Request #1");
  EXPECT_EQ(v["DATA_SOURCE_NAME"].ToText(), "UDP1");
  EXPECT_DOUBLE_EQ(v["T1"].d, 20.5);
  EXPECT_DOUBLE_EQ(v["T3"].d, 22.5);
  EXPECT_FALSE(d.rawText.empty());

  // Each item is due again PollInterval after its own answer, in turn.
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  Advance(999);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  Advance(1);
  EXPECT_EQ(TickSends().objectInstance, 1u);
  EXPECT_TRUE(host.TakeKind9().empty());
  EXPECT_EQ(host.TakeLog(), "");
}

TEST_F(Polling, SilentDeviceIsAskedThreeTimesThenWarnedOnceAndTheGroupGoesByKind9) {
  RequestXml one;
  one.items = {"D02:5=FLOW"};
  RequestXml other;
  other.caption = "Second";
  other.endpoint = "192.168.1.31";
  other.items = {"D00:1=X"};
  Start({one, other});
  // The first device answers once, so its item has a value.
  SentFrame f = TickSends();
  ASSERT_EQ(host.Receive(RealAck(f, 3.0f), kPeer).items.size(), 9u);
  // The second device never answers: three sends, Timeout apart.
  auto silent = [&](const std::string& address) {
    SentFrame first = TickSends();
    EXPECT_EQ(first.address, address);
    uint8_t invoke = first.invokeId;
    for (int retry = 0; retry < 2; ++retry) {
      Advance(1499);
      host.Tick();
      EXPECT_TRUE(host.TakeSent().empty()) << "still waiting";
      Advance(1);
      SentFrame again = TickSends();
      EXPECT_EQ(again.address, address);
      EXPECT_NE(again.invokeId, invoke);
      invoke = again.invokeId;
    }
    EXPECT_EQ(host.TakeLog(), "");
    Advance(1500);
    host.Tick();
  };
  silent("192.168.1.31");
  // A device never heard while another answers: the path is up.
  EXPECT_EQ(host.TakeLog(), "\x02" "Bacnet/IP. Request timeout: Second (192.168.1.31:47808)\r\n"
                            "\x02" "Bacnet/IP. 3 tries, 1500 ms apart, no answer from device 7 at 192.168.1.31:47808; "
                            "no answer since the configuration was loaded; the address may be wrong, or the device "
                            "instance; other devices on this data source answered in the last minute, so the network "
                            "path is up: the device or its router is not answering\r\n");
  EXPECT_TRUE(host.TakeKind9().empty()) << "a group that never had a value gives no record";
  EXPECT_TRUE(host.TakeSent().empty());
  // Now the first device falls silent too.
  silent("192.168.1.30");
  // Heard before, and nothing else came since its last answer.
  EXPECT_EQ(host.TakeLog(), "\x02" "Bacnet/IP. Request timeout: Request #1 (192.168.1.30:47808)\r\n"
                            "\x02" "Bacnet/IP. 3 tries, 1500 ms apart, no answer from device 7 at 192.168.1.30:47808; "
                            "last answer 9 s ago; nothing has answered on this data source for 9 s: check the logger's "
                            "bind address, firewall, and that the devices are on this subnet or reachable through a "
                            "broadcast manager\r\n");
  // Its group leaves by kind 9 with the value it had, without a row marker...
  auto records = host.TakeKind9();
  ASSERT_EQ(records.size(), 1u);
  auto names = Names(records[0].items);
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(names.back(), "FLOW");
  EXPECT_DOUBLE_EQ(ByName(records[0].items)["FLOW"].d, 3.0);
  // ...and the next due request goes out in the same tick.
  auto sent = host.TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].address, "192.168.1.31");
}

TEST_F(Polling, EachGiveUpInARowGivesARecordOfItsOwnByKind9) {
  RequestXml r;
  r.items = {"D02:5=FLOW"};
  Start({r});
  SentFrame f = TickSends();
  ASSERT_EQ(host.Receive(RealAck(f, 3.0f), kPeer).items.size(), 9u);
  for (int giveUp = 0; giveUp < 2; ++giveUp) {
    SCOPED_TRACE(giveUp);
    Advance(1000);
    for (int send = 0; send < 3; ++send) {
      if (send > 0) Advance(1500);
      TickSends();
    }
    Advance(1500);
    host.Tick();
    // The documented line, then its diagnosis.
    const std::string log = host.TakeLog();
    EXPECT_EQ(log.substr(0, log.find("\r\n") + 2), "\x02" "Bacnet/IP. Request timeout: Request #1 (192.168.1.30:47808)\r\n");
    EXPECT_NE(log.find("3 tries, 1500 ms apart, no answer from device 7"), std::string::npos) << log;
    // The value kept from the answer, once, without the previous record's.
    auto records = host.TakeKind9();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(Names(records[0].items).size(), 8u);
    EXPECT_DOUBLE_EQ(ByName(records[0].items)["FLOW"].d, 3.0);
  }
}

// While the receiving type is off, for the instance (SET-STATE) or for the
// call (its call types), a frame is left alone: it gives no record and does
// not end the wait of the request it answers.
TEST_F(Polling, FramesAreIgnoredWhileTheReceivingTypeIsOff) {
  const struct {
    const char* name;
    bool offForTheInstance;
    uint8_t callTypes;
  } cases[] = {{"instance", true, 0b10}, {"call", false, 0b01}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PollHost h;
    RequestXml r;
    r.items = {"D00:1=T"};
    h.Start(ConfigXml({r}));
    ASSERT_EQ(h.SetState(kSource), 0);
    if (c.offForTheInstance) {
      ASSERT_EQ(h.SetState(kSource, 0, 0b10), 0);
    }
    h.Tick();
    auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(h.Receive(RealAck(sent[0], 1.0f), kPeer, 1, c.callTypes).items.empty());
    Advance(1500);
    h.Tick();
    EXPECT_EQ(h.TakeSent().size(), 1u) << "the request is still waiting: it is sent again";
    EXPECT_TRUE(h.TakeKind9().empty());
  }
}

// An answer as long as a device may send (an APDU of 1476 octets) is read
// whole.
TEST_F(Polling, AnAnswerOfTheLargestApduIsTakenWhole) {
  RequestXml r;
  r.items = {"D00:1=T"};
  Start({r});
  const SentFrame f = TickSends();
  const std::string text(1476 - 17, 'x');  // the ACK's other octets: 17
  std::vector<uint8_t> ack = {0x81, 0x0A, 0x00, 0x00, 0x01, 0x00, 0x30, f.invokeId, 0x0C, 0x0C, 0x00, 0x00, 0x00,
                              0x01, 0x19, 0x55, 0x3E, 0x75, 0xFE};
  const size_t octets = text.size() + 1;
  ack.insert(ack.end(), {static_cast<uint8_t>(octets >> 8), static_cast<uint8_t>(octets), 0x00});
  ack.insert(ack.end(), text.begin(), text.end());
  ack.push_back(0x3F);
  ASSERT_EQ(ack.size() - 6, 1476u);
  ack[2] = static_cast<uint8_t>(ack.size() >> 8);
  ack[3] = static_cast<uint8_t>(ack.size());
  const Delivered d = host.Receive(ack, kPeer);
  ASSERT_EQ(d.items.size(), 9u);
  EXPECT_EQ(ByName(d.items)["T"].ToText(), text);
}

TEST_F(Polling, ErrorAnswerIsLoggedAndTheGroupLeavesWithoutTheItem) {
  RequestXml r;
  r.items = {"D00:1=GOOD", "D00:99=MISSING"};
  Start({r});
  SentFrame f = TickSends();
  EXPECT_TRUE(host.Receive(RealAck(f, 1.0f), kPeer).items.empty());
  f = TickSends();
  Delivered d = host.Receive(ErrorAnswer(f, 1, 31), kPeer);
  EXPECT_EQ(host.TakeLog(), "\x02" "Bacnet/IP. Error response [Object, Unknown Object]\r\n");
  auto names = Names(d.items);
  ASSERT_EQ(names.size(), 9u);
  EXPECT_EQ(names[7], "GOOD");
  EXPECT_EQ(names[8], "$NEW_ROW$");
  // Answered, not retried: nothing goes out before the interval.
  Advance(999);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
}

TEST_F(Polling, OnlyAnAnswerToTheRequestOutEndsItsWait) {
  RequestXml r;
  r.items = {"D00:1=T"};
  Start({r});
  SentFrame f = TickSends();
  // Devices announce themselves at any time: an I-Am is no answer.
  EXPECT_TRUE(host.Receive(IAmFrame(7), kPeer).items.empty());
  // Neither is a reply from another host, or with another invoke identifier.
  EXPECT_TRUE(host.Receive(RealAck(f, 9.0f), "192.168.1.99:47808").items.empty());
  SentFrame wrong = f;
  wrong.invokeId = static_cast<uint8_t>(f.invokeId + 1);
  EXPECT_TRUE(host.Receive(RealAck(wrong, 9.0f), kPeer).items.empty());
  Delivered d = host.Receive(RealAck(f, 4.0f), kPeer);
  ASSERT_EQ(d.items.size(), 9u);
  EXPECT_DOUBLE_EQ(ByName(d.items)["T"].d, 4.0);
  // The same answer again, or late, is not a second record.
  EXPECT_TRUE(host.Receive(RealAck(f, 5.0f), kPeer).items.empty());
  // Frames for a data source the module does not serve change nothing.
  EXPECT_TRUE(host.Receive(RealAck(f, 6.0f), kPeer, 2).items.empty());
  EXPECT_EQ(host.TakeLog(), "");
  // Nor does one after UNLOAD: the instance has no options then, and its
  // modules send nothing more.
  host.Unload();
  EXPECT_EQ(host.Receive(RealAck(f, 5.0f), kPeer).code, -1);
  Advance(100000);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  EXPECT_FALSE(host.Module()->Timer->Enabled());
}

TEST_F(Polling, OnceOnlyRequestIsSentOncePerReset) {
  RequestXml r;
  r.poll = false;
  r.items = {"D03:1=DOOR"};
  Start({r});
  SentFrame f = TickSends();
  EXPECT_EQ(f.objectType, 3);
  host.Receive(RealAck(f, 1.0f), kPeer);
  Advance(60000);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  // A port-open reset: nothing for 15000 ms, then every item is due again.
  ASSERT_EQ(host.Command("EVENT", {{"EVENT-TYPE", [] {
                                      host::HostValue v;
                                      v.vt = KEL_VT_BSTR;
                                      v.text = u"PORT-OPEN";
                                      return v;
                                    }()}}),
            0);
  host.Tick();  // the reset
  Advance(14999);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  Advance(1);
  f = TickSends();
  // A once-only request that times out three times waits for the next reset.
  for (int i = 0; i < 2; ++i) {
    Advance(1500);
    ASSERT_EQ(TickSends().objectType, 3);
  }
  Advance(1500);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  Advance(100000);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
}

TEST_F(Polling, RefusedSendPausesTheModuleForFiveSecondsQuietly) {
  RequestXml r;
  r.items = {"D00:1=A", "D00:2=B"};
  Start({r});
  // -1 is what a logger of our own answers; -5 another refusal.
  for (int32_t refusal : {-5, -1}) {
  SCOPED_TRACE(refusal);
  host.SendResult = refusal;
  SentFrame f = TickSends();
  EXPECT_EQ(f.objectInstance, 1u);
  Advance(4999);
  host.Tick();
  EXPECT_TRUE(host.TakeSent().empty());
  Advance(1);
  // The refused item is due again at once.
  EXPECT_EQ(TickSends().objectInstance, 1u);
  host.SendResult = 0;
  Advance(5000);
  SentFrame answered = TickSends();
  EXPECT_EQ(answered.objectInstance, 1u);
  EXPECT_EQ(host.TakeLog(), "");
  host.Receive(RealAck(answered, 1.0f), kPeer);
  answered = TickSends();
  EXPECT_EQ(answered.objectInstance, 2u);
  host.Receive(RealAck(answered, 1.0f), kPeer);
  Advance(1000);
  }
}

TEST_F(Polling, IntervalZeroStillServesEveryItemInTurn) {
  RequestXml r;
  r.interval = 0;
  r.items = {"D00:1=A", "D00:2=B", "D00:3=C"};
  Start({r});
  std::vector<uint32_t> order;
  for (int i = 0; i < 8; ++i) {
    host.Tick();
    for (const SentFrame& f : host.TakeSent()) {
      order.push_back(f.objectInstance);
      host.Receive(RealAck(f, 1.0f), kPeer);
    }
  }
  EXPECT_EQ(order, (std::vector<uint32_t>{1, 2, 3, 1, 2, 3, 1, 2}));
}

TEST_F(Polling, DisabledRequestIsNeverSentAndNeverBlocks) {
  RequestXml off;
  off.enabled = false;
  off.items = {"D00:1=OFF"};
  RequestXml on;
  on.endpoint = "192.168.1.31";
  on.items = {"D00:2=ON"};
  Start({off, on});
  for (int i = 0; i < 3; ++i) {
    SentFrame f = TickSends();
    EXPECT_EQ(f.address, "192.168.1.31");
    host.Receive(RealAck(f, 1.0f), "192.168.1.31:47808");
    Advance(1000);
  }
}

TEST_F(Polling, DevicePropertiesAreReadFirstAndRideOnEveryRecord) {
  RequestXml r;
  r.items = {"D00:1=T"};
  Start({r}, true);
  const std::vector<uint32_t> expected = {77, 70, 75, 121, 120, 12, 44, 28};
  for (size_t i = 0; i < expected.size(); ++i) {
    SentFrame f = TickSends();
    EXPECT_EQ(f.objectType, 8);
    EXPECT_EQ(f.objectInstance, 7u) << "the device's own instance";
    EXPECT_EQ(f.propertyId, expected[i]);
    EXPECT_TRUE(host.Receive(TextAck(f, "p" + std::to_string(i)), kPeer).items.empty());
  }
  SentFrame f = TickSends();
  EXPECT_EQ(f.propertyId, 85u);
  Delivered d = host.Receive(RealAck(f, 2.0f), kPeer);
  const std::vector<std::string> tail = {"T", "DEV_OBJECT_NAME", "DEV_MODEL_NAME", "DEV_OBJECT_IDENTIFIER",
                                         "DEV_VENDOR_NAME", "DEV_VENDOR_IDENTIFIER",
                                         "DEV_APPLICATION_SOFTWARE_VERSION", "DEV_FIRMWARE_REVISION",
                                         "DEV_DESCRIPTION", "$NEW_ROW$"};
  auto names = Names(d.items);
  ASSERT_EQ(names.size(), 7 + tail.size());
  EXPECT_EQ(std::vector<std::string>(names.begin() + 7, names.end()), tail);
  EXPECT_EQ(ByName(d.items)["DEV_FIRMWARE_REVISION"].ToText(), "p6");
  // From now on only the item's value is read, and every record carries them.
  Advance(1000);
  f = TickSends();
  EXPECT_EQ(f.propertyId, 85u);
  EXPECT_EQ(Names(host.Receive(RealAck(f, 3.0f), kPeer).items).size(), names.size());
}

TEST_F(Polling, ARefusedPropertyEndsItsSlotAndTheItemsReadFollowsAtOnce) {
  RequestXml r;
  r.items = {"D00:1=T"};
  Start({r}, true);
  // Slot by slot: what the device answers, and the log line it gives.
  struct Slot {
    uint32_t property;
    std::function<std::vector<uint8_t>(const SentFrame&)> answer;
    std::string log;
  };
  const auto ack = [](const SentFrame& f) { return TextAck(f, "v"); };
  const std::vector<Slot> slots = {
      {77, ack, ""},
      {70, [](const SentFrame& f) { return ErrorAnswer(f, 2, 32); }, "Error response [Property, Unknown Property]"},
      {75, [](const SentFrame& f) { return Refusal(f, 0x60, 9); }, "Error response [Communication, Reject Unrecognized Service]"},
      {121, [](const SentFrame& f) { return Refusal(f, 0x70, 4); }, "Error response [Communication, Abort Segmentation Not Supported]"},
      {120, ack, ""},
      {12, ack, ""},
      {44, ack, ""},
      {28, [](const SentFrame& f) { return ErrorAnswer(f, 2, 32); }, "Error response [Property, Unknown Property]"},
  };
  for (const Slot& slot : slots) {
    // No time passes: a refusal, like a value, lets the next read go at once.
    SentFrame f = TickSends();
    EXPECT_EQ(f.propertyId, slot.property);
    EXPECT_TRUE(host.Receive(slot.answer(f), kPeer).items.empty());
    EXPECT_EQ(host.TakeLog(), slot.log.empty() ? "" : "\x02" "Bacnet/IP. " + slot.log + "\r\n") << slot.property;
  }
  SentFrame f = TickSends();
  ASSERT_EQ(f.propertyId, 85u) << "the item's own read right after the last property";
  auto names = Names(host.Receive(RealAck(f, 1.0f), kPeer).items);
  EXPECT_EQ(std::vector<std::string>(names.begin() + 7, names.end()),
            (std::vector<std::string>{"T", "DEV_OBJECT_NAME", "DEV_VENDOR_IDENTIFIER", "DEV_APPLICATION_SOFTWARE_VERSION",
                                      "DEV_FIRMWARE_REVISION", "$NEW_ROW$"}))
      << "a property given up never appears as an empty item";
  Advance(1000);
  EXPECT_EQ(TickSends().propertyId, 85u) << "a refused property is not asked again";
}

TEST_F(Polling, ADeviceOfAnotherInstanceIsNamedOnceAndItsValuesKeepFlowing) {
  RequestXml r;
  r.instances = "999";
  r.items = {"D00:1=T"};
  Start({r}, true);
  SentFrame f = TickSends();
  ASSERT_EQ(f.objectType, 8);
  host.Receive(ErrorAnswer(f, 1, 31), kPeer);
  EXPECT_EQ(host.TakeLog(),
            "\x02" "Bacnet/IP. No device 999 at 192.168.1.30:47808: the device at that address has another instance "
            "(its basic properties are not read until the configuration is loaded again)\r\n");
  for (int round = 0; round < 2; ++round) {
    f = TickSends();
    EXPECT_EQ(f.propertyId, 85u);
    Delivered d = host.Receive(RealAck(f, 5.0f), kPeer);
    EXPECT_EQ(ByName(d.items)["DEV_ID"].ToInt(), 999);
    EXPECT_EQ(Names(d.items).size(), 9u) << "no device property";
    Advance(1000);
  }
  EXPECT_EQ(host.TakeLog(), "") << "once per device and configuration";
  // A reload of the configuration asks again.
  ASSERT_EQ(host.SetState(kSource), 0);
  EXPECT_EQ(TickSends().objectType, 8);
}

TEST_F(Polling, UnansweredPropertyReadsAreTheItemsTriesAndAnAnswerGivesThemAllBack) {
  RequestXml r;
  r.items = {"D00:1=T"};
  Start({r}, true);
  auto silent = [&](uint32_t property) {
    for (int i = 0; i < 3; ++i) {
      if (i > 0) Advance(1500);
      EXPECT_EQ(TickSends().propertyId, property) << i;
    }
    EXPECT_EQ(host.TakeLog(), "");
    Advance(1500);
    host.Tick();
    EXPECT_TRUE(host.TakeSent().empty());
    // The documented line, then its diagnosis, counting the property reads as tries.
    const std::string log = host.TakeLog();
    const std::string first = "\x02" "Bacnet/IP. Request timeout: Request #1 (192.168.1.30:47808)\r\n";
    EXPECT_EQ(log.substr(0, first.size()), first);
    EXPECT_EQ(log.substr(first.size()).rfind("\x02" "Bacnet/IP. 3 tries, 1500 ms apart, no answer from device 7 at ", 0), 0u)
        << log;
  };
  silent(77);
  // Due again an interval after its last send; the device answers once...
  Advance(1000);
  SentFrame f = TickSends();
  EXPECT_EQ(f.propertyId, 70u) << "the unanswered one was asked three times";
  host.Receive(TextAck(f, "m"), kPeer);
  // ...and falls silent again: three tries once more, not what was left.
  silent(75);
}

TEST_F(Polling, FreshOnlyRecordsLeaveOutValuesKeptFromAnEarlierCycle) {
  RequestXml r;
  r.items = {"D00:1=A", "D00:2=B"};
  host.Start(ConfigXml({r}), false, true);
  ASSERT_EQ(host.SetState(kSource), 0);
  auto cycle = [&](bool secondAnswers) {
    SentFrame f = TickSends();
    host.Receive(RealAck(f, 1.0f), kPeer);
    f = TickSends();
    return host.Receive(secondAnswers ? RealAck(f, 2.0f) : ErrorAnswer(f, 2, 32), kPeer);
  };
  EXPECT_EQ(Names(cycle(true).items).size(), 10u);
  Advance(1000);
  auto names = Names(cycle(false).items);
  EXPECT_EQ(std::vector<std::string>(names.begin() + 7, names.end()), (std::vector<std::string>{"A", "$NEW_ROW$"}))
      << "B's value is from the cycle before";
  // A group whose values all time out leaves nothing, not the old ones.
  Advance(1000);
  host.Tick();
  host.TakeSent();
  for (int i = 0; i < 3; ++i) {
    Advance(1500);
    host.Tick();
  }
  host.TakeSent();
  for (int i = 0; i < 3; ++i) {
    Advance(1500);
    host.Tick();
  }
  EXPECT_TRUE(host.TakeKind9().empty());
  EXPECT_EQ(host.TakeLog().size() > 0, true);
}

TEST_F(Polling, DataTypeListAnswersExactly) {
  Start({Three()});
  host::HostParamsList* list = host::HostParamsList::Create();
  auto run = [&](const std::string& event) {
    list->ClearItems();
    list->SetText("COMMAND", "EVENT");
    list->SetText("EVENT-TYPE", event);
    IkelParamsListA* intf = list->Intf();
    TPluginCallRec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.Size = KEL_CALLREC_SIZE;
    rec.Instance = host.Handle();
    rec.Params = &intf;
    EXPECT_EQ(kel::DoExecutePluginCommand(&rec), 0);
    const host::HostItem* r = list->Find("RESULT");
    return r ? r->value.ToText() : std::string("<none>");
  };
  EXPECT_EQ(run("GetDataTypeList"),
            "Analog Input==D00||Analog Output==D01||Analog Value==D02||Binary Input==D03||Binary Output==D04||"
            "Binary Value==D05||Multi State Input==D0D||Multi State Output==D0E||Multi State Value==D13||"
            "Notification Class==D0F");
  EXPECT_EQ(run("getdatatypelist"), "<none>");
  list->Release();
}

TEST_F(Polling, StateChangesKeepCreateAndFreeCommunicationModules) {
  host.Start(ConfigXml({Three()}));
  ASSERT_EQ(host.SetState("1;A;a\r\n2;B;b\r\n"), 0);
  bacnet_module::TSerialPortDM* one = host.Module(1);
  bacnet_module::TSerialPortDM* two = host.Module(2);
  ASSERT_TRUE(one && two);
  EXPECT_EQ(two->DataSourceName, "B");
  EXPECT_EQ(two->RequestList.Count(), 3);
  host.Tick(2);
  ASSERT_EQ(host.TakeSent().size(), 1u);
  // Data source 1 leaves; 2 stays the same module, its requests reset.
  ASSERT_EQ(host.SetState("2;B;b\r\n"), 0);
  EXPECT_EQ(host.Module(1), nullptr);
  EXPECT_EQ(host.Module(2), two);
  EXPECT_EQ(two->RequestList.Count(), 3);
  host.Tick(2);
  auto sent = host.TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].objectInstance, 1u) << "the first item is due again";
  // Every type disabled frees every module; enabling again makes new ones.
  ASSERT_EQ(host.SetState("2;B;b\r\n", 0), 0);
  EXPECT_EQ(host.Module(2), nullptr);
  ASSERT_EQ(host.SetState("2;B;b\r\n", 1), 0);
  ASSERT_NE(host.Module(2), nullptr);
  EXPECT_EQ(host.Module(2)->RequestList.Count(), 3);
}

}  // namespace
}  // namespace polltest
