// What the simulated devices answer: a request -> answer table over local,
// routed and relayed devices, the knobs, values over time, and malformed
// requests, which must never crash it nor bring a malformed answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "names.h"
#include "sim_building.h"

using namespace bacsim;
using namespace bacsim_test;

namespace {

// Original-Unicast-NPDU (or another function) around an NPDU + APDU.
std::string F(const std::string& payload, uint8_t function = bvlc::kOriginalUnicast) {
  return HexText(BuildBvll(function, Hex(payload)));
}
std::string Fwd(const char* origin, const std::string& payload) {
  const Endpoint o = Ep(origin);
  return HexText(BuildBvll(bvlc::kForwardedNpdu, Hex(payload), &o));
}

// The RP request of object type/instance (hex of the 4 identifier octets) and
// property octets, invoke identifier 7, local.
std::string Rp(const std::string& oid, const std::string& property) {
  return F("01 04 00 05 07 0C 0C " + oid + " " + property);
}

struct Row {
  const char* name;
  const char* socket;
  std::string request;
  std::vector<Answer> expected;  // delay ignored here
};

TEST(SimResponder, RequestAnswerTable) {
  const std::string iam1001 = "01 00 10 00 C4 02 00 03 E9 22 05 C4 91 03 22 03 E7";
  const std::string ack = "01 00 30 07 0C 0C ";
  const std::vector<Row> rows = {
      {"present value of an analog input is a Real", "127.0.0.2", Rp("00 00 00 01", "19 55"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "00 00 00 01 19 55 3E 44 41 AC 00 00 3F"), 0}}},
      {"binary input: Enumerated", "127.0.0.2", Rp("00 C0 00 01", "19 55"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "00 C0 00 01 19 55 3E 91 01 3F"), 0}}},
      {"multi-state value: Unsigned", "127.0.0.2", Rp("04 C0 00 01", "19 55"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "04 C0 00 01 19 55 3E 21 02 3F"), 0}}},
      {"object-identifier of an object", "127.0.0.2", Rp("00 00 00 01", "19 4B"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "00 00 00 01 19 4B 3E C4 00 00 00 01 3F"), 0}}},
      {"object-type", "127.0.0.2", Rp("04 C0 00 01", "19 4F"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "04 C0 00 01 19 4F 3E 91 13 3F"), 0}}},
      {"device object-name", "127.0.0.2", Rp("02 00 03 E9", "19 4D"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "02 00 03 E9 19 4D 3E 75 09 00 44 65 76 2D 31 30 30 31 3F"), 0}}},
      {"device vendor-identifier through the wildcard instance", "127.0.0.2", Rp("02 3F FF FF", "19 78"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "02 00 03 E9 19 78 3E 22 03 E7 3F"), 0}}},
      {"device application-software-version", "127.0.0.2", Rp("02 00 03 E9", "19 0C"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "02 00 03 E9 19 0C 3E 74 00 32 2E 34 3F"), 0}}},
      {"object-list[0] counts the device and its four objects", "127.0.0.2", Rp("02 00 03 E9", "19 4C 29 00"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "02 00 03 E9 19 4C 29 00 3E 21 05 3F"), 0}}},
      {"object-list[5], the count, is the last", "127.0.0.2", Rp("02 00 03 E9", "19 4C 29 05"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(ack + "02 00 03 E9 19 4C 29 05 3E C4 03 C0 00 01 3F"), 0}}},
      {"object-list[6] is past the end", "127.0.0.2", Rp("02 00 03 E9", "19 4C 29 06"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 50 07 0C 91 02 91 2A"), 0}}},
      {"another device's object is unknown here", "127.0.0.2", Rp("02 00 03 EA", "19 4D"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 50 07 0C 91 01 91 1F"), 0}}},
      {"unknown object", "127.0.0.2", Rp("00 00 00 09", "19 55"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 50 07 0C 91 01 91 1F"), 0}}},
      {"unknown property", "127.0.0.2", Rp("00 00 00 01", "19 C8"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 50 07 0C 91 02 91 20"), 0}}},
      {"two-octet property identifier, unknown", "127.0.0.2", Rp("00 00 00 01", "1A 02 00"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 50 07 0C 91 02 91 20"), 0}}},
      {"a notification class has no present value", "127.0.0.2", Rp("03 C0 00 01", "19 55"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 50 07 0C 91 02 91 20"), 0}}},
      {"array index on a property that is no array", "127.0.0.2", Rp("00 00 00 01", "19 55 29 01"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 50 07 0C 91 02 91 32"), 0}}},
      {"WriteProperty is not served", "127.0.0.2", F("01 04 00 05 07 0F 0C 00 00 00 01 19 55 3E 44 41 AC 00 00 3F"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 60 07 09"), 0}}},
      {"property missing", "127.0.0.2", F("01 04 00 05 07 0C 0C 00 00 00 01"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 60 07 05"), 0}}},
      {"object identifier under the wrong tag", "127.0.0.2", F("01 04 00 05 07 0C 1C 00 00 00 01 19 55"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 60 07 04"), 0}}},
      {"an octet too many", "127.0.0.2", Rp("00 00 00 01", "19 55 00"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 60 07 07"), 0}}},
      {"segmented request", "127.0.0.2", F("01 04 08 05 07 00 04 0C 0C 00 00 00 01 19 55"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 00 71 07 04"), 0}}},
      {"a request from another network goes back through its router", "127.0.0.2",
       F("01 0C 00 09 01 21 00 05 07 0C 0C 00 00 00 01 19 4F"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F("01 20 00 09 01 21 FF 30 07 0C 0C 00 00 00 01 19 4F 3E 91 00 3F"), 0}}},
      {"Who-Is from the local network", "127.0.0.2", F("01 00 10 08"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(iam1001), 0}}},
      {"Who-Is with a range that leaves the device out", "127.0.0.2", F("01 00 10 08 09 01 19 0A"), {}},
      {"Who-Is with a range of one, as a client sends it", "127.0.0.2", F("01 00 10 08 0A 03 E9 1A 03 E9"),
       {{"127.0.0.2:47808", "127.0.0.1:40000", F(iam1001), 0}}},
      {"Who-Is with half a range is ignored", "127.0.0.2", F("01 00 10 08 0A 03 E9"), {}},
      {"unconfirmed services other than Who-Is are ignored", "127.0.0.2", F("01 00 10 07 3D 02 00 41"), {}},
      {"an I-Am is ignored", "127.0.0.2", F(iam1001), {}},
      {"an acknowledgement is ignored", "127.0.0.2", F("01 00 20 07 0F"), {}},
      {"a device is no router", "127.0.0.2", F("01 24 00 05 01 0C FF 00 05 07 0C 0C 00 00 00 01 19 55"), {}},
      {"confirmed requests sent to the broadcast address are ignored", "127.0.0.255", Rp("00 00 00 01", "19 55"), {}},
      {"routed, one-octet station", "127.0.0.10", F("01 24 00 05 01 0C FF 00 05 07 0C 0C 00 00 00 01 19 4F"),
       {{"127.0.0.10:47808", "127.0.0.1:40000", F("01 08 00 05 01 0C 30 07 0C 0C 00 00 00 01 19 4F 3E 91 00 3F"), 0}}},
      {"routed, two-octet station", "127.0.0.10", F("01 24 00 05 02 00 2A FF 00 05 07 0C 0C 02 00 07 D2 19 4B"),
       {{"127.0.0.10:47808", "127.0.0.1:40000",
         F("01 08 00 05 02 00 2A 30 07 0C 0C 02 00 07 D2 19 4B 3E C4 02 00 07 D2 3F"), 0}}},
      {"routed, six-octet station", "127.0.0.10",
       F("01 24 00 05 06 7F 00 00 09 BA C0 FF 00 05 07 0C 0C 02 00 07 D3 19 78"),
       {{"127.0.0.10:47808", "127.0.0.1:40000",
         F("01 08 00 05 06 7F 00 00 09 BA C0 30 07 0C 0C 02 00 07 D3 19 78 3E 22 03 E7 3F"), 0}}},
      {"routed, a station that is not there", "127.0.0.10", F("01 24 00 05 01 0D FF 00 05 07 0C 0C 00 00 00 01 19 55"),
       {}},
      {"routed, a hop count that is used up", "127.0.0.10", F("01 24 00 05 01 0C 00 00 05 07 0C 0C 00 00 00 01 19 55"),
       {}},
      {"a network the router does not reach", "127.0.0.10", F("01 24 00 09 01 0C FF 00 05 07 0C 0C 00 00 00 01 19 55"),
       {{"127.0.0.10:47808", "127.0.0.1:40000", F("01 80 03 01 00 09"), 0}}},
      {"the router is not a device", "127.0.0.10", Rp("00 00 00 01", "19 55"), {}},
      {"Who-Is-Router-To-Network", "127.0.0.255", F("01 80 00", bvlc::kOriginalBroadcast),
       {{"127.0.0.10:47808", "127.0.0.1:40000", F("01 80 01 00 05"), 0}}},
      {"Who-Is-Router-To-Network for a network no one reaches", "127.0.0.255", F("01 80 00 00 06", bvlc::kOriginalBroadcast), {}},
      {"relayed device: the answer comes through the BBMD", "127.0.1.5", Rp("02 00 0B B9", "19 4B"),
       {{"127.0.0.20:47808", "127.0.0.1:40000", Fwd("127.0.1.5:47808", ack + "02 00 0B B9 19 4B 3E C4 02 00 0B B9 3F"),
         0}}},
      {"Register-Foreign-Device at a device", "127.0.0.2", "81 05 00 06 00 3C",
       {{"127.0.0.2:47808", "127.0.0.1:40000", "81 00 00 06 00 30", 0}}},
      {"Register-Foreign-Device at the BBMD", "127.0.0.20", "81 05 00 06 00 3C",
       {{"127.0.0.20:47808", "127.0.0.1:40000", "81 00 00 06 00 00", 0}}},
      {"Read-BDT at a device", "127.0.0.2", "81 02 00 04", {{"127.0.0.2:47808", "127.0.0.1:40000", "81 00 00 06 00 20", 0}}},
      {"Distribute-Broadcast-To-Network at a device", "127.0.0.2", "81 09 00 08 01 00 10 08",
       {{"127.0.0.2:47808", "127.0.0.1:40000", "81 00 00 06 00 60", 0}}},
      {"a BVLL length that disagrees", "127.0.0.2", "81 0A 00 20 01 00 10 08", {}},
  };
  for (const Row& row : rows) {
    Responder r(TestBuilding());
    std::vector<Answer> got = Ask(r, row.socket, row.request);
    ASSERT_EQ(got.size(), row.expected.size()) << row.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].from, row.expected[i].from) << row.name;
      EXPECT_EQ(got[i].to, row.expected[i].to) << row.name;
      EXPECT_EQ(got[i].hex, row.expected[i].hex) << row.name;
    }
  }
}

std::vector<std::string> Instances(const std::vector<Answer>& answers) {
  std::vector<std::string> out;
  for (const auto& a : answers) {
    Bytes f = Hex(a.hex);
    Bvll b;
    Npdu n;
    EXPECT_TRUE(ParseBvll(f.data(), f.size(), b));
    EXPECT_TRUE(ParseNpdu(f.data(), f.size(), b.payload, n));
    Reader r(f.data() + n.apdu + 2, f.size() - n.apdu - 2);
    Value oid;
    EXPECT_TRUE(r.ReadValue(oid));
    std::string where = a.from;
    if (n.hasSource) where += " snet=" + std::to_string(n.snet) + " slen=" + std::to_string(n.sadr.size());
    if (b.hasOrigin) where += " origin=" + b.origin.ToString();
    out.push_back(std::to_string(oid.oid.instance) + " " + where);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(SimResponder, TheBbmdKeepsAForeignDeviceTableAndDistributesForItsEntries) {
  using V = std::vector<std::string>;
  const char* fd = "127.0.1.9:47808";  // a logger on another subnet
  const std::string whoIs = "81 09 00 08 01 00 10 08";
  auto ask = [&](Responder& r, const std::string& hex, double at) { return Ask(r, "127.0.0.20", hex, at, nullptr, fd); };
  Responder r(TestBuilding());
  // Unregistered: the BBMD reaches only the devices it relays.
  EXPECT_EQ(Instances(ask(r, whoIs, 0)), (V{"3001 127.0.0.20:47808 origin=127.0.1.5:47808"}));
  // Registered for 60 s: the distributed Who-Is reaches what a local
  // broadcast reaches, and the I-Ams go to the foreign device.
  ASSERT_EQ(ask(r, "81 05 00 06 00 3C", 0).at(0).hex, "81 00 00 06 00 00");
  const std::vector<Answer> found = ask(r, whoIs, 10);
  EXPECT_EQ(Instances(found),
            (V{"1001 127.0.0.2:47808", "1002 127.0.0.3:47808", "3001 127.0.0.20:47808 origin=127.0.1.5:47808"}));
  for (const Answer& a : found) EXPECT_EQ(a.to, fd);
  // Read-FDT lists the entry: the address, 60 s, and 80 s left at 10 s.
  EXPECT_EQ(ask(r, "81 06 00 04", 10).at(0).hex, "81 07 00 0E 7F 00 01 09 BA C0 00 3C 00 50");
  // The entry outlives its time to live by 30 s, then expires.
  EXPECT_EQ(ask(r, whoIs, 89.9).size(), 3u);
  EXPECT_EQ(ask(r, whoIs, 90.1).size(), 1u);
  // Deleted on request (a second delete finds nothing).
  ask(r, "81 05 00 06 00 3C", 100);
  EXPECT_EQ(ask(r, "81 08 00 0A 7F 00 01 09 BA C0", 101).at(0).hex, "81 00 00 06 00 00");
  EXPECT_EQ(ask(r, "81 08 00 0A 7F 00 01 09 BA C0", 102).at(0).hex, "81 00 00 06 00 50");
  EXPECT_EQ(ask(r, whoIs, 103).size(), 1u);

  // Broadcast I-Ams of the subnet are forwarded to each registered foreign device.
  ResponderOptions broadcastIAm;
  broadcastIAm.iamBroadcast = true;
  Responder b(TestBuilding(), broadcastIAm);
  ask(b, "81 05 00 06 00 3C", 0);
  const std::vector<Answer> heard = Ask(b, "127.0.0.2", F("01 00 10 08"), 1);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[1].from, "127.0.0.20:47808");
  EXPECT_EQ(heard[1].to, fd);
  EXPECT_EQ(heard[1].hex.substr(0, 30), "81 04 00 1F 7F 00 00 02 BA C0 ");

  // The knob refuses every registration.
  ResponderOptions nak;
  nak.bbmdNak = true;
  Responder n(TestBuilding(), nak);
  EXPECT_EQ(ask(n, "81 05 00 06 00 3C", 0).at(0).hex, "81 00 00 06 00 30");
}

TEST(SimResponder, WhoIsReachesTheDevicesItsDestinationCovers) {
  Responder r(TestBuilding());
  using V = std::vector<std::string>;
  // A local broadcast stays on the B/IP network (and reaches the BBMD's subnet).
  EXPECT_EQ(Instances(Ask(r, "127.0.0.255", F("01 00 10 08", bvlc::kOriginalBroadcast))),
            (V{"1001 127.0.0.2:47808", "1002 127.0.0.3:47808", "3001 127.0.0.20:47808 origin=127.0.1.5:47808"}));
  // A global broadcast also passes the router.
  EXPECT_EQ(Instances(Ask(r, "127.0.0.255", F("01 20 FF FF 00 FF 10 08", bvlc::kOriginalBroadcast))),
            (V{"1001 127.0.0.2:47808", "1002 127.0.0.3:47808", "2001 127.0.0.10:47808 snet=5 slen=1",
               "2002 127.0.0.10:47808 snet=5 slen=2", "2003 127.0.0.10:47808 snet=5 slen=6",
               "3001 127.0.0.20:47808 origin=127.0.1.5:47808"}));
  // A broadcast on network 5 only, with a range.
  EXPECT_EQ(Instances(Ask(r, "127.0.0.255", F("01 20 00 05 00 FF 10 08 0A 07 D2 1A 07 D3", bvlc::kOriginalBroadcast))),
            (V{"2002 127.0.0.10:47808 snet=5 slen=2", "2003 127.0.0.10:47808 snet=5 slen=6"}));
  // A global Who-Is sent to the router itself.
  EXPECT_EQ(Instances(Ask(r, "127.0.0.10", F("01 20 FF FF 00 FF 10 08"))).size(), 3u);
  // Sent to the BBMD, or as a Forwarded-NPDU from another BBMD, whose origin gets the I-Am.
  EXPECT_EQ(Instances(Ask(r, "127.0.0.20", F("01 00 10 08", bvlc::kOriginalBroadcast))),
            (V{"3001 127.0.0.20:47808 origin=127.0.1.5:47808"}));
  auto fwd = Ask(r, "127.0.0.2", Fwd("127.0.9.9:47808", "01 00 10 08"));
  ASSERT_EQ(fwd.size(), 1u);
  EXPECT_EQ(fwd[0].to, "127.0.9.9:47808");
}

TEST(SimResponder, IAmToBroadcastAndSpread) {
  ResponderOptions o;
  o.iamBroadcast = true;
  o.iamSpreadMs = 300;
  Responder r(TestBuilding(), o);
  auto got = Ask(r, "127.0.0.255", F("01 20 FF FF 00 FF 10 08", bvlc::kOriginalBroadcast));
  ASSERT_EQ(got.size(), 6u);
  std::vector<uint32_t> delays;
  for (const auto& a : got) {
    EXPECT_EQ(a.to, "127.0.0.255:47808");
    delays.push_back(a.delayMs);
  }
  EXPECT_EQ(delays, (std::vector<uint32_t>{0, 50, 100, 150, 200, 250}));
  EXPECT_EQ(got[0].hex, F("01 20 FF FF 00 FF 10 00 C4 02 00 03 E9 22 05 C4 91 03 22 03 E7", bvlc::kOriginalBroadcast));
}

TEST(SimResponder, KnobsDropErrorAndDelay) {
  Building b = TestBuilding();
  b.devices[0].knobs.dropEvery = 3;
  b.devices[0].knobs.errorEvery = 2;
  b.devices[0].knobs.delayMs = 250;
  Responder r(b);
  std::vector<std::string> outcome;
  for (int i = 1; i <= 6; ++i) {
    std::vector<std::string> log;
    auto got = Ask(r, "127.0.0.2", Rp("00 00 00 01", "19 55"), 0, &log);
    ASSERT_EQ(log.size(), 1u);
    outcome.push_back(log[0].substr(log[0].find("->") + 3, 5));
    for (const auto& a : got) EXPECT_EQ(a.delayMs, 250u);
    if (outcome.back() == "error") {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0].hex, F("01 00 50 07 0C 91 00 91 03"));
    }
    EXPECT_EQ(got.size(), outcome.back() == "drop " ? 0u : 1u);
  }
  EXPECT_EQ(outcome, (std::vector<std::string>{"real ", "error", "drop ", "error", "real ", "drop "}));
  // Who-Is does not count and is not dropped.
  EXPECT_EQ(Ask(r, "127.0.0.2", F("01 00 10 08")).size(), 1u);
  // The other device is not affected.
  EXPECT_EQ(Ask(r, "127.0.0.3", Rp("00 00 00 01", "19 55")).size(), 1u);
}

TEST(SimResponder, AConcurrencyLimitAbortsOrDropsWhatIsBeyondItUntilAnAnswerLeaves) {
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "drop" : "abort");
    Building b = TestBuilding();
    b.devices[0].knobs.delayMs = 20;
    b.devices[0].knobs.maxConcurrent = 2;
    b.devices[0].knobs.busyDrop = drop;
    Responder r(b);
    const std::string rp = Rp("00 00 00 01", "19 55");
    EXPECT_EQ(Ask(r, "127.0.0.2", rp, 0.000).size(), 1u);
    EXPECT_EQ(Ask(r, "127.0.0.2", rp, 0.010).size(), 1u);
    const auto beyond = Ask(r, "127.0.0.2", rp, 0.019);
    if (drop) {
      EXPECT_TRUE(beyond.empty());
    } else {
      ASSERT_EQ(beyond.size(), 1u);
      EXPECT_EQ(beyond[0].hex, F("01 00 71 07 09")) << "Abort out-of-resources";
    }
    EXPECT_EQ(Ask(r, "127.0.0.3", rp, 0.019).size(), 1u) << "another device is not affected";
    // The first answer has left: one place is free again, one only.
    const auto freed = Ask(r, "127.0.0.2", rp, 0.020);
    ASSERT_EQ(freed.size(), 1u);
    EXPECT_NE(freed[0].hex, F("01 00 71 07 09"));
    const auto again = Ask(r, "127.0.0.2", rp, 0.021);
    EXPECT_EQ(again.size(), drop ? 0u : 1u);
    if (!again.empty()) {
      EXPECT_EQ(again[0].hex, F("01 00 71 07 09"));
    }
  }
}

TEST(SimResponder, StrictAsRealDevicesUnlessAKnobSaysOtherwise) {
  const std::string whoIs = "01 00 10 08";
  // A unicast frame at the broadcast address is dropped, as real stacks do.
  Responder strict(TestBuilding());
  EXPECT_TRUE(Ask(strict, "127.0.0.255", F(whoIs)).empty());
  ResponderOptions lenient;
  lenient.lenientBroadcast = true;
  Responder forgiving(TestBuilding(), lenient);
  EXPECT_EQ(Ask(forgiving, "127.0.0.255", F(whoIs)).size(), 3u);

  Building b = TestBuilding();
  b.devices[0].knobs.optionalProperties = false;
  b.devices[0].knobs.iamBroadcast = true;
  b.devices[1].knobs.anyInstance = true;
  Responder r(b);
  struct Row {
    const char* name;
    const char* socket;
    std::string request;
    std::string to;
    std::string answer;
  };
  const std::string ack = "01 00 30 07 0C 0C ";
  const std::vector<Row> rows = {
      {"no description", "127.0.0.2", Rp("02 00 03 E9", "19 1C"), "127.0.0.1:40000", F("01 00 50 07 0C 91 02 91 20")},
      {"the required name is still there", "127.0.0.2", Rp("02 00 03 E9", "19 4D"), "127.0.0.1:40000",
       F(ack + "02 00 03 E9 19 4D 3E 75 09 00 44 65 76 2D 31 30 30 31 3F")},
      {"I-Am by broadcast", "127.0.0.2", F(whoIs), "127.0.0.255:47808",
       F("01 20 FF FF 00 FF 10 00 C4 02 00 03 E9 22 05 C4 91 03 22 03 E7", bvlc::kOriginalBroadcast)},
      {"a gateway answers for any device instance", "127.0.0.3", Rp("02 00 03 E7", "19 4B"), "127.0.0.1:40000",
       F(ack + "02 00 03 E7 19 4B 3E C4 02 00 03 EA 3F")},
      {"by default another instance is no object here", "127.0.0.2", Rp("02 00 03 E7", "19 4B"), "127.0.0.1:40000",
       F("01 00 50 07 0C 91 01 91 1F")},
  };
  for (const Row& row : rows) {
    auto got = Ask(r, row.socket, row.request);
    ASSERT_EQ(got.size(), 1u) << row.name;
    EXPECT_EQ(got[0].to, row.to) << row.name;
    EXPECT_EQ(got[0].hex, row.answer) << row.name;
  }
}

TEST(SimResponder, AnAnswerLargerThanTheClientTakesIsAborted) {
  Building b = TestBuilding();
  b.devices[0].objects = DefaultObjects(1001);  // object-list of 21 identifiers: 117 octets
  Responder r(b);
  // Max APDU code 0: 50 octets.
  auto got = Ask(r, "127.0.0.2", F("01 04 00 00 07 0C 0C 02 00 03 E9 19 4C"));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].hex, F("01 00 71 07 04"));
  // Code 1: 128 octets, enough.
  std::vector<std::string> log;
  got = Ask(r, "127.0.0.2", F("01 04 00 01 07 0C 0C 02 00 03 E9 19 4C"), 0, &log);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Hex(got[0].hex).size(), 4 + 2 + 117u);
  EXPECT_NE(log.at(0).find("-> list 21"), std::string::npos) << log[0];
}

TEST(SimResponder, LogLinesNameDeviceObjectPropertyAndOutcome) {
  Responder r(TestBuilding());
  std::vector<std::string> log;
  Ask(r, "127.0.0.2", Rp("00 00 00 01", "19 55"), 0, &log);
  Ask(r, "127.0.0.10", F("01 24 00 05 01 0C FF 00 05 07 0C 0C 00 00 00 09 19 55"), 0, &log);
  Ask(r, "127.0.0.2", F("01 04 00 05 07 0F 0C 00 00 00 01"), 0, &log);
  Ask(r, "127.0.0.255", F("01 00 10 08 09 00 1A 03 E9", bvlc::kOriginalBroadcast), 0, &log);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "rp 127.0.0.2 dev=1001 AI:1 pv -> real 21.5 id=7 from=127.0.0.1:40000",
                     "rp 127.0.0.10/5:0c dev=2001 AI:9 pv -> error object unknown-object id=7 from=127.0.0.1:40000",
                     "svc 127.0.0.2 dev=1001 service=15 -> reject unrecognized-service id=7 from=127.0.0.1:40000",
                     "whois 127.0.0.255:47808 from=127.0.0.1:40000 range=0-1001 matched=1",
                     "iam 127.0.0.2 dev=1001 to=127.0.0.1:40000",
                 }));
}

TEST(SimResponder, PresentValuesFollowTime) {
  SimObject ai = Obj(obj::kAnalogInput, 0, 20);
  ai.amplitude = 4;
  ai.period = 100;
  EXPECT_FLOAT_EQ(PresentValue(ai, 0).real, 20);
  EXPECT_FLOAT_EQ(PresentValue(ai, 25).real, 24);
  EXPECT_FLOAT_EQ(PresentValue(ai, 75).real, 16);
  ai.fixed = true;
  EXPECT_FLOAT_EQ(PresentValue(ai, 25).real, 20);
  SimObject bi = Obj(obj::kBinaryOutput, 0, 1);
  bi.period = 10;
  EXPECT_EQ(PresentValue(bi, 9.9).u, 1u);
  EXPECT_EQ(PresentValue(bi, 10).u, 0u);
  EXPECT_EQ(PresentValue(bi, 20).u, 1u);
  SimObject mi = Obj(obj::kMultiStateInput, 0, 3, 3);
  mi.period = 5;
  EXPECT_EQ(PresentValue(mi, 0).u, 3u);
  EXPECT_EQ(PresentValue(mi, 5).u, 1u);  // after the last state, the first
  EXPECT_EQ(PresentValue(mi, 10).u, 2u);
  EXPECT_EQ(PresentValue(mi, 1e300).u, 3u);  // far-away times stay in range
  EXPECT_EQ(PresentValue(Obj(obj::kNotificationClass, 0, 0), 0).tag, kNull);
  // Through the responder at a given time.
  Responder r(TestBuilding());
  std::vector<std::string> log;
  Ask(r, "127.0.0.2", Rp("00 C0 00 01", "19 55"), 30, &log);
  EXPECT_NE(log.at(0).find("-> enum 0"), std::string::npos) << log[0];
}

// Every answer is a well-formed frame whose APDU reads to its end.
void ExpectWellFormed(const Answer& a, const std::string& request) {
  Bytes f = Hex(a.hex);
  Bvll b;
  ASSERT_TRUE(ParseBvll(f.data(), f.size(), b)) << request;
  if (b.function == bvlc::kResult || b.function == bvlc::kReadBdtAck || b.function == bvlc::kReadFdtAck) return;
  Npdu n;
  ASSERT_TRUE(ParseNpdu(f.data(), f.size(), b.payload, n)) << request;
  if (n.networkMessage) return;
  ASSERT_LT(n.apdu, f.size()) << request;
  const uint8_t* p = f.data() + n.apdu;
  const size_t size = f.size() - n.apdu;
  Reader r(p, size);
  uint8_t type = 0;
  r.ReadOctet(type);
  Value v;
  switch (type) {
    case 0x10: {  // I-Am
      uint8_t choice = 0;
      ASSERT_TRUE(r.ReadOctet(choice) && choice == 0) << request;
      for (int i = 0; i < 4; ++i) ASSERT_TRUE(r.ReadValue(v)) << request;
      break;
    }
    case 0x30: {
      r.Skip(2);
      ObjectId oid;
      uint64_t u = 0;
      ASSERT_TRUE(r.ReadContextObjectId(0, oid)) << request;
      ASSERT_TRUE(r.ReadContextUnsigned(1, u)) << request;
      if (r.NextIsContext(2)) {
        ASSERT_TRUE(r.ReadContextUnsigned(2, u)) << request;
      }
      bacsim::Tag t;
      ASSERT_TRUE(r.ReadTag(t) && t.kind == bacsim::Tag::kOpening && t.number == 3) << request;
      while (r.PeekTag(t) && t.kind == bacsim::Tag::kPrimitive) {
        ASSERT_TRUE(r.ReadValue(v)) << request;
      }
      ASSERT_TRUE(r.ReadTag(t) && t.kind == bacsim::Tag::kClosing && t.number == 3) << request;
      break;
    }
    case 0x50:
      r.Skip(2);
      ASSERT_TRUE(r.ReadValue(v) && v.tag == kEnumerated) << request;
      ASSERT_TRUE(r.ReadValue(v) && v.tag == kEnumerated) << request;
      break;
    case 0x60:
    case 0x71:
      r.Skip(2);
      break;
    default:
      FAIL() << "answer APDU type " << int(type) << " to " << request;
  }
  EXPECT_TRUE(r.AtEnd()) << a.hex << " answering " << request;
}

TEST(SimResponder, MalformedRequestsNeverCrashNorBringMalformedAnswers) {
  const std::vector<std::pair<const char*, std::string>> seeds = {
      {"127.0.0.2", Rp("00 00 00 01", "19 55")},
      {"127.0.0.2", Rp("02 00 03 E9", "19 4C 29 02")},
      {"127.0.0.2", F("01 00 10 08 0A 03 E9 1A 03 E9")},
      {"127.0.0.10", F("01 24 00 05 06 7F 00 00 09 BA C0 FF 00 05 07 0C 0C 02 00 07 D3 19 78")},
      {"127.0.0.255", F("01 20 FF FF 00 FF 10 08", bvlc::kOriginalBroadcast)},
      {"127.0.0.255", F("01 80 00 00 05", bvlc::kOriginalBroadcast)},
      {"127.0.1.5", Fwd("127.0.9.9:47808", "01 0C 00 09 01 21 00 05 07 0C 0C 00 00 00 01 19 4F")},
      {"127.0.0.20", "81 09 00 08 01 00 10 08"},
  };
  Responder r(TestBuilding());
  size_t answered = 0;
  for (const auto& [socket, hex] : seeds) {
    const Bytes good = Hex(hex);
    std::vector<Bytes> variants;
    for (size_t cut = 0; cut < good.size(); ++cut) {
      Bytes c(good.begin(), good.begin() + static_cast<long>(cut));
      if (c.size() >= 4) {  // keep the length field honest so the cut reaches the inner layers
        c[2] = static_cast<uint8_t>(c.size() >> 8);
        c[3] = static_cast<uint8_t>(c.size());
      }
      variants.push_back(c);
    }
    for (size_t i = 4; i < good.size(); ++i) {
      for (uint8_t v : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x80}, uint8_t{0x7F}, uint8_t(good[i] ^ 0x01),
                        uint8_t(good[i] ^ 0x08), uint8_t(good[i] + 1), uint8_t{0x3E}}) {
        Bytes m = good;
        m[i] = v;
        variants.push_back(m);
      }
    }
    for (const Bytes& v : variants) {
      for (const Answer& a : Ask(r, socket, HexText(v))) {
        ++answered;
        ExpectWellFormed(a, HexText(v));
      }
    }
  }
  EXPECT_GT(answered, 100u);  // the mutations did reach the services
}

}  // namespace
