// The decoders at their limits: every integer width at its extremes,
// strings of every printable octet, the longest length forms, the widest
// identifiers and the first proprietary reasons; frames are also read by
// tshark, whose reading must agree with ours.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bacnet/bacnet_errors.h"
#include "bacnet/bacnet_stack.h"
#include "common/tshark_fields.h"
#include "common/hex.h"
#include "common/pcap_writer.h"

using namespace bacnet;
using testutil::Hex;
using testutil::HexText;

namespace {

kel::Variant DecodeAll(const TBacByteArray& f, int32_t* endPos = nullptr, uint32_t* lvt = nullptr) {
  int32_t pos = 0;
  kel::Variant v;
  uint32_t l = 0;
  if (!DecodeApplicationValue(f, pos, v, nullptr, &l)) v = kel::Variant("failed");
  if (endPos) *endPos = pos;
  if (lvt) *lvt = l;
  return v;
}

struct IntCase {
  const char* hex;
  int64_t value;
};

// Signed and unsigned values of one to four octets at both ends of their
// range, three octets included (its sign comes from bit 23).
const IntCase kSigned[] = {
    {"31 00", 0},          {"31 7F", 127},          {"31 80", -128},          {"31 FF", -1},
    {"32 7F FF", 32767},   {"32 80 00", -32768},    {"32 FF 7F", -129},       {"32 00 80", 128},
    {"33 7F FF FF", 8388607}, {"33 80 00 00", -8388608}, {"33 FF FF FF", -1}, {"33 00 80 00", 32768},
    {"33 FF 7F FF", -32769}, {"34 7F FF FF FF", 2147483647}, {"34 80 00 00 00", -2147483647 - 1},
    {"34 FF FF FF FE", -2},  {"34 00 80 00 00", 8388608}};
const IntCase kUnsigned[] = {{"21 FF", 255},           {"22 FF FF", 65535},        {"23 FF FF FF", 16777215},
                             {"23 80 00 00", 8388608}, {"24 FF FF FF FF", 4294967295}, {"24 80 00 00 00", 2147483648},
                             {"91 FF", 255},           {"94 FF FF FF FF", 4294967295}};

TEST(DecoderLimits, IntegersOfEveryLengthAtTheirEnds) {
  for (const IntCase& c : kSigned) {
    const kel::Variant v = DecodeAll(Hex(c.hex));
    ASSERT_EQ(v.Type(), kel::VarType::I4) << c.hex;
    EXPECT_EQ(v.ToInt64(), c.value) << c.hex;
  }
  for (const IntCase& c : kUnsigned) {
    const kel::Variant v = DecodeAll(Hex(c.hex));
    ASSERT_EQ(v.Type(), kel::VarType::UI4) << c.hex;
    EXPECT_EQ(v.ToInt64(), c.value) << c.hex;
  }
  // The readers themselves, at offsets other than 0.
  const TBacByteArray f = Hex("00 80 00 01 FF");
  for (uint32_t len = 1; len <= 4; ++len) {
    int32_t pos = 1;
    const int32_t s = DecodeSigned(f, pos, len);
    EXPECT_EQ(pos, static_cast<int32_t>(1 + len));
    EXPECT_LT(s, 0) << len;  // 0x80 first: negative at every width
  }
  int32_t pos = 1;
  EXPECT_EQ(DecodeSigned(f, pos, 3), -8388607);
}

// The octets that end a character string are those below 0x20: blanks,
// DEL and every octet from 0x80 up stay, unconverted.
TEST(DecoderLimits, CharacterStringsKeepBlanksAndEveryPrintableOctet) {
  std::string printable;
  for (int c = 0x20; c <= 0xFF; ++c) printable.push_back(static_cast<char>(c));
  const std::string text = "  " + printable + "  ";
  TBacByteArray f = Hex("75 FE");
  const size_t lvt = text.size() + 1;
  f.push_back(static_cast<uint8_t>(lvt >> 8));
  f.push_back(static_cast<uint8_t>(lvt));
  f.push_back(0);  // character set
  f.insert(f.end(), text.begin(), text.end());
  int32_t end = 0;
  EXPECT_EQ(DecodeAll(f, &end).RawString(), text);
  EXPECT_EQ(end, static_cast<int32_t>(f.size()));
  // Only blanks, and a control octet right after the character set.
  EXPECT_EQ(DecodeAll(Hex("74 00 20 20 20")).RawString(), "   ");
  EXPECT_EQ(DecodeAll(Hex("74 00 1F 41 42")).RawString(), "");
  EXPECT_EQ(DecodeAll(Hex("74 00 41 42 1F")).RawString(), "AB");
  // Octet strings keep every octet, controls too.
  EXPECT_EQ(DecodeAll(Hex("64 00 1F 7F FF")).RawString(), std::string("\x00\x1f\x7f\xff", 4));
}

// The 32-bit length form complete, with an extended tag number in front
// (the longest header, 7 octets), at the exact end of the frame and one
// octet short of it.
TEST(DecoderLimits, LongestTagHeadersAndValuesEndingAtTheFrameEnd) {
  TBacByteArray f = Hex("75 FF 00 00 01 2C 00");
  f.resize(f.size() + 299, 'z');
  int32_t end = 0;
  uint32_t lvt = 0;
  EXPECT_EQ(DecodeAll(f, &end, &lvt).RawString(), std::string(299, 'z'));
  EXPECT_EQ(lvt, 300u);
  EXPECT_EQ(end, static_cast<int32_t>(f.size()));
  f.pop_back();
  EXPECT_EQ(DecodeAll(f).RawString(), "failed");

  TBacByteArray h = Hex("FD 80 FF 00 00 00 02 AA BB");
  int32_t pos = 0;
  TTagHeader header = DecodeTagHeader(h, pos);
  EXPECT_EQ(header.Length, 7);
  EXPECT_EQ(header.TagNumber, 0x80);
  EXPECT_EQ(header.Lvt, 2u);
  EXPECT_EQ(pos, 7);
  // Every prefix of the 32-bit form is too short.
  for (size_t n = 3; n < 7; ++n) {
    TBacByteArray cut(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(n));
    pos = 0;
    EXPECT_EQ(DecodeTagHeader(cut, pos).Length, 0) << n;
  }
  // A length beyond what any frame holds is refused, not wrapped.
  for (const char* huge : {"75 FF FF FF FF FF 00 41", "75 FF 80 00 00 00 00 41", "65 FF 00 00 05 BF 00"}) {
    EXPECT_EQ(DecodeAll(Hex(huge)).RawString(), "failed") << huge;
  }
  // Values that end exactly at the frame end.
  EXPECT_EQ(DecodeAll(Hex("44 7F 7F FF FF")).RawDouble(), 3.4028234663852886e38);
  EXPECT_EQ(DecodeAll(Hex("24 FF FF FF")).RawString(), "failed");
}

TEST(DecoderLimits, WidestIdentifiersEncodeAndDecode) {
  TBacByteArray f = NewByteArray(5);
  EncodeObjectIdentifier(f, 0, 1023, 4194303);
  EXPECT_EQ(f, Hex("0C FF FF FF FF"));
  EncodeObjectIdentifier(f, 0, 8, 1u << 21);
  EXPECT_EQ(f, Hex("0C 02 20 00 00"));
  EncodeObjectIdentifier(f, 0, 8, 4194304);  // one above: only 22 bits go out
  EXPECT_EQ(f, Hex("0C 02 00 00 00"));
  EncodeObjectIdentifier(f, 0, 1024, 5);  // object type beyond 10 bits
  EXPECT_EQ(f, Hex("0C 00 00 00 05"));

  f = NewByteArray(3);
  EXPECT_EQ(EncodePropertyIdentifier(f, 0, 255), 2);
  EXPECT_EQ(TBacByteArray(f.begin(), f.begin() + 2), Hex("19 FF"));
  EXPECT_EQ(EncodePropertyIdentifier(f, 0, 256), 3);
  EXPECT_EQ(f, Hex("1A 01 00"));
  EXPECT_EQ(EncodePropertyIdentifier(f, 0, 65534), 3);
  EXPECT_EQ(f, Hex("1A FF FE"));
  // Two octets do not fit into two: nothing is written.
  std::vector<uint8_t> two(2, 0xEE);
  EXPECT_EQ(EncodePropertyIdentifier(two, 0, 256), 0);
  EXPECT_EQ(two, Hex("EE EE"));

  for (uint32_t instance : {0x1FFFFFu, 0x200000u, 0x3FFFFEu, 0x3FFFFFu}) {
    TBacByteArray iam = Hex("10 00 C4 02 00 00 00 22 05 C4");
    iam[4] = static_cast<uint8_t>(0x00 | (instance >> 16));
    iam[5] = static_cast<uint8_t>(instance >> 8);
    iam[6] = static_cast<uint8_t>(instance);
    TAPDU apdu;
    EXPECT_EQ(apdu.DecodeIAm(iam, 0), 5);
    EXPECT_EQ(apdu.DeviceInstance, instance);
  }
}

TEST(DecoderLimits, ReasonsAtTheFirstProprietaryValue) {
  EXPECT_EQ(RejectReasonText(9), "Reject Unrecognized Service");  // last standard
  EXPECT_EQ(RejectReasonText(10), "");
  EXPECT_EQ(RejectReasonText(63), "");
  EXPECT_EQ(RejectReasonText(64), "Reject Proprietary");
  EXPECT_EQ(RejectReasonText(255), "Reject Proprietary");
  EXPECT_EQ(AbortReasonText(11), "Abort Apdu Too Long");
  EXPECT_EQ(AbortReasonText(12), "");
  EXPECT_EQ(AbortReasonText(63), "");
  EXPECT_EQ(AbortReasonText(64), "Abort Proprietary");
  EXPECT_EQ(AbortReasonText(255), "Abort Proprietary");
}

// ---- the same limits as tshark reads them ----------------------------

// A ReadProperty-ACK of present-value with the given value octets, its
// property identifier and array index octets in front.
TBacByteArray Ack(uint8_t invokeId, const std::string& propertyAndIndex, const TBacByteArray& value) {
  TBacByteArray f = Hex("81 0A 00 00 01 00 30 00 0C 0C 00 00 00 03 " + propertyAndIndex + " 3E");
  f[7] = invokeId;
  f.insert(f.end(), value.begin(), value.end());
  f.push_back(0x3F);
  f[2] = static_cast<uint8_t>(f.size() >> 8);
  f[3] = static_cast<uint8_t>(f.size());
  return f;
}

struct Frame {
  std::string name;
  TBacByteArray octets;
};

TEST(DecoderLimits, TsharkReadsTheLimitsAsWeDo) {
  if (!testutil::HaveTshark()) GTEST_SKIP() << "tshark not installed";
  std::vector<Frame> frames;
  uint8_t invoke = 1;
  for (const IntCase& c : kSigned) frames.push_back({std::string("signed ") + c.hex, Ack(invoke++, "19 55", Hex(c.hex))});
  for (const IntCase& c : kUnsigned)
    if (c.hex[0] == '2') frames.push_back({std::string("unsigned ") + c.hex, Ack(invoke++, "19 55", Hex(c.hex))});
  // Blanks and every printable ASCII octet but the field separator, under
  // the 32-bit length form.
  std::string ascii = "  ";
  for (int c = 0x20; c < 0x7F; ++c)
    if (c != '|') ascii.push_back(static_cast<char>(c));
  ascii += "  ";
  TBacByteArray chars = Hex("75 FF 00 00 00");
  chars.push_back(static_cast<uint8_t>(ascii.size() + 1));
  chars.push_back(0);
  chars.insert(chars.end(), ascii.begin(), ascii.end());
  frames.push_back({"chars", Ack(invoke++, "19 55", chars)});
  frames.push_back({"index 256", Ack(invoke++, "19 55 2A 01 00", Hex("21 07"))});
  frames.push_back({"index 65535", Ack(invoke++, "19 55 2A FF FF", Hex("21 08"))});
  frames.push_back({"property 255", Ack(invoke++, "19 FF", Hex("21 09"))});
  frames.push_back({"property 256", Ack(invoke++, "1A 01 00", Hex("21 0A"))});
  const uint32_t instances[] = {0x200000, 0x3FFFFF};
  for (uint32_t instance : instances) {
    TBacByteArray iam = Hex("81 0B 00 14 01 00 10 00 C4 02 00 00 00 22 05 C4 91 00 21 2A");
    iam[10] = static_cast<uint8_t>(0x00 | (instance >> 16));
    iam[11] = static_cast<uint8_t>(instance >> 8);
    iam[12] = static_cast<uint8_t>(instance);
    frames.push_back({"iam " + std::to_string(instance), iam});
  }
  frames.push_back({"reject 64", Hex("81 0A 00 09 01 00 60 0F 40")});
  frames.push_back({"abort 64", Hex("81 0A 00 09 01 00 70 10 40")});

  const char* dir = std::getenv("TMPDIR");
  const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/bacnet_limits_" +
                           std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".pcap";
  {
    testutil::PcapWriter w(path);
    ASSERT_TRUE(w.ok());
    for (const Frame& f : frames) w.Udp(2, 47808, 1, 47808, f.octets);
  }
  const std::vector<std::string> names = {
      "_ws.malformed",          "bacapp.invoke_id",           "bacapp.present_value.int",
      "bacapp.present_value.uint", "bacapp.present_value.char_string", "bacapp.property_identifier",
      "bacapp.instance_number",   "bacapp.reject_reason",       "bacapp.abort_reason"};
  const auto rows = testutil::TsharkFields(path, names);
  ASSERT_EQ(rows.size(), frames.size());
  // The array index has no field of its own: the verbose text shows it.
  const std::string verbose = testutil::RunCommand("tshark -r " + path + " -V");
  EXPECT_EQ(verbose.find("Malformed"), std::string::npos);

  for (size_t i = 0; i < frames.size(); ++i) {
    const Frame& f = frames[i];
    const auto& r = rows[i];
    SCOPED_TRACE(f.name + ": " + HexText(f.octets));
    EXPECT_EQ(r[0], "");
    TBACnetStack stack;
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.octets.data(), static_cast<int32_t>(f.octets.size()),
                                                      "127.0.0.2", 47808));
    TDeviceConnInfo expected{TIpEndPoint{"127.0.0.2", 47808, false}};
    const uint8_t id = r[1].empty() ? 0 : static_cast<uint8_t>(std::stoi(r[1]));
    TProperty p;
    const int32_t code = stack.ProcessReceived(id, expected, p);
    ASSERT_GT(code, 0);
    if (f.name.rfind("signed", 0) == 0) {
      EXPECT_EQ(std::to_string(p.Value.ToInt64()), r[2]);
    } else if (f.name.rfind("unsigned", 0) == 0) {
      EXPECT_EQ(std::to_string(p.Value.ToInt64()), r[3]);
    } else if (f.name == "chars") {
      EXPECT_EQ(p.Value.RawString(), ascii);
      EXPECT_EQ(r[4], ascii);
    } else if (f.name.rfind("index", 0) == 0) {
      // The value after a two-octet index is the one we find.
      EXPECT_NE(verbose.find("Array Index (Unsigned) " + f.name.substr(6) + "\n"), std::string::npos);
      EXPECT_EQ(std::to_string(p.Value.ToInt64()), r[3]);
      EXPECT_EQ(p.Value.ToInt64(), f.name == "index 256" ? 7 : 8);
    } else if (f.name.rfind("property", 0) == 0) {
      // Not the present value: the dissector names the value otherwise.
      EXPECT_EQ(r[5], f.name.substr(9));
      EXPECT_EQ(p.Value.ToInt64(), f.name == "property 255" ? 9 : 10);
    } else if (f.name.rfind("iam", 0) == 0) {
      ASSERT_EQ(code, 0x10);
      TDeviceReadLock lock(stack.Data.Devices);
      ASSERT_EQ(lock.Items().size(), 1u);
      EXPECT_EQ(std::to_string(lock.Items()[0]->ConnInfo.Instance), r[6]);
      EXPECT_EQ(r[6], f.name.substr(4));
    } else if (f.name == "reject 64") {
      ASSERT_EQ(code, 0x60);
      EXPECT_EQ(std::to_string(p.ErrorCode), r[7]);
      EXPECT_EQ(p.ErrorText(), "Communication, Reject Proprietary");
    } else if (f.name == "abort 64") {
      ASSERT_EQ(code, 0x70);
      EXPECT_EQ(std::to_string(p.ErrorCode), r[8]);
      EXPECT_EQ(p.ErrorText(), "Communication, Abort Proprietary");
    }
  }
  if (std::getenv("BACNET_KEEP_PCAP") == nullptr) std::remove(path.c_str());
}

}  // namespace
