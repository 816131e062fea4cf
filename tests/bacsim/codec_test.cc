// The simulator's own coding at its limits: tag headers in every form,
// numbers of every length, strings, network headers and BVLL envelopes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "codec.h"
#include "frame.h"
#include "common/hex.h"

using namespace bacsim;
using testutil::Hex;
using testutil::HexText;

namespace {

Bytes Tag(uint8_t number, bool context, uint32_t lvt) {
  Bytes b;
  EncodeTag(b, number, context, lvt);
  return b;
}

Value RoundTrip(const Value& v, size_t* size = nullptr) {
  Bytes b;
  EncodeValue(b, v);
  if (size) *size = b.size();
  Reader r(b);
  Value out;
  EXPECT_TRUE(r.ReadValue(out)) << HexText(b);
  EXPECT_TRUE(r.AtEnd()) << HexText(b);
  return out;
}

TEST(SimCodec, TagHeaderForms) {
  // Short, one-octet, two-octet and four-octet lengths at their borders.
  EXPECT_EQ(HexText(Tag(2, false, 4)), "24");
  EXPECT_EQ(HexText(Tag(2, false, 5)), "25 05");
  EXPECT_EQ(HexText(Tag(7, false, 253)), "75 FD");
  EXPECT_EQ(HexText(Tag(7, false, 254)), "75 FE 00 FE");
  EXPECT_EQ(HexText(Tag(7, false, 65535)), "75 FE FF FF");
  EXPECT_EQ(HexText(Tag(7, false, 65536)), "75 FF 00 01 00 00");
  // Tag numbers from 15 on take an extra octet; context class bit.
  EXPECT_EQ(HexText(Tag(14, true, 1)), "E9");
  EXPECT_EQ(HexText(Tag(15, true, 1)), "F9 0F");
  EXPECT_EQ(HexText(Tag(254, true, 300)), "FD FE FE 01 2C");
  Bytes oc;
  EncodeOpening(oc, 3);
  EncodeClosing(oc, 3);
  EncodeOpening(oc, 20);
  EXPECT_EQ(HexText(oc), "3E 3F FE 14");

  for (uint32_t lvt : {0u, 4u, 5u, 253u, 254u, 65535u, 65536u, 100000u}) {
    for (uint8_t number : {uint8_t{0}, uint8_t{14}, uint8_t{15}, uint8_t{200}}) {
      Bytes b = Tag(number, true, lvt);
      const size_t header = b.size();
      b.resize(header + lvt);
      Reader r(b);
      bacsim::Tag t;
      ASSERT_TRUE(r.ReadTag(t)) << "lvt " << lvt << " tag " << int(number);
      EXPECT_EQ(t.number, number);
      EXPECT_EQ(t.lvt, lvt);
      EXPECT_EQ(t.header, header);
      EXPECT_TRUE(t.context);
      // One content octet short: the header alone must not be accepted.
      b.pop_back();
      if (lvt > 0) {
        Reader s(b);
        EXPECT_FALSE(s.ReadTag(t)) << "lvt " << lvt;
        EXPECT_EQ(s.Pos(), 0u);
      }
    }
  }
}

TEST(SimCodec, TagHeadersThatEndEarlyOrBreakRules) {
  struct Case {
    const char* hex;
    const char* why;
  } cases[] = {
      {"", "empty"},
      {"F9", "extended tag number missing"},
      {"75", "extended length missing"},
      {"75 FE 01", "16-bit length cut"},
      {"75 FF 00 00 01", "32-bit length cut"},
      {"75 FF FF FF FF FF 00", "length far beyond the frame"},
      {"24 00 00 00", "content one short"},
      {"16", "opening bits on an application tag"},
      {"12", "application boolean with value 2"},
  };
  for (const auto& c : cases) {
    Bytes b = Hex(c.hex);
    Reader r(b);
    bacsim::Tag t;
    EXPECT_FALSE(r.ReadTag(t)) << c.why;
    Value v;
    EXPECT_FALSE(r.ReadValue(v)) << c.why;
    EXPECT_EQ(r.Pos(), 0u) << c.why;
  }
}

TEST(SimCodec, UnsignedAndSignedOfEveryLength) {
  for (size_t n = 1; n <= 8; ++n) {
    const uint64_t maxOfN = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
    for (uint64_t v : {maxOfN, n == 1 ? uint64_t{0} : (maxOfN >> 8) + 1}) {
      size_t size = 0;
      EXPECT_EQ(UnsignedLength(v), n) << v;
      EXPECT_EQ(RoundTrip(Value::Unsigned(v), &size).u, v);
      EXPECT_EQ(size, 1 + n + (n > 4 ? 1 : 0)) << v;
      EXPECT_EQ(RoundTrip(Value::Enumerated(v)).u, v);
    }
    const int64_t hi = n == 8 ? std::numeric_limits<int64_t>::max() : (int64_t{1} << (8 * n - 1)) - 1;
    const int64_t lo = n == 8 ? std::numeric_limits<int64_t>::min() : -(int64_t{1} << (8 * n - 1));
    for (int64_t v : {hi, lo}) {
      EXPECT_EQ(SignedLength(v), n) << v;
      EXPECT_EQ(RoundTrip(Value::Signed(v)).i, v);
    }
    if (n < 8) {
      EXPECT_EQ(SignedLength(hi + 1), n + 1);
      EXPECT_EQ(SignedLength(lo - 1), n + 1);
    }
  }
  Bytes b;
  EncodeValue(b, Value::Signed(-200));
  EXPECT_EQ(HexText(b), "32 FF 38");
  b.clear();
  EncodeValue(b, Value::Signed(128));
  EXPECT_EQ(HexText(b), "32 00 80");
  b.clear();
  EncodeValue(b, Value::Unsigned(1476));
  EXPECT_EQ(HexText(b), "22 05 C4");
  // Numbers of 0 or 9 octets are not numbers.
  for (const char* hex : {"20", "25 09 01 02 03 04 05 06 07 08 09", "30", "90"}) {
    Bytes f = Hex(hex);
    Reader r(f);
    Value v;
    EXPECT_FALSE(r.ReadValue(v)) << hex;
  }
}

TEST(SimCodec, RealsStringsBitsAndIdentifiers) {
  Bytes b;
  EncodeValue(b, Value::Real(42.0f));
  EXPECT_EQ(HexText(b), "44 42 28 00 00");
  EXPECT_TRUE(std::isnan(RoundTrip(Value::Real(std::nanf(""))).real));
  EXPECT_EQ(RoundTrip(Value::Double(-1.0 / 3)).dbl, -1.0 / 3);

  b.clear();
  EncodeValue(b, Value::CharString("AB"));
  EXPECT_EQ(HexText(b), "73 00 41 42");
  b.clear();
  EncodeValue(b, Value::CharString(""));
  EXPECT_EQ(HexText(b), "71 00");
  // 252 text octets + charset = 253: the last one-octet length; 253 needs 254 = 16-bit form.
  for (size_t len : {3u, 4u, 252u, 253u, 1000u, 70000u}) {
    const std::string text(len, 'x');
    size_t size = 0;
    Value v = RoundTrip(Value::CharString(text), &size);
    EXPECT_EQ(v.text, text);
    EXPECT_EQ(size, len + 1 + (len + 1 <= 4 ? 1 : len + 1 <= 253 ? 2 : len + 1 <= 65535 ? 4 : 6)) << len;
  }
  const std::string utf8 = "Temp\xC3\xA9rature \"1\"";
  EXPECT_EQ(RoundTrip(Value::CharString(utf8)).text, utf8);
  EXPECT_EQ(Describe(Value::CharString(utf8)), "char \"Temp\xC3\xA9rature \\\"1\\\"\"");
  EXPECT_EQ(RoundTrip(Value::OctetString(std::string("\0\x01\xFF", 3))).text, std::string("\0\x01\xFF", 3));

  b.clear();
  EncodeValue(b, Value::BitString({false, false, false, false}));
  EXPECT_EQ(HexText(b), "82 04 00");
  std::vector<bool> bits = {true, false, true, false, false, true, false, true, true, true, true, true};
  EXPECT_EQ(RoundTrip(Value::BitString(bits)).bits, bits);
  EXPECT_TRUE(RoundTrip(Value::BitString({})).bits.empty());
  for (const char* hex : {"81 08", "82 08 00", "80"}) {  // unused bits beyond the octets, no unused-bits octet
    Bytes f = Hex(hex);
    Reader r(f);
    Value v;
    EXPECT_FALSE(r.ReadValue(v)) << hex;
  }

  b.clear();
  EncodeValue(b, Value::Oid(8, 1234));
  EXPECT_EQ(HexText(b), "C4 02 00 04 D2");
  const Value top = RoundTrip(Value::Oid(1023, 4194303));
  EXPECT_EQ(top.oid.type, 1023);
  EXPECT_EQ(top.oid.instance, 4194303u);
  b.clear();
  EncodeContextObjectId(b, 0, {0, 3});
  EncodeContextUnsigned(b, 1, 85);
  EncodeContextUnsigned(b, 1, 512);
  EXPECT_EQ(HexText(b), "0C 00 00 00 03 19 55 1A 02 00");
  Reader r(b);
  ObjectId oid;
  uint64_t p = 0;
  EXPECT_FALSE(r.ReadContextUnsigned(1, p));  // wrong tag number
  EXPECT_TRUE(r.ReadContextObjectId(0, oid));
  EXPECT_EQ(oid, (ObjectId{0, 3}));
  EXPECT_TRUE(r.ReadContextUnsigned(1, p));
  EXPECT_EQ(p, 85u);
  EXPECT_TRUE(r.ReadContextUnsigned(1, p));
  EXPECT_EQ(p, 512u);
  EXPECT_TRUE(r.AtEnd());
}

Npdu RoutedNpdu(size_t macLength) {
  Npdu n;
  n.hasDest = true;
  n.dnet = 5;
  for (size_t i = 0; i < macLength; ++i) n.dadr.push_back(static_cast<uint8_t>(0xA0 + i));
  n.hopCount = 255;
  n.expectingReply = true;
  return n;
}

TEST(SimFraming, RoutedHeadersWithStationAddressesOf1To6Octets) {
  for (size_t len : {1u, 2u, 6u}) {
    Npdu n = RoutedNpdu(len);
    n.hasSource = true;
    n.snet = 0x1234;
    n.sadr = {0x0C};
    Bytes f;
    WriteNpdu(f, n);
    f.push_back(0x10);
    Npdu back;
    ASSERT_TRUE(ParseNpdu(f.data(), f.size(), 0, back)) << len;
    EXPECT_EQ(back.dnet, 5);
    EXPECT_EQ(back.dadr, n.dadr);
    EXPECT_EQ(back.snet, 0x1234);
    EXPECT_EQ(back.sadr, n.sadr);
    EXPECT_EQ(back.hopCount, 255);
    EXPECT_TRUE(back.expectingReply);
    EXPECT_EQ(back.apdu, f.size() - 1);
    // Every shorter frame ends inside the header.
    for (size_t cut = 0; cut + 1 < f.size(); ++cut) {
      EXPECT_FALSE(ParseNpdu(f.data(), cut, 0, back)) << len << " cut at " << cut;
    }
  }
  Bytes two;
  WriteNpdu(two, RoutedNpdu(2));
  EXPECT_EQ(HexText(two), "01 24 00 05 02 A0 A1 FF");
  // Global broadcast Who-Is as a client sends it.
  Bytes whoIs = Hex("01 20 FF FF 00 FF 10 08");
  Npdu g;
  ASSERT_TRUE(ParseNpdu(whoIs.data(), whoIs.size(), 0, g));
  EXPECT_TRUE(g.IsGlobalBroadcast());
  EXPECT_TRUE(g.dadr.empty());
}

TEST(SimFraming, NetworkHeadersThatAreRefused) {
  for (const char* hex : {"02 00", "01 40", "01 10", "01 08 FF FF 01 05", "01 08 00 07 00", "01 08 00 00 01 05",
                          "01 20 00 00 00 FF", "01 80"}) {
    Bytes f = Hex(hex);
    Npdu n;
    EXPECT_FALSE(ParseNpdu(f.data(), f.size(), 0, n)) << hex;
  }
  Bytes proprietary = Hex("01 80 90 01 02");
  Npdu n;
  ASSERT_TRUE(ParseNpdu(proprietary.data(), proprietary.size(), 0, n));
  EXPECT_EQ(n.vendorId, 0x0102);
  EXPECT_EQ(n.apdu, 5u);
}

TEST(SimFraming, ForwardedNpduCarriesTheOriginalSource) {
  const Endpoint origin{0x7F000105, 47808};
  Bytes f = BuildBvll(bvlc::kForwardedNpdu, Hex("01 00 10 00"), &origin);
  EXPECT_EQ(HexText(f), "81 04 00 0E 7F 00 01 05 BA C0 01 00 10 00");
  Bvll b;
  ASSERT_TRUE(ParseBvll(f.data(), f.size(), b));
  EXPECT_TRUE(b.hasOrigin);
  EXPECT_EQ(b.origin, origin);
  EXPECT_EQ(b.payload, 10u);
  // Cut inside the original source, and length fields that disagree.
  Bytes cut = Hex("81 04 00 09 7F 00 01 05 BA");
  EXPECT_FALSE(ParseBvll(cut.data(), cut.size(), b));
  Bytes longer = f;
  longer.push_back(0);
  EXPECT_FALSE(ParseBvll(longer.data(), longer.size(), b));
  Bytes notBip = Hex("82 0A 00 04");
  EXPECT_FALSE(ParseBvll(notBip.data(), notBip.size(), b));
  Bytes large(1500, 0);
  large[0] = 0x81;
  large[1] = 0x0A;
  large[2] = 1500 >> 8;
  large[3] = 1500 & 0xFF;
  ASSERT_TRUE(ParseBvll(large.data(), large.size(), b));
  EXPECT_FALSE(b.hasOrigin);
}

TEST(SimFraming, EndpointsText) {
  EXPECT_EQ(ParseEndpoint("127.0.0.2", 47808)->ToString(), "127.0.0.2:47808");
  EXPECT_EQ(ParseEndpoint("127.0.255.255:47809", 47808)->ToString(), "127.0.255.255:47809");
  for (const char* bad : {"", "127.0.0", "127.0.0.256", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:x", "a.b.c.d",
                          "127.0.0.1.5", "1270.0.0.1", "-1.0.0.1"}) {
    EXPECT_FALSE(ParseEndpoint(bad, 47808)) << bad;
  }
}

}  // namespace
