// Change-of-value frames: SubscribeCOV and the Simple-ACK we send, the COV
// notifications we read, and tshark's reading of both.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bacnet/bacnet_enums.h"
#include "bacnet/bacnet_stack.h"
#include "common/tshark_fields.h"
#include "common/hex.h"
#include "common/pcap_writer.h"

using namespace bacnet;
using testutil::Hex;

namespace {

// Analog Input 3 of device 1234 for process 18: present value 42.0, status
// flags all clear, 240 s left.
const char* const kBody =
    "09 12 1C 02 00 04 D2 2C 00 00 00 03 39 F0 4E 09 55 2E 44 42 28 00 00 2F 09 6F 2E 82 04 00 2F 4F";
std::string Unconfirmed(const std::string& body = kBody) {
  TBacByteArray f = Hex("81 0A 00 00 01 00 10 02 " + body);
  f[3] = static_cast<uint8_t>(f.size());
  return testutil::HexText(f);
}
// Confirmed, invoke identifier 15, from device 1234 behind network 5, station 0x34.
const char* const kConfirmedRouted =
    "81 0A 00 2E 01 0C 00 05 01 34 00 05 0F 01 09 12 1C 02 00 04 D2 2C 00 00 00 03 39 F0 4E 09 55 2E 44 42 28 00 "
    "00 2F 09 6F 2E 82 04 00 2F 4F";

struct Capture {
  explicit Capture(TBACnetStack& stack) {
    stack.OnSend = [this](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
      frames.emplace_back(f.begin(), f.begin() + len);
      return 0;
    };
  }
  std::vector<TBacByteArray> frames;
};

TEST(Cov, RequestsAsOctets) {
  TBACnetStack stack;
  Capture sent(stack);
  TDeviceConnInfo local{TIpEndPoint{"127.0.0.2", 47808, false}};
  local.InvokeId = 7;
  TCovSubscription sub{18, kObjectAnalogInput, 3};
  EXPECT_EQ(stack.SubscribeCov(local, sub), 7);
  sub.Cancel = true;
  EXPECT_EQ(stack.SubscribeCov(local, sub), 7);
  TDeviceConnInfo routed = local;
  routed.Network = 5;
  const uint8_t one[] = {0x34};
  routed.SetStationAddress(one, 1);
  routed.InvokeId = 8;
  TCovSubscription big{70000, kObjectBinaryValue, 2, true, 0};
  EXPECT_EQ(stack.SubscribeCov(routed, big), 8);
  EXPECT_GE(stack.SendSimpleAck(local, 5, kServiceConfirmedCovNotification), 0);
  ASSERT_EQ(sent.frames.size(), 4u);
  EXPECT_EQ(sent.frames[0], Hex("81 0A 00 16 01 04 00 05 07 05 09 12 1C 00 00 00 03 29 00 3A 01 2C"));
  EXPECT_EQ(sent.frames[1], Hex("81 0A 00 11 01 04 00 05 07 05 09 12 1C 00 00 00 03"));
  EXPECT_EQ(sent.frames[2], Hex("81 0A 00 1C 01 24 00 05 01 34 FF 00 05 08 05 0B 01 11 70 1C 01 40 00 02 29 01 39 00"));
  EXPECT_EQ(sent.frames[3], Hex("81 0A 00 09 01 00 20 05 01"));
  // A device whose station address cannot be written gets nothing.
  const uint8_t seven[] = {1, 2, 3, 4, 5, 6, 7};
  routed.SetStationAddress(seven, 7);
  EXPECT_EQ(stack.SubscribeCov(routed, sub), -1);
  EXPECT_EQ(sent.frames.size(), 4u);
}

struct Case {
  const char* name;
  std::string body;
  TCovStatus status;
  bool presentValue;
  uint32_t others;
};

TEST(Cov, NotificationReaderAtItsLimits) {
  const std::string head = "09 12 1C 02 00 04 D2 2C 00 00 00 03 39 F0 ";
  const std::string pv = "09 55 2E 44 42 28 00 00 2F ";
  const std::vector<Case> cases = {
      {"full", kBody, TCovStatus::Read, true, 0},
      {"empty list", head + "4E 4F", TCovStatus::Read, false, 0},
      // A text, a constructed value with a Boolean inside, an array index
      // and a priority are passed over; the present value after them counts.
      {"others first", head + "4E 09 1C 2E 75 04 00 41 42 43 2F 09 57 2E 0E 11 21 01 0F 2F 09 55 19 01 2E 21 05 2F " +
           pv + "39 08 4F", TCovStatus::Read, true, 3},
      {"bad value", head + "4E 09 55 2E D1 00 2F 4F", TCovStatus::Read, false, 0},
      {"process under tag 1", "19 12" + head.substr(5) + "4E 4F", TCovStatus::Malformed, false, 0},
      {"initiator not a device", "09 12 1C 00 00 04 D2 2C 00 00 00 03 39 F0 4E 4F", TCovStatus::Malformed, false, 0},
      {"no list", head + "5E 5F", TCovStatus::Malformed, false, 0},
      {"value length beyond closing", head + "4E 09 55 2E 44 42 28 2F 00 00 4F", TCovStatus::Malformed, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TBacByteArray f = Hex(Unconfirmed(c.body));
    TCovNotification n;
    EXPECT_EQ(DecodeCovNotification(f, 6, n), c.status);
    if (c.status != TCovStatus::Read) continue;
    EXPECT_EQ(n.ProcessId, 18u);
    EXPECT_EQ(n.DeviceInstance, 1234u);
    EXPECT_EQ(n.ObjectType, kObjectAnalogInput);
    EXPECT_EQ(n.Instance, 3u);
    EXPECT_EQ(n.TimeRemaining, 240u);
    EXPECT_EQ(n.HasPresentValue, c.presentValue);
    if (c.presentValue) {
      EXPECT_EQ(n.PresentValueTag, kTagReal);
      EXPECT_DOUBLE_EQ(n.PresentValue.RawDouble(), 42.0);
    }
    EXPECT_EQ(n.OtherValues, c.others);
  }
  // Cut anywhere before its end, a notification is never taken as read.
  const TBacByteArray full = Hex(Unconfirmed());
  for (size_t len = 0; len < full.size(); ++len) {
    TCovNotification n;
    EXPECT_NE(DecodeCovNotification(TBacBytes(full.data(), len), 6, n), TCovStatus::Read) << len;
  }
  TCovNotification n;
  ASSERT_EQ(DecodeCovNotification(full, 6, n), TCovStatus::Read);
  EXPECT_TRUE(n.HasStatusFlags);
  EXPECT_EQ(n.StatusFlags.RawString(), "0000");
}

TEST(Cov, StackHandsNotificationsToTheOwner) {
  TBACnetStack stack;
  Capture sent(stack);
  std::vector<TCovNotification> got;
  TDeviceConnInfo device{TIpEndPoint{"127.0.0.2", 47808, false}};
  TProperty p;
  auto push = [&](const std::string& hex) {
    const TBacByteArray f = Hex(hex);
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), "127.0.0.2", 47808));
    return stack.ProcessReceived(15, device, p);
  };
  EXPECT_EQ(push(Unconfirmed()), kPduUnconfirmedRequest);  // no handler: nothing happens
  stack.OnCovNotification = [&](TBACnetStack&, const TCovNotification& n) { got.push_back(n); };
  EXPECT_EQ(push(Unconfirmed()), kPduUnconfirmedRequest);
  EXPECT_EQ(push(kConfirmedRouted), kPduConfirmedRequest);
  EXPECT_EQ(push(Unconfirmed("09 12 1C 02 00 04 D2 2C 00 00 00 03 39 F0 4E 09 55 2E 44 42")), -1);  // cut short
  EXPECT_EQ(push("81 0A 00 0A 01 04 00 05 0F 0C"), -1);  // another confirmed service: not ours to serve
  ASSERT_EQ(got.size(), 2u);
  EXPECT_FALSE(got[0].Confirmed);
  EXPECT_EQ(got[0].From.EndPoint.Address, "127.0.0.2");
  EXPECT_EQ(got[0].From.AddressLength, 0);
  EXPECT_EQ(got[0].From.Instance, 1234u);
  EXPECT_TRUE(got[1].Confirmed);
  EXPECT_EQ(got[1].InvokeId, 15);
  EXPECT_EQ(got[1].From.Network, 5u);
  EXPECT_EQ(got[1].From.AddressLength, 1);
  EXPECT_EQ(p.PduType, 0);  // the holder of the request in flight is not touched
  // The Simple-ACK goes back through the router to the station.
  stack.SendSimpleAck(got[1].From, got[1].InvokeId, kServiceConfirmedCovNotification);
  ASSERT_EQ(sent.frames.size(), 1u);
  EXPECT_EQ(sent.frames[0], Hex("81 0A 00 0E 01 20 00 05 01 34 FF 20 0F 01"));

  // SubscribeCOV's answers are matched like every answer.
  device.InvokeId = 15;
  EXPECT_EQ(push("81 0A 00 09 01 00 20 0F 05"), kPduSimpleAck);
  EXPECT_EQ(push("81 0A 00 09 01 00 20 0E 05"), -1);  // another request's
  EXPECT_EQ(push("81 0A 00 0D 01 00 50 0F 05 91 05 91 1D"), kPduError);
  EXPECT_EQ(p.ErrorText(), "Services, Service Request Denied");
}

TEST(Cov, TsharkReadsTheFramesAsMeant) {
  if (!testutil::HaveTshark()) GTEST_SKIP() << "tshark not installed";
  const char* dir = std::getenv("TMPDIR");
  const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/bacnet_cov_" +
                           std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".pcap";
  TBACnetStack stack;
  Capture sent(stack);
  TDeviceConnInfo local{TIpEndPoint{"127.0.0.2", 47808, false}};
  local.InvokeId = 7;
  stack.SubscribeCov(local, TCovSubscription{18, kObjectAnalogInput, 3, true, 300});
  stack.SubscribeCov(local, TCovSubscription{18, kObjectAnalogInput, 3, false, 0, true});
  stack.SendSimpleAck(local, 15, kServiceConfirmedCovNotification);
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const auto& f : sent.frames) w.Udp(1, 47808, 2, 47808, f);
    w.Udp(2, 47808, 1, 47808, Hex(Unconfirmed()));
    w.Udp(2, 47808, 1, 47808, Hex(kConfirmedRouted));
  }
  const auto rows = testutil::TsharkFields(
      path, {"_ws.malformed", "_ws.expert.severity", "bacapp.confirmed_service", "bacapp.unconfirmed_service",
             "bacapp.invoke_id", "bacapp.instance_number", "bacapp.objectType", "bacapp.present_value.real",
             "bacapp.type"});
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& r : rows) {
    EXPECT_EQ(r[0], "") << "malformed";
    EXPECT_EQ(r[1], "") << "expert info";
  }
  EXPECT_EQ(rows[0][2], "5");  // SubscribeCOV
  EXPECT_EQ(rows[0][5], "3");
  EXPECT_EQ(rows[1][2], "5");
  EXPECT_EQ(rows[2][8], "2");  // Simple-ACK
  EXPECT_EQ(rows[2][4], "15");
  EXPECT_EQ(rows[3][3], "2");  // unconfirmed COV notification
  EXPECT_EQ(rows[3][7], "42");
  EXPECT_EQ(rows[4][2], "1");  // confirmed COV notification
  EXPECT_EQ(rows[4][7], "42");
  // Only the first SubscribeCOV carries the flag and a lifetime.
  const std::string verbose = testutil::RunCommand("tshark -r " + path + " -V");
  auto count = [&](const std::string& text) {
    size_t n = 0;
    for (size_t at = verbose.find(text); at != std::string::npos; at = verbose.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("life time (hh.mm.ss): 0.05.00"), 1u);
  EXPECT_EQ(count("issue Confirmed Notifications: TRUE"), 1u);
  EXPECT_EQ(count("subscriber Process Id: (Unsigned) 18"), 2u);  // the requests; notifications show it otherwise
  EXPECT_EQ(count("Time remaining:  (hh.mm.ss): 0.04.00"), 2u);
  std::remove(path.c_str());
}

}  // namespace
