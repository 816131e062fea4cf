#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <vector>

#include "bacnet/bacnet_stack.h"
#include "common/hex.h"

using namespace bacnet;
using testutil::Hex;

namespace {

const char* const kIAm1234 = "81 0B 00 14 01 00 10 00 C4 02 00 04 D2 22 05 C4 91 00 21 2A";
const char* const kAckReal = "81 0A 00 15 01 00 30 04 0C 0C 00 00 00 03 19 55 3E 44 42 28 00 00 3F";

class StackTest : public ::testing::Test {
 protected:
  void Push(const std::string& hex, const std::string& from = "192.168.1.20", uint16_t port = 47808) {
    const TBacByteArray f = Hex(hex);
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), from, port));
  }
  int32_t Process(uint8_t invokeId = 4) { return stack.ProcessReceived(invokeId, device, result); }

  TBACnetStack stack;
  TDeviceConnInfo device{TIpEndPoint{"192.168.1.20", 47808, false}};
  TProperty result;
};

TEST(EndPoints, ParseAndMatch) {
  TIpEndPoint e = ParseEndPoint(" 10.0.0.5 :1234");
  EXPECT_EQ(e.Address, "10.0.0.5");
  EXPECT_EQ(e.Port, 1234);
  EXPECT_EQ(ParseEndPoint("10.0.0.5").Port, 47808);
  EXPECT_EQ(ParseEndPoint("10.0.0.5:abc").Port, 47808);
  EXPECT_TRUE(ParseEndPoint("10.0.0.255").IsBroadcast);
  EXPECT_FALSE(ParseEndPoint("10.0.0.5").IsBroadcast);
  EXPECT_TRUE(IsBroadcastAddress("plant-router"));
  EXPECT_EQ(ParseIPv4("1.256.-1.x"), (std::array<uint8_t, 4>{1, 0, 255, 255}));

  TDeviceConnInfo pattern{TIpEndPoint{"192.168.1.255", 47808, true}};
  pattern.Instance = AnyInstance;
  TDeviceConnInfo candidate{TIpEndPoint{"192.168.1.20", 50000, false}};
  candidate.Instance = 5;
  EXPECT_TRUE(MatchEndPoint(pattern, candidate));
  pattern.EndPoint.Address = "192.168.2.255";
  EXPECT_FALSE(MatchEndPoint(pattern, candidate));

  EXPECT_TRUE(SameHostAddress("010.0.0.5", "10.0.0.5"));
  EXPECT_FALSE(SameHostAddress("10.0.0.5", "10.0.0.6"));
  EXPECT_TRUE(SameHostAddress("host", "host"));
}

TEST(Devices, NewDeviceAndInvokeIdWrap) {
  TDevice d;
  EXPECT_EQ(d.ConnInfo.EndPoint.Port, 47808);
  EXPECT_EQ(d.BasicProperties[5].ItemName, "DEV_APPLICATION_SOFTWARE_VERSION");
  EXPECT_EQ(d.BasicProperties[7].PropertyId, 28);
  d.ConnInfo.InvokeId = 255;
  EXPECT_EQ(d.NextInvokeId(), 255);
  EXPECT_EQ(d.ConnInfo.InvokeId, 0);
}

TEST_F(StackTest, ReadPropertyThroughHandler) {
  EXPECT_EQ(stack.ReadProperty(device, 3, 0, 85), -1);  // no handler
  TBacByteArray sent;
  int32_t answer = 0;
  stack.OnSend = [&](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
    sent.assign(f.begin(), f.begin() + len);
    return answer;
  };
  device.Instance = 1234;
  device.InvokeId = 9;
  EXPECT_EQ(stack.ReadProperty(device, 0, 8, 77), 9);
  EXPECT_EQ(sent, Hex("81 0A 00 11 01 04 00 05 09 0C 0C 02 00 04 D2 19 4D"));  // Device 1234
  answer = -102;
  EXPECT_EQ(stack.ReadProperty(device, 0, 8, 77), -102);
  // A station address longer than six octets is not sent cut short.
  const uint8_t seven[] = {1, 2, 3, 4, 5, 6, 7};
  device.Network = 3;
  device.SetStationAddress(seven, 7);
  sent.clear();
  EXPECT_EQ(stack.ReadProperty(device, 0, 8, 77), -1);
  EXPECT_TRUE(sent.empty());
}

TEST_F(StackTest, WhoIsFailureGoesToErrorHandler) {
  std::string error;
  stack.OnError = [&](TBACnetStack&, const std::string& m) { error = m; };
  stack.OnSend = [](TBACnetStack&, TBacBytes, const TDeviceConnInfo&, int32_t) -> int32_t {
    throw std::runtime_error("host gone");
  };
  TDeviceConnInfo bc{TIpEndPoint{"192.168.1.255", 47809, true}};
  stack.SendWhoIs(bc);
  EXPECT_EQ(error, "host gone");
  EXPECT_EQ(stack.LastWhoIsPort, 47809);
}

TEST_F(StackTest, IAmRegistersOnceWithWhoIsPort) {
  int found = 0;
  stack.OnDeviceFound = [&](TBACnetStack&, const TDeviceConnInfo& c) {
    ++found;
    EXPECT_EQ(c.EndPoint.Port, 47809);
    EXPECT_EQ(c.Instance, 1234u);
  };
  stack.LastWhoIsPort = 47809;
  Push(kIAm1234, "192.168.1.20", 47808);
  Push(kIAm1234, "192.168.1.20", 47808);
  Push(kIAm1234, "192.168.1.21", 47808);
  EXPECT_EQ(Process(), 0x10);
  EXPECT_EQ(Process(), 0x10);
  EXPECT_EQ(Process(), 0x10);
  EXPECT_EQ(found, 2);
  EXPECT_EQ(stack.Data.Devices.Count(), 2);
  TDeviceConnInfo probe{TIpEndPoint{"192.168.1.20", 47809, false}};
  EXPECT_NE(stack.FindDevice(probe, 1234), nullptr);
  EXPECT_EQ(stack.FindDevice(probe, 1235), nullptr);
  EXPECT_EQ(Process(), -1);  // queue empty
}

TEST_F(StackTest, ComplexAckMatchedByInvokeIdAndSource) {
  std::string raw;
  Push(kAckReal);
  EXPECT_EQ(stack.ProcessReceived(4, device, result, &raw), 0x30);
  EXPECT_EQ(result.Tag, 4);
  EXPECT_EQ(result.Value, kel::Variant(42.0));
  EXPECT_EQ(raw.size(), 23u);

  Push(kAckReal);
  EXPECT_EQ(Process(3), -1);  // another invoke identifier
  // The same identifier from another device is not our answer.
  Push(kAckReal, "192.168.1.99");
  EXPECT_EQ(Process(), -1);
  // The port a reply comes from does not matter.
  Push(kAckReal, "192.168.1.20", 50000);
  EXPECT_EQ(Process(), 0x30);
}

TEST_F(StackTest, RoutedReplyMustComeFromTheDevicesStation) {
  device.Network = 7;
  const uint8_t station[] = {0x12, 0x34};
  device.SetStationAddress(station, 2);
  const std::string ack = "30 04 0C 0C 00 00 00 03 19 55 3E 21 05 3F";
  Push("81 0A 00 1A 01 08 00 07 02 12 35 " + ack);  // other station on that network
  EXPECT_EQ(Process(), -1);
  Push("81 0A 00 1A 01 08 00 08 02 12 34 " + ack);  // other network
  EXPECT_EQ(Process(), -1);
  Push("81 0A 00 16 01 00 " + ack);  // no source specifier
  EXPECT_EQ(Process(), -1);
  Push("81 0A 00 1A 01 08 00 07 02 12 34 " + ack);
  EXPECT_EQ(Process(), 0x30);
  EXPECT_EQ(result.Value, kel::Variant(uint32_t{5}));
}

TEST_F(StackTest, RoutedReplyToAConnectionMadeByHand) {
  // The owner fills in network and station number itself (no address octets).
  device.Network = 7;
  device.AddressLength = 2;
  device.Station = 0x1234;
  const std::string ack = "30 04 0C 0C 00 00 00 03 19 55 3E 21 05 3F";
  Push("81 0A 00 19 01 08 00 07 02 12 34 " + ack);
  EXPECT_EQ(Process(), 0x30);
  // A reply carrying a destination specifier too (global network, no
  // address) is read past it.
  Push("81 0A 00 1D 01 28 FF FF 00 00 07 02 12 34 FF " + ack);
  EXPECT_EQ(Process(), 0x30);
  Push("81 0A 00 1D 01 28 FF FF 00 00 07 02 12 35 FF " + ack);
  EXPECT_EQ(Process(), -1);
}

TEST_F(StackTest, GloballyBroadcastIAmFromBehindARouter) {
  TDeviceConnInfo learned;
  stack.OnDeviceFound = [&](TBACnetStack&, const TDeviceConnInfo& c) { learned = c; };
  // Control 0x28: DNET 65535 with DLEN 0, then SNET 3, SLEN 1, SADR 0x21,
  // then the hop count.
  Push("81 0B 00 1C 01 28 FF FF 00 00 03 01 21 FE 10 00 C4 02 00 00 64 22 01 E0 91 00 21 05");
  EXPECT_EQ(Process(), 0x10);
  EXPECT_EQ(learned.Instance, 100u);
  EXPECT_EQ(learned.Network, 3u);
  EXPECT_EQ(learned.AddressLength, 1);
  EXPECT_EQ(learned.Station, 0x21u);
}

TEST_F(StackTest, RoutedIAmKeepsFullStationAddress) {
  TBacByteArray sent;
  stack.OnSend = [&](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
    sent.assign(f.begin(), f.begin() + len);
    return 0;
  };
  TDeviceConnInfo learned;
  stack.OnDeviceFound = [&](TBACnetStack&, const TDeviceConnInfo& c) { learned = c; };
  Push("81 0B 00 1D 01 08 00 09 06 0A 00 00 07 BA C0 10 00 C4 02 00 00 2A 22 01 E0 91 00 21 05");
  EXPECT_EQ(Process(), 0x10);
  EXPECT_EQ(learned.AddressLength, 6);
  EXPECT_EQ(learned.Network, 9u);
  stack.ReadProperty(learned, 1, 0, 85);
  EXPECT_EQ(sent, Hex("81 0A 00 1B 01 24 00 09 06 0A 00 00 07 BA C0 FF 00 05 00 0C 0C 00 00 00 01 19 55"));
}

TEST_F(StackTest, ForwardedFramesUseTheOriginalSender) {
  // Relayed by a broadcast manager at 192.168.1.1 for 10.1.2.3.
  Push("81 04 00 1A 0A 01 02 03 BA C0 01 00 10 00 C4 02 00 04 D2 22 05 C4 91 00 21 2A", "192.168.1.1");
  EXPECT_EQ(Process(), 0x10);
  TDeviceConnInfo probe{TIpEndPoint{"10.1.2.3", 47808, false}};
  EXPECT_NE(stack.FindDevice(probe, 1234), nullptr);

  device.EndPoint.Address = "10.1.2.3";
  Push("81 04 00 1B 0A 01 02 03 BA C0 01 00 30 04 0C 0C 00 00 00 03 19 55 3E 91 02 3F", "192.168.1.1");
  EXPECT_EQ(Process(), 0x30);
  EXPECT_EQ(result.Value, kel::Variant(uint32_t{2}));
}

TEST_F(StackTest, ErrorsRejectsAndAborts) {
  Push("81 0A 00 0D 01 00 50 04 0C 91 05 91 1D");
  EXPECT_EQ(Process(), 0x50);
  EXPECT_EQ(result.ErrorText(), "Services, Service Request Denied");
  Push("81 0A 00 0E 01 00 50 04 0C 91 02 92 01 2C");
  EXPECT_EQ(Process(), 0x50);
  EXPECT_EQ(result.ErrorCode, 44);  // low 8 bits of 300
  Push("81 0A 00 09 01 00 60 04 09");
  EXPECT_EQ(Process(), 0x60);
  EXPECT_EQ(result.ErrorClass, 7);
  EXPECT_EQ(result.ErrorCode, 9);
  Push("81 0A 00 09 01 00 71 04 04");
  EXPECT_EQ(Process(), 0x70);
  EXPECT_EQ(result.ErrorCode, 4);
  Push("81 0A 00 08 01 00 60 04");  // reason missing
  EXPECT_EQ(Process(), -1);
  Push("81 0A 00 08 01 00 20 04 0F");
  EXPECT_EQ(Process(), 0x20);
}

TEST_F(StackTest, OddAcknowledgements) {
  result.Value = kel::Variant(7.0);
  Push("81 0A 00 0F 01 00 38 04 00 01 0C 0C 00 00 00 03 19 55 3E");  // segmented
  EXPECT_EQ(Process(), 0x30);
  EXPECT_EQ(result.Tag, 0);
  EXPECT_EQ(result.Value, kel::Variant(7.0));
  // An invalid date is a failed value; the reply still counts.
  Push("81 0A 00 17 01 00 30 04 0C 0C 00 00 00 03 19 55 3E A4 7C FF 0F 01 3F");
  EXPECT_EQ(Process(), 0x30);
  EXPECT_EQ(result.Tag, 0);
  // Ends inside the fixed part: dropped, and the holder is left alone.
  result.Tag = 4;
  Push("81 0A 00 0C 01 00 30 04 0C 0C 00 00");
  EXPECT_EQ(Process(), -1);
  EXPECT_EQ(result.Tag, 4);
  EXPECT_EQ(result.Value, kel::Variant(7.0));
  Push("81 0A 00 04");
  EXPECT_EQ(Process(), -1);
  Push("81 0A 00 06 02 00 30 04");  // NPDU version 2
  EXPECT_EQ(Process(), -1);
  Push("81 0A 00 08 01 00 00 04 0C");  // confirmed request
  EXPECT_EQ(Process(), -1);
  EXPECT_EQ(stack.Inbound.Count(), 0u);
}

// The table's index agrees with its list through registration, clearing and
// registering again: endpoints are told apart by address text and port.
TEST(DeviceTable, IndexFollowsTheListThroughClearAndRefill) {
  struct Row {
    const char* address;
    uint16_t port;
    uint32_t instance;
  };
  const std::vector<Row> rows = {{"192.168.1.20", 47808, 5},  {"192.168.1.20", 47809, 5}, {"192.168.1.20", 47808, 6},
                                 {"192.168.001.020", 47808, 5}, {"10.0.0.1", 47808, 5}};
  TBACnetStack stack;
  for (int round = 0; round < 2; ++round) {
    std::vector<TDevice*> made;
    for (size_t i = 0; i < rows.size(); ++i) {
      const Row& r = rows[round == 0 ? i : rows.size() - 1 - i];
      made.push_back(stack.RegisterDevice(TDeviceConnInfo{TIpEndPoint{r.address, r.port, false}}, r.instance,
                                          nullptr, nullptr));
      ASSERT_NE(made.back(), nullptr) << r.address;
      EXPECT_EQ(stack.RegisterDevice(TDeviceConnInfo{TIpEndPoint{r.address, r.port, false}}, r.instance, nullptr,
                                     nullptr),
                nullptr);
    }
    TDeviceReadLock lock(stack.Data.Devices);
    EXPECT_EQ(lock.Items(), (TDeviceList::List(made.begin(), made.end()))) << "the list keeps registration order";
    for (size_t i = 0; i < rows.size(); ++i) {
      const Row& r = rows[round == 0 ? i : rows.size() - 1 - i];
      EXPECT_EQ(stack.FindDevice(TDeviceConnInfo{TIpEndPoint{r.address, r.port, false}}, r.instance), made[i]);
    }
    EXPECT_EQ(stack.FindDevice(TDeviceConnInfo{TIpEndPoint{"192.168.1.20", 47808, false}}, 7), nullptr);
    stack.Data.Devices.Clear();
    for (const Row& r : rows)
      EXPECT_EQ(stack.FindDevice(TDeviceConnInfo{TIpEndPoint{r.address, r.port, false}}, r.instance), nullptr);
  }
}

// An I-Am asks the owner first: a device nothing wants is not kept, one
// wanted by pattern only while the table has room, one named exactly also
// beyond it.  A full table is reported once.
TEST(DeviceTable, IAmKeptAsTheOwnerWantsItWithinTheLimit) {
  TBACnetStack stack;
  std::map<std::string, TDeviceWanted> wanted;
  stack.OnDeviceWanted = [&](TBACnetStack&, const TDeviceConnInfo& c) {
    EXPECT_EQ(c.Instance, 1234u);
    EXPECT_EQ(c.EndPoint.Port, 47809) << "asked with the endpoint it would be registered under";
    return wanted[c.EndPoint.Address];
  };
  int found = 0, fullReports = 0;
  stack.OnDeviceFound = [&](TBACnetStack&, const TDeviceConnInfo&) { ++found; };
  stack.OnTableFull = [&](TBACnetStack&) { ++fullReports; };
  stack.LastWhoIsPort = 47809;
  auto fill = [&] {
    const TDeviceConnInfo c{TIpEndPoint{"10.9.9.9", 47808, false}};
    for (uint32_t i = 0; stack.Data.Devices.Count() < static_cast<int32_t>(kMaxDevices); ++i)
      stack.RegisterDevice(c, i, nullptr, nullptr);
  };
  struct Row {
    const char* from;
    TDeviceWanted wanted;
    bool fullTable;
    bool kept;
    int fullReports;  // so far
  };
  const Row rows[] = {
      {"10.0.0.1", TDeviceWanted::No, false, false, 0},       {"10.0.0.2", TDeviceWanted::ByPattern, false, true, 0},
      {"10.0.0.3", TDeviceWanted::ByName, false, true, 0},    {"10.0.0.4", TDeviceWanted::No, true, false, 0},
      {"10.0.0.5", TDeviceWanted::ByPattern, true, false, 1}, {"10.0.0.6", TDeviceWanted::ByName, true, true, 1},
      {"10.0.0.7", TDeviceWanted::ByPattern, true, false, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.from);
    if (r.fullTable) fill();
    wanted[r.from] = r.wanted;
    const TBacByteArray f = Hex(kIAm1234);
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), r.from, 47808));
    const int32_t before = stack.Data.Devices.Count();
    const int foundBefore = found;
    TProperty p;
    EXPECT_EQ(stack.ProcessReceived(0, TDeviceConnInfo{}, p), 0x10) << "handled as an I-Am either way";
    EXPECT_EQ(stack.Data.Devices.Count() - before, r.kept ? 1 : 0);
    EXPECT_EQ(found - foundBefore, r.kept ? 1 : 0);
    EXPECT_EQ(fullReports, r.fullReports);
  }
  EXPECT_EQ(stack.Data.Devices.Count(), static_cast<int32_t>(kMaxDevices) + 1) << "only the named one beyond it";
}

}  // namespace
