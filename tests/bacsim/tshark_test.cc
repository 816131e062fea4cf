// The simulator's answers read by an independent BACnet dissector
// (Wireshark's, through tshark): each must decode as the frame it is meant to
// be, with no malformed or expert warning. Skipped without tshark.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/pcap_writer.h"
#include "common/tshark_fields.h"
#include "sim_building.h"

using namespace bacsim;
using namespace bacsim_test;

namespace {

using testutil::HaveTshark;

std::vector<std::vector<std::string>> Fields(const std::string& pcap, const std::vector<std::string>& names) {
  return testutil::TsharkFields(pcap, names, "-E occurrence=a -E aggregator=','");
}

struct Case {
  const char* name;
  const char* socket;
  std::string request;
  // Expected tshark field values of the (first) answer, by field name.
  std::vector<std::pair<std::string, std::string>> expect;
};

std::string F(const std::string& payload, uint8_t function = bvlc::kOriginalUnicast) {
  return HexText(BuildBvll(function, Hex(payload)));
}
std::string RoutedRp(const std::string& mac, const std::string& oid, const std::string& property) {
  const size_t len = Hex(mac).size();
  char dlen[4];
  std::snprintf(dlen, sizeof dlen, "%02zX", len);
  return F("01 24 00 05 " + std::string(dlen) + " " + mac + " FF 00 05 07 0C 0C " + oid + " " + property);
}

TEST(SimTshark, AnswersDecodeAsMeant) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark not installed";
  const std::vector<Case> cases = {
      {"I-Am", "127.0.0.2", F("01 00 10 08"),
       {{"bacapp.unconfirmed_service", "0"}, {"bacapp.instance_number", "1001"}, {"bacapp.vendor_identifier", "999"}}},
      {"Real present value", "127.0.0.2", F("01 04 00 05 07 0C 0C 00 00 00 01 19 55"),
       {{"bacapp.type", "3"}, {"bacapp.invoke_id", "7"}, {"bacapp.confirmed_service", "12"},
        {"bacapp.present_value.real", "21.5"}}},
      {"Enumerated present value", "127.0.0.2", F("01 04 00 05 08 0C 0C 00 C0 00 01 19 55"),
       {{"bacapp.invoke_id", "8"}, {"bacapp.objectType", "3"}, {"bacapp.present_value.enum_index", "1"}}},
      {"Unsigned present value", "127.0.0.2", F("01 04 00 05 09 0C 0C 04 C0 00 01 19 55"),
       {{"bacapp.objectType", "19"}, {"bacapp.present_value.uint", "2"}}},
      {"device object-name", "127.0.0.2", F("01 04 00 05 0A 0C 0C 02 00 03 E9 19 4D"),
       {{"bacapp.objectType", "8"}, {"bacapp.instance_number", "1001"}, {"bacapp.string_character_set", "0"},
        {"bacapp.object_name", "Dev-1001"}}},
      {"Error unknown-object", "127.0.0.2", F("01 04 00 05 0B 0C 0C 00 00 00 09 19 55"),
       {{"bacapp.type", "5"}, {"bacapp.error_class", "1"}, {"bacapp.error_code", "31"}}},
      {"Error unknown-property", "127.0.0.2", F("01 04 00 05 0C 0C 0C 00 00 00 01 19 C8"),
       {{"bacapp.error_class", "2"}, {"bacapp.error_code", "32"}}},
      {"ReadPropertyMultiple: a value and a property error", "127.0.0.2",
       F("01 04 00 05 10 0E 0C 00 00 00 01 1E 09 55 1F 0C 00 00 00 09 1E 09 55 1F"),
       {{"bacapp.type", "3"}, {"bacapp.confirmed_service", "14"}, {"bacapp.instance_number", "1,9"},
        {"bacapp.present_value.real", "21.5"}, {"bacapp.error_class", "1"}, {"bacapp.error_code", "31"}}},
      {"Reject unrecognized-service", "127.0.0.2", F("01 04 00 05 0D 0F 0C 00 00 00 01 19 55 3E 44 41 AC 00 00 3F"),
       {{"bacapp.type", "6"}, {"bacapp.reject_reason", "9"}}},
      {"Abort segmentation-not-supported", "127.0.0.2", F("01 04 08 05 0E 00 04 0C 0C 00 00 00 01 19 55"),
       {{"bacapp.type", "7"}, {"bacapp.abort_reason", "4"}}},
      {"routed, one-octet station", "127.0.0.10", RoutedRp("0C", "00 00 00 01", "19 55"),
       {{"bacnet.snet", "5"}, {"bacnet.slen", "1"}, {"bacnet.sadr_mstp", "12"}, {"bacapp.present_value.real", "21.5"}}},
      {"routed, two-octet station", "127.0.0.10", RoutedRp("00 2A", "00 00 00 01", "19 55"),
       {{"bacnet.snet", "5"}, {"bacnet.slen", "2"}, {"bacnet.sadr_tmp", "002a"}}},
      {"routed, six-octet station", "127.0.0.10", RoutedRp("7F 00 00 09 BA C0", "02 00 07 D3", "19 4B"),
       {{"bacnet.snet", "5"}, {"bacnet.slen", "6"}, {"bacnet.sadr_eth", "7f:00:00:09:ba:c0"},
        {"bacapp.instance_number", "2003,2003"}}},
      {"routed I-Am", "127.0.0.10", F("01 20 FF FF 00 FF 10 08"),
       {{"bacnet.snet", "5"}, {"bacapp.unconfirmed_service", "0"}, {"bacapp.instance_number", "2001"}}},
      {"relayed through the BBMD", "127.0.1.5", F("01 04 00 05 0F 0C 0C 00 00 00 01 19 55"),
       {{"bvlc.function", "0x04"}, {"bvlc.fwd_ip", "127.0.1.5"}, {"bvlc.fwd_port", "47808"},
        {"bacapp.present_value.real", "21.5"}}},
      {"BVLC-Result NAK", "127.0.0.2", "81 05 00 06 00 3C", {{"bvlc.function", "0x00"}, {"bvlc.result", "0x0030"}}},
      {"I-Am-Router-To-Network", "127.0.0.255", F("01 80 00", bvlc::kOriginalBroadcast), {{"bacnet.mesgtyp", "0x01"}, {"bacnet.dnet", "5"}}},
      {"Reject-Message-To-Network", "127.0.0.10", RoutedRp("0C", "00 00 00 01", "19 55").replace(21, 2, "09"),
       {{"bacnet.mesgtyp", "0x03"}, {"bacnet.rejectreason", "1"}, {"bacnet.dnet", "9"}}},
      {"SubscribeCOV Simple-ACK", "127.0.0.2", F("01 04 00 05 10 05 09 12 1C 00 00 00 01 29 00 39 3C"),
       {{"bacapp.type", "2"}, {"bacapp.invoke_id", "16"}, {"bacapp.confirmed_service", "5"}}},
  };
  const char* dir = std::getenv("TMPDIR");
  const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/bacsim_answers_" +
                           std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                           std::to_string(getpid()) + ".pcap";
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const auto& c : cases) {
      Responder r(TestBuilding());
      auto answers = Ask(r, c.socket, c.request);
      ASSERT_FALSE(answers.empty()) << c.name;
      const Endpoint from = Ep(answers[0].from.c_str());
      const Endpoint to = Ep(answers[0].to.c_str());
      w.Udp(static_cast<uint8_t>(from.ip), from.port, static_cast<uint8_t>(to.ip), to.port, Hex(answers[0].hex));
    }
  }
  // Each field once: tshark prints a field named twice only once.
  std::vector<std::string> names = {"_ws.malformed", "_ws.expert.severity"};
  auto column = [&](const std::string& field) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == field) return i;
    }
    names.push_back(field);
    return names.size() - 1;
  };
  for (const auto& c : cases) {
    for (const auto& [field, value] : c.expect) column(field);
  }
  const auto rows = Fields(path, names);
  ASSERT_EQ(rows.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(rows[i][0], "") << cases[i].name << ": malformed";
    EXPECT_EQ(rows[i][1], "") << cases[i].name << ": expert info";
    for (const auto& [field, value] : cases[i].expect) {
      EXPECT_EQ(rows[i][column(field)], value) << cases[i].name << ": " << field;
    }
  }
  if (!std::getenv("BACSIM_KEEP_PCAP")) std::remove(path.c_str());
}

// COV notifications as the devices send them: unconfirmed from a local
// device, confirmed (by knob) through the router from a routed one.
TEST(SimTshark, CovNotificationsDecodeAsMeant) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark not installed";
  Building b = TestBuilding();
  b.devices[2].knobs.covConfirmed = true;
  Responder r(b);
  Ask(r, "127.0.0.2", F("01 04 00 05 07 05 09 12 1C 00 00 00 01 29 00 39 3C"));
  Ask(r, "127.0.0.10", F("01 24 00 05 01 0C FF 00 05 07 05 09 12 1C 00 C0 00 01 29 00 39 00"));
  std::vector<Outgoing> out;
  std::vector<std::string> log;
  r.Tick(0, out, log);
  ASSERT_EQ(out.size(), 2u);
  const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/bacsim_cov_" +
                           std::to_string(getpid()) + ".pcap";
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const auto& o : out) w.Udp(static_cast<uint8_t>(r.Sockets()[o.socket].endpoint.ip), 47808, 1, o.to.port, o.data);
  }
  const auto rows = Fields(path, {"_ws.malformed", "_ws.expert.severity", "bacapp.unconfirmed_service",
                                  "bacapp.confirmed_service", "bacapp.instance_number", "bacnet.snet",
                                  "bacapp.present_value.real", "bacapp.present_value.enum_index"});
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& row : rows) {
    EXPECT_EQ(row[0], "");
    EXPECT_EQ(row[1], "");
  }
  EXPECT_EQ(rows[0][2], "2");
  EXPECT_EQ(rows[0][4], "1001,1");
  EXPECT_EQ(rows[0][6], "21.5");
  EXPECT_EQ(rows[1][3], "1");
  EXPECT_EQ(rows[1][5], "5");
  EXPECT_EQ(rows[1][7], "1");
  std::remove(path.c_str());
}

}  // namespace
