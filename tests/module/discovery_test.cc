// Devices named by pattern: a Who-Is to the endpoint, and every new device
// that answers with I-Am and matches gets polled copies of the request's
// items, delivered as one record per device.
#include <gtest/gtest.h>

#include <set>

#include "module/device_filter.h"
#include "module/serial_port_dm.h"
#include "poll_harness.h"

namespace polltest {
namespace {

const char kSource[] = "1;UDP1;BACnet/IP port 47808\r\n";

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override { UseFakeClock(); }
  void Start(const std::vector<RequestXml>& requests, bool deviceProperties = false) {
    host.Start(ConfigXml(requests), deviceProperties);
    ASSERT_EQ(host.SetState(kSource), 0);
  }
  // Ticks until count frames went out or ticks run out; answers each
  // ReadProperty with a value when answer is set.
  std::vector<SentFrame> Poll(int ticks, bool answer, std::vector<Delivered>* rows = nullptr) {
    std::vector<SentFrame> all;
    for (int i = 0; i < ticks; ++i) {
      host.Tick();
      for (const SentFrame& f : host.TakeSent()) {
        all.push_back(f);
        if (!answer || f.whoIs) continue;
        std::vector<uint8_t> reply =
            f.propertyId == 85 ? RealAck(f, static_cast<float>(f.objectInstance)) : TextAck(f, "dev" + f.address);
        if (!f.dadr.empty()) reply = Routed(reply, f.dnet, f.dadr);
        Delivered d = host.Receive(reply, f.address + ":" + std::to_string(f.port));
        if (rows && !d.items.empty()) rows->push_back(d);
      }
    }
    return all;
  }
  int WhoIsCount(const std::vector<SentFrame>& frames) {
    int n = 0;
    for (const SentFrame& f : frames) n += f.whoIs;
    return n;
  }
  PollHost host;
};

RequestXml Pattern(const std::string& endpoint, const std::string& instances) {
  RequestXml r;
  r.endpoint = endpoint;
  r.instances = instances;
  r.items = {"D00:1=TEMP", "D02:2=SET"};
  return r;
}

TEST_F(Discovery, WhoIsIsABroadcastToABroadcastEndpointAndAsksForTheOneDeviceAllPatternsWant) {
  struct Row {
    std::vector<RequestXml> requests;
    uint8_t function;
    std::vector<uint8_t> range;  // after the service choice
  };
  RequestXml nine = Pattern("10.1.255.255", "9");
  RequestXml twelve = Pattern("10.1.255.255", "12");
  RequestXml off = twelve;
  off.enabled = false;
  const std::vector<Row> rows = {
      {{Pattern("10.1.255.255", "*")}, 0x0B, {}},
      {{nine}, 0x0B, {0x09, 0x09, 0x19, 0x09}},
      {{nine, twelve}, 0x0B, {}},
      {{nine, off}, 0x0B, {0x09, 0x09, 0x19, 0x09}},
      {{Pattern("10.1.255.255", "70000")}, 0x0B, {0x0B, 0x01, 0x11, 0x70, 0x1B, 0x01, 0x11, 0x70}},
      {{Pattern("192.168.1.30", "*")}, 0x0A, {}},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    PollHost h;
    h.Start(ConfigXml(rows[i].requests));
    ASSERT_EQ(h.SetState(kSource), 0);
    h.Tick();
    auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 1u) << i;
    ASSERT_TRUE(sent[0].whoIs) << i;
    EXPECT_EQ(sent[0].function, rows[i].function) << i;
    EXPECT_EQ(sent[0].whoIsRange, rows[i].range) << i;
    // Global either way, so that routers pass it on.
    EXPECT_EQ(sent[0].dnet, 0xFFFF) << i;
  }
}

TEST_F(Discovery, BroadcastPatternGivesEveryNewDeviceItsOwnRecord) {
  Start({Pattern("192.168.1.255", "*")});
  auto sent = Poll(1, false);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].whoIs);
  EXPECT_EQ(sent[0].address, "192.168.1.255");
  EXPECT_EQ(sent[0].port, 47808);
  host.Receive(IAmFrame(5), "192.168.1.20:47808");
  host.Receive(IAmFrame(9), "192.168.1.21:47808");
  host.Receive(IAmFrame(5), "192.168.1.20:47808");  // known: adds nothing
  EXPECT_EQ(host.Module()->RequestList.Count(), 2 + 4);
  std::vector<Delivered> rows;
  sent = Poll(6, true, &rows);
  EXPECT_EQ(WhoIsCount(sent), 0) << "one Who-Is per 30000 ms";
  ASSERT_EQ(rows.size(), 2u);
  std::set<std::string> seen;
  for (const Delivered& d : rows) {
    auto v = ByName(d.items);
    ASSERT_EQ(Names(d.items).size(), 4u + 3 + 2 + 1);
    const std::string who = v["REMOTE_ADDRESS"].ToText() + "/" + v["DEV_ID"].ToText();
    seen.insert(who);
    EXPECT_DOUBLE_EQ(v["TEMP"].d, 1.0);
    EXPECT_DOUBLE_EQ(v["SET"].d, 2.0);
  }
  EXPECT_EQ(seen, (std::set<std::string>{"192.168.1.20:47808/5", "192.168.1.21:47808/9"}));
  // The pattern keeps discovery running: another Who-Is after 30000 ms.
  Advance(30000);
  EXPECT_EQ(WhoIsCount(Poll(3, true)), 1);
}

TEST_F(Discovery, PatternWithAnInstanceTakesOnlyThatDevice) {
  Start({Pattern("192.168.1.255", "9")});
  Poll(1, false);
  host.Receive(IAmFrame(5), "192.168.1.20:47808");
  host.Receive(IAmFrame(9), "192.168.1.21:47808");
  host.Receive(IAmFrame(9), "10.0.0.21:47808");  // outside the pattern's subnet
  std::vector<Delivered> rows;
  Poll(6, true, &rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(ByName(rows[0].items)["REMOTE_ADDRESS"].ToText(), "192.168.1.21:47808");
}

TEST_F(Discovery, TwoRequestsShareOneDiscoveryAndASilentNetworkCostsOneWhoIsPer30s) {
  Start({Pattern("192.168.1.255", "*"), Pattern("192.168.1.255:47808", "3")});
  for (int period = 0; period < 3; ++period) {
    auto sent = Poll(20, false);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(WhoIsCount(sent), 1);
    Advance(29999);
    EXPECT_TRUE(Poll(5, false).empty());
    Advance(1);
  }
  // Named once, however often the Who-Is goes unanswered.
  EXPECT_EQ(host.TakeLog(), "\x02" "Bacnet/IP. no device answered Who-Is at 192.168.1.255:47808: the devices may be on "
                            "another subnet (register as a foreign device with a broadcast manager), a firewall may "
                            "drop the frames, or the broadcast address may be wrong\r\n");
}

TEST_F(Discovery, UnicastEndpointWithAnyDeviceIsResolvedAtThatAddressOnly) {
  Start({Pattern("192.168.1.40", "*")});
  auto sent = Poll(1, false);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].whoIs);
  EXPECT_EQ(sent[0].address, "192.168.1.40");
  host.Receive(IAmFrame(12), "192.168.1.41:47808");  // answers from another address: not this pattern
  host.Receive(IAmFrame(11), "192.168.1.40:47808");
  std::vector<Delivered> rows;
  Poll(6, true, &rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(ByName(rows[0].items)["DEV_ID"].ToInt(), 11);
}

TEST_F(Discovery, RoutedAndRelayedDevicesArePolledUnderTheirOwnAddress) {
  Start({Pattern("192.168.1.255", "*")});
  Poll(1, false);
  // A device on network 5 behind the router 192.168.1.2, with a six-octet
  // station address, and one on another subnet whose I-Am a broadcast
  // manager relays.
  const std::vector<uint8_t> station = {0x00, 0x10, 0x20, 0x30, 0x40, 0x50};
  host.Receive(Routed(IAmFrame(100), 5, station), "192.168.1.2:47808");
  host.Receive(Forwarded(IAmFrame(200), "192.168.1.77", 47808), "192.168.1.1:47808");
  std::vector<Delivered> rows;
  auto sent = Poll(6, true, &rows);
  std::set<std::string> targets;
  for (const SentFrame& f : sent) {
    if (f.whoIs) continue;
    if (f.dadr.empty()) {
      targets.insert(f.address);
    } else {
      EXPECT_EQ(f.address, "192.168.1.2");
      EXPECT_EQ(f.dnet, 5);
      EXPECT_EQ(f.dadr, station);
      targets.insert("routed");
    }
  }
  EXPECT_EQ(targets, (std::set<std::string>{"192.168.1.77", "routed"}));
  ASSERT_EQ(rows.size(), 2u);
  std::set<int64_t> devices;
  for (const Delivered& d : rows) devices.insert(ByName(d.items)["DEV_ID"].ToInt());
  EXPECT_EQ(devices, (std::set<int64_t>{100, 200}));
}

TEST_F(Discovery, EachDeviceCarriesItsOwnBasicProperties) {
  Start({Pattern("192.168.1.255", "*")}, true);
  Poll(1, false);
  host.Receive(IAmFrame(5), "192.168.1.20:47808");
  host.Receive(IAmFrame(9), "192.168.1.21:47808");
  std::vector<Delivered> rows;
  Poll(40, true, &rows);
  ASSERT_EQ(rows.size(), 2u);
  for (const Delivered& d : rows) {
    auto v = ByName(d.items);
    EXPECT_EQ(v["DEV_OBJECT_NAME"].ToText(), "dev" + v["REMOTE_ADDRESS"].ToText().substr(0, 12));
    EXPECT_EQ(v.count("DEV_DESCRIPTION"), 1u);
  }
}

TEST_F(Discovery, OnceOnlyRequestWhosePropertyReadFailsStillReadsItsOwnValue) {
  RequestXml r;
  r.poll = false;
  r.items = {"D00:1=T"};
  Start({r}, true);
  host.Tick();
  auto sent = host.TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].propertyId, 77u);
  host.Receive(ErrorAnswer(sent[0], 2, 32), "192.168.1.30:47808");
  // The refused property is given up and the item stays due: the other
  // properties, then its own value, follow tick by tick.
  std::vector<Delivered> rows;
  Poll(8, true, &rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(ByName(rows[0].items).count("T"), 1u);
  EXPECT_EQ(ByName(rows[0].items).count("DEV_OBJECT_NAME"), 0u);
  Advance(100000);
  EXPECT_TRUE(Poll(5, true).empty()) << "once only: not read again before the next reset";
}

TEST_F(Discovery, AThousandDevicesAnsweringOneWhoIs) {
  RequestXml r = Pattern("10.1.255.255", "*");
  r.interval = 60000;
  Start({r});
  Poll(1, false);
  for (int i = 0; i < 1000; ++i) {
    const std::string address = "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    host.Receive(IAmFrame(static_cast<uint32_t>(1000 + i)), address + ":47808");
    host.Receive(IAmFrame(static_cast<uint32_t>(1000 + i)), address + ":47808");  // repeated
  }
  host.Receive(IAmFrame(7), "10.2.0.1:47808");       // no pattern matches: not kept
  host.Receive({0x81, 0x0A, 0x00, 0x07, 0x01, 0x00, 0x10}, "10.1.0.9:47808");  // malformed
  EXPECT_EQ(host.Module()->RequestList.Count(), 2 + 2000);
  EXPECT_EQ(host.Module()->Stack.Data.Devices.Count(), 1000);
  std::vector<Delivered> rows;
  Poll(2100, true, &rows);
  EXPECT_EQ(rows.size(), 1000u) << "one record per device per cycle";
  std::set<int64_t> devices;
  for (const Delivered& d : rows) devices.insert(ByName(d.items)["DEV_ID"].ToInt());
  EXPECT_EQ(devices.size(), 1000u);
}

// The filter answers as the matches it stands for: a name is the same
// address text, port and instance; a pattern matches by MatchEndPoint.
TEST(DeviceFilter, AgreesWithTheNamesAndPatternsItStandsFor) {
  struct Item {
    const char* endpoint;
    uint32_t instance;
  };
  const uint32_t any = bacnet::AnyInstance;
  const Item items[] = {{"192.168.1.30", 7},   {"192.168.1.30:47809", 8}, {"192.168.1.255", any},
                        {"192.168.2.255", 9},  {"10.255.255.255", any},   {"255.255.255.255", 3},
                        {"192.168.3.4", any},  {"plant-router", 11},      {"0.168.255.20", 7}};
  bacnet_module::TDeviceFilter filter;
  std::vector<bacnet::TDeviceConnInfo> conns;
  for (const Item& i : items) {
    bacnet::TDeviceConnInfo c{bacnet::ParseEndPoint(i.endpoint)};
    c.Instance = i.instance;
    conns.push_back(c);
    filter.Add(c);
  }
  int kept = 0;
  for (const char* a : {"192", "10", "0", "255"})
    for (const char* b : {"168", "1", "255"})
      for (const char* c : {"1", "2", "3", "255"})
        for (const char* d : {"4", "20", "30", "255"})
          for (uint32_t instance : {3u, 7u, 8u, 9u, 11u})
            for (uint16_t port : {uint16_t{47808}, uint16_t{47809}}) {
              bacnet::TDeviceConnInfo device{bacnet::TIpEndPoint{std::string(a) + "." + b + "." + c + "." + d, port, false}};
              device.Instance = instance;
              bacnet::TDeviceWanted expected = bacnet::TDeviceWanted::No;
              for (const bacnet::TDeviceConnInfo& item : conns) {
                if (!bacnet_module::IsPatternConnection(item) && bacnet::SameConnection(item, device))
                  expected = bacnet::TDeviceWanted::ByName;
                else if (bacnet_module::IsPatternConnection(item) && bacnet::MatchEndPoint(item, device) &&
                         expected == bacnet::TDeviceWanted::No)
                  expected = bacnet::TDeviceWanted::ByPattern;
              }
              ASSERT_EQ(filter.Wanted(device), expected) << device.EndPoint.Address << ":" << port << " " << instance;
              kept += expected != bacnet::TDeviceWanted::No;
            }
  EXPECT_GT(kept, 100) << "the grid reaches every kind of answer";
  filter.Clear();
  EXPECT_EQ(filter.Wanted(conns[0]), bacnet::TDeviceWanted::No);
}

// A table that a flood filled refuses further devices with one warning per
// configuration load; a configured device still gets its place and is
// polled.
TEST_F(Discovery, AFullTableIsWarnedOncePerLoadAndConfiguredDevicesStayPolled) {
  RequestXml named;
  named.items = {"D00:1=T"};
  Start({named, Pattern("10.255.255.255", "*")});
  const std::string warning =
      "\x02" "Bacnet/IP. Device table full (at most 100000 devices): further devices are not registered\r\n";
  for (int load = 0; load < 2; ++load) {
    SCOPED_TRACE(load);
    bacnet::TBACnetStack& stack = host.Module()->Stack;
    const bacnet::TDeviceConnInfo flood{bacnet::TIpEndPoint{"10.9.9.9", 47808, false}};
    for (uint32_t i = 0; stack.Data.Devices.Count() < static_cast<int32_t>(bacnet::kMaxDevices); ++i)
      stack.RegisterDevice(flood, i, nullptr, nullptr);
    host.TakeLog();
    host.Receive(IAmFrame(1), "10.0.0.1:47808");
    host.Receive(IAmFrame(2), "10.0.0.2:47808");
    EXPECT_EQ(host.TakeLog(), warning);
    EXPECT_EQ(host.Module()->RequestList.Count(), 1 + 2) << "no copies for a device that was not kept";
    EXPECT_EQ(stack.Data.Devices.Count(), static_cast<int32_t>(bacnet::kMaxDevices));
    std::vector<SentFrame> sent = Poll(1, false);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].address, "192.168.1.30");
    EXPECT_FALSE(sent[0].whoIs);
    ASSERT_EQ(host.SetState(kSource), 0);  // loads the configuration again
    EXPECT_EQ(stack.Data.Devices.Count(), 0);
  }
}

}  // namespace
}  // namespace polltest
