// Our frames read by an independent BACnet dissector (tshark): the requests
// we build must decode as we meant them, and its reading of received frames
// must agree with ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bacnet/bacnet_stack.h"
#include "common/tshark_fields.h"
#include "common/hex.h"
#include "common/pcap_writer.h"

using namespace bacnet;
using testutil::Hex;
using testutil::HexText;

namespace {

using testutil::HaveTshark;
using testutil::RunCommand;

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/bacnet_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name;
}

std::vector<std::vector<std::string>> Fields(const std::string& pcap, const std::vector<std::string>& names) {
  return testutil::TsharkFields(pcap, names);
}

TEST(Tshark, ReadsOurRequestsAsMeant) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark not installed";
  const std::string path = TempPath("requests.pcap");
  std::vector<TBacByteArray> frames;
  TBACnetStack stack;
  stack.OnSend = [&](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
    frames.emplace_back(f.begin(), f.begin() + len);
    return 0;
  };
  TDeviceConnInfo local{TIpEndPoint{"127.0.0.2", 47808, false}};
  local.InvokeId = 7;
  stack.ReadProperty(local, 3, 0, 85);
  TDeviceConnInfo mstp = local;
  mstp.Network = 5;
  const uint8_t one[] = {0x34};
  mstp.SetStationAddress(one, 1);
  mstp.InvokeId = 8;
  stack.ReadProperty(mstp, 12, 1, 85);
  TDeviceConnInfo ip = local;
  ip.Network = 9;
  const uint8_t six[] = {10, 0, 0, 7, 0xBA, 0xC0};
  ip.SetStationAddress(six, 6);
  ip.InvokeId = 255;
  ip.Instance = 4194302;
  stack.ReadProperty(ip, 0, 8, 512);
  stack.SendWhoIs(local);
  ASSERT_EQ(frames.size(), 4u);
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const auto& f : frames) w.Udp(1, 47808, 2, 47808, f);
  }
  const auto rows = Fields(path, {"_ws.malformed", "_ws.expert.severity", "bacapp.invoke_id", "bacapp.objectType",
                                  "bacapp.instance_number", "bacapp.property_identifier", "bacnet.dnet", "bacnet.dlen",
                                  "bacnet.dadr_mstp", "bacnet.dadr_tmp", "bacapp.unconfirmed_service"});
  ASSERT_EQ(rows.size(), 4u);
  for (const auto& r : rows) {
    EXPECT_EQ(r[0], "") << "malformed";
    EXPECT_EQ(r[1], "") << "expert info";
  }
  EXPECT_EQ(rows[0][2], "7");
  EXPECT_EQ(rows[0][3], "0");
  EXPECT_EQ(rows[0][4], "3");
  EXPECT_EQ(rows[0][5], "85");
  EXPECT_EQ(rows[1][2], "8");
  EXPECT_EQ(rows[1][3], "1");
  EXPECT_EQ(rows[1][4], "12");
  EXPECT_EQ(rows[1][6], "5");
  EXPECT_EQ(rows[1][7], "1");
  EXPECT_EQ(rows[1][8], "52");  // 0x34
  EXPECT_EQ(rows[2][2], "255");
  EXPECT_EQ(rows[2][3], "8");
  EXPECT_EQ(rows[2][4], "4194302");
  EXPECT_EQ(rows[2][5], "512");
  EXPECT_EQ(rows[2][6], "9");
  EXPECT_EQ(rows[2][7], "6");
  EXPECT_EQ(rows[3][10], "8");  // Who-Is
  std::remove(path.c_str());
}

// A foreign device's frames: registration, the Who-Is distributed by the
// manager, the delete of its entry; and the manager's result, which we read
// as tshark does.
TEST(Tshark, ReadsOurForeignDeviceFramesAsMeant) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark not installed";
  const std::string path = TempPath("foreign.pcap");
  std::vector<TBacByteArray> frames;
  TBACnetStack stack;
  stack.OnSend = [&](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
    frames.emplace_back(f.begin(), f.begin() + len);
    return 0;
  };
  const TDeviceConnInfo manager{TIpEndPoint{"10.0.0.1", 47808, false}};
  std::array<uint8_t, 10> out{};
  stack.SendBvll(manager, TBacBytes(out.data(), static_cast<size_t>(BuildRegisterForeignDevice(out, 300))));
  stack.SendDistributedWhoIs(manager, 47808, 1201);
  stack.SendBvll(manager, TBacBytes(out.data(), static_cast<size_t>(BuildDeleteFdtEntry(out, {192, 168, 1, 5}, 47809))));
  const TBacByteArray nak = Hex("81 00 00 06 00 30");
  frames.push_back(nak);
  ASSERT_EQ(frames.size(), 4u);
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const auto& f : frames) w.Udp(1, 47808, 2, 47808, f);
  }
  const auto rows = Fields(path, {"_ws.malformed", "_ws.expert.severity", "bvlc.function", "bvlc.reg_ttl",
                                  "bacapp.unconfirmed_service", "bacapp.who_is.low_limit",
                                  "bvlc.fdt_ip", "bvlc.fdt_port", "bvlc.result"});
  ASSERT_EQ(rows.size(), 4u);
  for (const auto& r : rows) {
    EXPECT_EQ(r[0], "") << "malformed";
    EXPECT_EQ(r[1], "") << "expert info";
  }
  EXPECT_EQ(rows[0][2], "0x05");
  EXPECT_EQ(rows[0][3], "300");
  EXPECT_EQ(rows[1][2], "0x09");
  EXPECT_EQ(rows[1][4], "8");  // Who-Is
  EXPECT_EQ(rows[1][5], "1201");
  EXPECT_EQ(rows[2][2], "0x08");
  EXPECT_EQ(rows[2][6], "192.168.1.5");
  EXPECT_EQ(rows[2][7], "47809");
  uint16_t code = 0;
  ASSERT_TRUE(DecodeBvlcResult(nak, code));
  EXPECT_EQ(rows[3][8], "0x0030");
  EXPECT_EQ(code, 0x0030);
  std::remove(path.c_str());
}

struct Received {
  const char* name;
  std::string frame;
  const char* field;  // tshark field holding the value, or "" for none
};

std::string Ack(uint8_t invokeId, const std::string& value) {
  TBacByteArray f = Hex("81 0A 00 00 01 00 30 00 0C 0C 00 00 00 03 19 55 3E " + value + " 3F");
  f[3] = static_cast<uint8_t>(f.size());
  f[7] = invokeId;
  return HexText(f);
}

std::string OurText(const kel::Variant& v) {
  switch (v.Type()) {
    case kel::VarType::Null: return "null";
    case kel::VarType::Bool: return v.ToBool() ? "1" : "0";
    case kel::VarType::UI4:
    case kel::VarType::I4: return std::to_string(v.ToInt64());
    case kel::VarType::R8: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.6g", v.RawDouble());
      return buf;
    }
    default: return v.RawString();
  }
}

TEST(Tshark, AgreesOnReceivedFrames) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark not installed";
  const std::string path = TempPath("received.pcap");
  const std::vector<Received> frames = {
      {"null", Ack(1, "00"), "bacapp.present_value.null"},
      {"boolean", Ack(2, "11"), "bacapp.present_value.boolean"},
      {"unsigned", Ack(3, "23 01 86 A0"), "bacapp.present_value.uint"},
      {"signed", Ack(4, "32 FF 38"), "bacapp.present_value.int"},
      {"real", Ack(5, "44 42 2A 00 00"), "bacapp.present_value.real"},
      {"double", Ack(6, "55 08 40 09 21 FB 54 44 2D 18"), "bacapp.present_value.double"},
      {"octets", Ack(7, "63 41 42 43"), "bacapp.present_value.octet_string"},
      {"chars", Ack(8, "75 06 00 48 65 6C 6C 6F"), "bacapp.present_value.char_string"},
      {"bits", Ack(9, "83 04 A5 F0"), "bacapp.present_value.bit_string"},
      {"enumerated", Ack(10, "91 03"), "bacapp.present_value.enum_index"},
      {"date", Ack(11, "A4 7C 03 0F 05"), ""},
      {"time", Ack(12, "B4 17 3B 3A 00"), ""},
      {"objectid", Ack(13, "C4 02 00 04 D2"), "bacapp.present_value.enum_index"},
      {"iam", "81 0B 00 14 01 00 10 00 C4 02 00 04 D2 22 05 C4 91 00 21 2A", "bacapp.instance_number"},
      {"error", "81 0A 00 0D 01 00 50 0E 0C 91 02 91 20", "bacapp.error_code"},
      {"reject", "81 0A 00 09 01 00 60 0F 09", "bacapp.reject_reason"},
      {"abort", "81 0A 00 09 01 00 71 10 04", "bacapp.abort_reason"},
      {"forwarded", "81 04 00 1A 0A 01 02 03 BA C0 01 00 10 00 C4 02 00 04 D3 22 05 C4 91 00 21 2A",
       "bacapp.instance_number"},
  };
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const auto& r : frames) w.Udp(2, 47808, 1, 47808, Hex(r.frame));
  }
  std::vector<std::string> names = {"_ws.malformed", "bacapp.invoke_id", "bvlc.orig_source_addr", "bacapp.error_class"};
  for (const auto& r : frames)
    if (*r.field && std::find(names.begin(), names.end(), r.field) == names.end()) names.push_back(r.field);
  const auto rows = Fields(path, names);
  ASSERT_EQ(rows.size(), frames.size());
  const std::string verbose = RunCommand("tshark -r " + path + " -V");
  EXPECT_EQ(verbose.find("Malformed"), std::string::npos);
  EXPECT_NE(verbose.find("Date: March 15, 2024"), std::string::npos) << "date not shown as ours";
  EXPECT_NE(verbose.find("= 23:59:58.0"), std::string::npos) << "time not shown as ours";

  for (size_t i = 0; i < frames.size(); ++i) {
    const Received& r = frames[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(rows[i][0], "");
    TBACnetStack stack;
    const TBacByteArray f = Hex(r.frame);
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), "127.0.0.2", 47808));
    TDeviceConnInfo expected{TIpEndPoint{"127.0.0.2", 47808, false}};
    const uint8_t invoke = rows[i][1].empty() ? 0 : static_cast<uint8_t>(std::stoi(rows[i][1]));
    TProperty p;
    const int32_t code = stack.ProcessReceived(invoke, expected, p);
    ASSERT_GT(code, 0);
    if (!*r.field) continue;
    size_t col = 4;
    while (names[col] != r.field) ++col;
    std::string theirs = rows[i][col];
    std::string ours;
    if (code == 0x10) {
      TDeviceReadLock lock(stack.Data.Devices);
      ASSERT_EQ(lock.Items().size(), 1u);
      ours = std::to_string(lock.Items()[0]->ConnInfo.Instance);
      if (rows[i][2].size()) {
        EXPECT_EQ(rows[i][2], "10.1.2.3");
        EXPECT_EQ(lock.Items()[0]->ConnInfo.EndPoint.Address, "10.1.2.3");
      }
    } else if (code == 0x50) {
      ours = std::to_string(p.ErrorCode);
      EXPECT_EQ(rows[i][3], std::to_string(p.ErrorClass));
    } else if (code == 0x60 || code == 0x70) {
      ours = std::to_string(p.ErrorCode);
    } else if (std::string(r.name) == "objectid") {
      // The dissector shows the object type of an identifier value.
      ours = std::to_string(p.Value.ToInt64() >> kObjectTypeShift);
    } else if (std::string(r.name) == "null") {
      ours = p.Value.IsNull() && p.Tag == 0 ? theirs : "not null";
    } else if (std::string(r.name) == "octets") {
      for (char c : p.Value.RawString()) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", static_cast<uint8_t>(c));
        ours += buf;
      }
      std::erase(theirs, ':');
      // The dissector shows the tag octet with the content.
      if (theirs.size() > ours.size()) theirs = theirs.substr(theirs.size() - ours.size());
    } else if (std::string(r.name) == "real" || std::string(r.name) == "double") {
      ours = OurText(p.Value);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.6g", std::stod(theirs));
      theirs = buf;
    } else if (std::string(r.name) == "boolean") {
      ours = OurText(p.Value);
      if (theirs == "True") theirs = "1";
    } else if (std::string(r.name) == "bits") {
      ours = OurText(p.Value);
      for (char& c : theirs) c = c == 'T' ? '1' : c == 'F' ? '0' : c;
    } else {
      ours = OurText(p.Value);
    }
    EXPECT_EQ(ours, theirs);
  }
  if (std::getenv("BACNET_KEEP_PCAP") == nullptr) std::remove(path.c_str());
}

}  // namespace

namespace {

// ReadPropertyMultiple requests we build, and an ACK as devices send it.
TEST(Tshark, ReadsReadPropertyMultipleAsMeant) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark not installed";
  const std::string path = TempPath("rpm.pcap");
  std::vector<TBacByteArray> frames;
  TBACnetStack stack;
  stack.OnSend = [&](TBACnetStack&, TBacBytes f, const TDeviceConnInfo&, int32_t len) {
    frames.emplace_back(f.begin(), f.begin() + len);
    return 0;
  };
  TDeviceConnInfo conn{TIpEndPoint{"127.0.0.2", 47808, false}};
  conn.InvokeId = 7;
  const std::vector<TRpmItem> two = {{0, 3}, {19, 4194302}};
  ASSERT_EQ(stack.ReadPropertyMultiple(conn, two), 7);
  // The most one request carries, to a routed device with a six-octet
  // station address: longer than 255 octets.
  conn.Network = 9;
  const uint8_t six[] = {10, 0, 0, 7, 0xBA, 0xC0};
  conn.SetStationAddress(six, 6);
  conn.MaxApdu = 1476;
  std::vector<TRpmItem> most(kMaxRpmItems);
  for (uint32_t i = 0; i < most.size(); ++i) most[i] = {static_cast<uint16_t>(i % 6), i * 1000};
  ASSERT_EQ(stack.ReadPropertyMultiple(conn, most), 7);
  TBacByteArray ack = Hex("81 0A 00 28 01 00 30 07 0E 0C 00 00 00 03 1E 29 55 4E 44 42 28 00 00 4F 1F "
                          "0C 04 FF FF FE 1E 29 55 5E 91 01 91 1F 5F 1F");
  frames.push_back(ack);
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const auto& f : frames) w.Udp(1, 47808, 2, 47808, f);
  }
  const auto rows = testutil::TsharkFields(
      path, {"_ws.malformed", "_ws.expert.severity", "bacapp.confirmed_service", "bacapp.objectType",
             "bacapp.instance_number", "bacapp.property_identifier", "bacnet.dlen", "bacapp.present_value.real",
             "bacapp.error_class", "bacapp.error_code"},
      "-E occurrence=a -E aggregator=,");
  ASSERT_EQ(rows.size(), 3u);
  // What we meant, in tshark's form: the objects of each frame, in order.
  const auto list = [](const std::vector<TRpmItem>& items, bool types) {
    std::string s;
    for (const TRpmItem& i : items) s += (s.empty() ? "" : ",") + std::to_string(types ? i.ObjectType : i.Instance);
    return s;
  };
  std::vector<TRpmItem> answered;
  auto keep = [&](const TRpmResult& r) { answered.push_back({r.ObjectType, r.Instance}); };
  ASSERT_EQ(DecodeReadPropertyMultipleAck(ack, 6, 2, keep), TRpmStatus::Ok);
  const std::vector<std::vector<TRpmItem>> meant = {two, most, answered};
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i][0], "") << "malformed";
    EXPECT_EQ(rows[i][1], "") << "expert info";
    EXPECT_EQ(rows[i][2], "14");
    EXPECT_EQ(rows[i][3], list(meant[i], true));
    EXPECT_EQ(rows[i][4], list(meant[i], false));
  }
  EXPECT_EQ(rows[0][5], "85,85");
  EXPECT_EQ(rows[1][6], "6");
  EXPECT_EQ(rows[2][7], "42");
  EXPECT_EQ(rows[2][8] + "/" + rows[2][9], "1/31");
  if (std::getenv("BACNET_KEEP_PCAP") == nullptr) std::remove(path.c_str());
}

}  // namespace
