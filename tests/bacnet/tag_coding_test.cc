#include <gtest/gtest.h>

#include "bacnet/bacnet_utils.h"
#include "common/hex.h"

using namespace bacnet;
using testutil::Hex;

namespace {

struct Decoded {
  bool ok;
  kel::Variant value;
  int32_t pos;
  uint8_t tag = 0xEE;
  uint32_t lvt = 0xEEEE;
};

Decoded Decode(const TBacByteArray& f, int32_t start = 0) {
  Decoded d{false, {}, start};
  d.ok = DecodeApplicationValue(f, d.pos, d.value, &d.tag, &d.lvt);
  return d;
}

TEST(TagHeader, BoundsAndExtendedForms) {
  TBacByteArray f = Hex("21");
  int32_t pos = 1;
  EXPECT_EQ(DecodeTagHeader(f, pos).Length, 0);
  EXPECT_EQ(pos, 1);

  // Tag number field 15 with nothing after it: a one-octet header, tag 15.
  f = Hex("F1");
  pos = 0;
  TTagHeader h = DecodeTagHeader(f, pos);
  EXPECT_EQ(h.Length, 1);
  EXPECT_EQ(h.TagNumber, 15);

  // Extended tag number and 16-bit length.
  f = Hex("FD 80 FE 01 00");
  pos = 0;
  h = DecodeTagHeader(f, pos);
  EXPECT_EQ(h.Length, 5);
  EXPECT_EQ(h.TagNumber, 0x80);
  EXPECT_EQ(h.Lvt, 256u);

  // 254 followed by one octet only.
  f = Hex("75 FE 01");
  pos = 0;
  EXPECT_EQ(DecodeTagHeader(f, pos).Length, 0);
  // 255 needs four length octets.
  f = Hex("75 FF 00 00 01");
  pos = 0;
  EXPECT_EQ(DecodeTagHeader(f, pos).Length, 0);
}

TEST(ApplicationValue, Integers) {
  Decoded d = Decode(Hex("23 01 86 A0"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value, kel::Variant(uint32_t{100000}));
  d = Decode(Hex("25 05 01 02 03 04 05"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value, kel::Variant(uint32_t{0}));
  EXPECT_EQ(d.pos, 7);
  EXPECT_EQ(Decode(Hex("31 FB")).value, kel::Variant(int32_t{-5}));
  EXPECT_EQ(Decode(Hex("32 FF 38")).value, kel::Variant(int32_t{-200}));
  EXPECT_EQ(Decode(Hex("34 80 00 00 00")).value, kel::Variant(INT32_MIN));
  EXPECT_EQ(Decode(Hex("91 03")).value, kel::Variant(uint32_t{3}));
  EXPECT_EQ(Decode(Hex("C4 02 00 04 D2")).value, kel::Variant(uint32_t{0x020004D2}));
  // An opening tag where a value is expected: Signed of no octets.
  d = Decode(Hex("3E"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value, kel::Variant(int32_t{0}));
}

TEST(ApplicationValue, RealAndDouble) {
  Decoded d = Decode(Hex("44 42 28 00 00"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value, kel::Variant(42.0));
  EXPECT_EQ(d.pos, 5);
  d = Decode(Hex("55 08 40 09 21 FB 54 44 2D 18"));
  EXPECT_TRUE(d.ok);
  EXPECT_DOUBLE_EQ(d.value.RawDouble(), 3.141592653589793);
  // A Double of any other length fails; nothing beyond it is read.
  d = Decode(Hex("54 40 09 21 FB 00"));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.value.IsNull());
  EXPECT_EQ(d.pos, 5);
  EXPECT_FALSE(Decode(Hex("50")).ok);
}

TEST(ApplicationValue, LengthCheckedAgainstFrame) {
  EXPECT_FALSE(Decode(Hex("11")).ok);  // Boolean true: its LVT counts as a length
  Decoded d = Decode(Hex("10"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value, kel::Variant(false));
  EXPECT_EQ(Decode(Hex("11 3F")).value, kel::Variant(true));
  d = Decode(Hex("24 42 28 00"));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.pos, 1);
  EXPECT_EQ(d.tag, 0xEE);  // not reported: the value does not fit
  EXPECT_FALSE(Decode(Hex("")).ok);
  // Reserved tags pass over their content and fail.
  d = Decode(Hex("D2 01 02 21 05"));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.pos, 3);
}

TEST(ApplicationValue, Strings) {
  TBacByteArray f = Hex("75 FE 01 00 00");
  f.resize(4 + 256, 'x');
  Decoded d = Decode(f);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.lvt, 256u);
  EXPECT_EQ(d.value.RawString(), std::string(255, 'x'));
  EXPECT_EQ(d.pos, 260);

  d = Decode(Hex("75 06 00 41 42 00 43 44"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value.RawString(), "AB");
  EXPECT_EQ(d.pos, 8);

  TBacByteArray octets = Hex("65 FE 05 BE");
  octets.resize(4 + 1470, 0x01);
  d = Decode(octets);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value.RawString(), std::string(1470, '\x01'));

  TBacByteArray chars = Hex("75 FE 05 BE");
  chars.resize(4 + 1470, 'a');
  d = Decode(chars);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.pos, 4 + 1470);
}

TEST(ApplicationValue, BitString) {
  Decoded d = Decode(Hex("83 04 A5 F0"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value.RawString(), "101001011111");
  EXPECT_EQ(Decode(Hex("80")).value.RawString(), "");
  // Unused bits beyond the rendered text leave it empty.
  EXPECT_EQ(Decode(Hex("81 07")).value.RawString(), "");
  TBacByteArray wide = Hex("85 11 00");
  wide.resize(3 + 17, 0xFF);
  d = Decode(wide);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value.RawString(), "");
}

TEST(ApplicationValue, DateAndTime) {
  Decoded d = Decode(Hex("A4 7C 03 0F FF"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.value.Type(), kel::VarType::Date);
  EXPECT_DOUBLE_EQ(d.value.RawDouble(), 45366.0);  // 15 March 2024
  d = Decode(Hex("B4 17 3B 3B FF"));
  EXPECT_TRUE(d.ok);
  EXPECT_DOUBLE_EQ(d.value.RawDouble(), (86399.0 + 0.255) / 86400.0);
  // Unspecified or impossible fields are a failed value, not an abandoned
  // frame; the position is past the value so the caller can go on.
  for (const char* bad : {"A4 7C FF 0F 01", "A4 7C 02 1E 01", "A4 7C 03 FF 01", "B4 18 00 00 00", "B4 FF FF FF FF"}) {
    d = Decode(Hex(bad));
    EXPECT_FALSE(d.ok) << bad;
    EXPECT_TRUE(d.value.IsNull()) << bad;
    EXPECT_EQ(d.pos, 5) << bad;
  }
  EXPECT_TRUE(Decode(Hex("A4 7C 02 1D 01")).ok);  // 29 February 2024
  d = Decode(Hex("A3 7C 03 0F"));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.pos, 1);  // too short: not passed over
}

TEST(Encoding, ContextTagsAndReaders) {
  TBacByteArray f = NewByteArray(8);
  EXPECT_EQ(EncodeObjectIdentifier(f, 1, 8, 1234), 6);
  EXPECT_EQ(TBacByteArray(f.begin() + 1, f.begin() + 6), Hex("0C 02 00 04 D2"));
  EXPECT_EQ(EncodeObjectIdentifier(f, 4, 8, 1234), 4);  // does not fit: nothing written
  f = NewByteArray(3);
  EXPECT_EQ(EncodePropertyIdentifier(f, 0, 85), 2);
  EXPECT_EQ(f, Hex("19 55 00"));
  EXPECT_EQ(EncodePropertyIdentifier(f, 0, 512), 3);
  EXPECT_EQ(f, Hex("1A 02 00"));
  EXPECT_EQ(EncodePropertyIdentifier(f, 1, 65535), 1);

  const TBacByteArray r = Hex("12 34 56");
  int32_t pos = 1;
  EXPECT_EQ(ReadLongWord(r, pos), 0x34560000u);  // past the end reads as 0
  EXPECT_EQ(pos, 5);
  TBacByteArray out;
  pos = 0;
  EXPECT_TRUE(CopyOctets(r, pos, 3, true, out));
  EXPECT_EQ(out, Hex("56 34 12"));
  EXPECT_FALSE(CopyOctets(r, pos, 1, false, out));
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(OctetToBits(0xA5), "10100101");
}

}  // namespace
