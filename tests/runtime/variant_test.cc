#include "runtime/variant.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/port.h"

namespace kel {
namespace {

TEST(Variant, BoundaryRoundTripKeepsType) {
  const Variant values[] = {Variant::FromUI2(65535), Variant::FromI2(-3), Variant(int32_t{-7}),
                            Variant(uint32_t{4000000000u}), Variant(2.5), Variant::FromR4(1.5f),
                            Variant(true), Variant::FromUI1(200), Variant(int64_t{-1234567890123}),
                            Variant::Null(), Variant::FromI1(-100), Variant::FromCurrency(-123456789),
                            Variant::FromDate(45366.75), Variant(uint64_t{0xFFFFFFFFFFFFFFFFull}),
                            Variant(false)};
  for (const Variant& v : values) {
    kel_variant raw;
    InitBoundary(&raw);
    v.ToBoundary(&raw);
    Variant back = Variant::FromBoundary(&raw, TextFlavour::Ansi);
    EXPECT_EQ(back, v) << static_cast<int>(v.Type());
    ClearBoundary(&raw);
  }
}

// Bool true is -1 in every integer and floating type; the boundary carries
// -1, and any non-zero boolean that comes in is true.
TEST(VariantConversions, FromBoolTrueIsMinusOne) {
  const Variant t(true), f(false);
  EXPECT_EQ(t.ToInt64(), -1);
  EXPECT_EQ(t.ToInt32(), -1);
  EXPECT_EQ(t.ToDouble(), -1.0);
  EXPECT_TRUE(t.ToBool());
  EXPECT_EQ(t.ToAnsi(), "True");
  EXPECT_EQ(f.ToInt64(), 0);
  EXPECT_EQ(f.ToAnsi(), "False");
  for (VarType to : {VarType::I1, VarType::I2, VarType::I4, VarType::I8, VarType::R4, VarType::R8,
                     VarType::Currency, VarType::String, VarType::OleStr, VarType::Bool}) {
    Variant v = t;
    ASSERT_TRUE(v.ChangeType(to)) << static_cast<int>(to);
    EXPECT_EQ(v.Type(), to);
    if (to == VarType::String || to == VarType::OleStr) {
      EXPECT_EQ(v.ToAnsi(), "True");
    } else if (to == VarType::Currency) {
      EXPECT_EQ(v.RawInt(), -10000);
    } else if (to != VarType::Bool) {
      EXPECT_EQ(v.ToInt64(), -1) << static_cast<int>(to);
    }
    EXPECT_TRUE(v.ToBool()) << static_cast<int>(to);
  }
  kel_variant raw;
  InitBoundary(&raw);
  t.ToBoundary(&raw);
  EXPECT_EQ(raw.vt, KEL_VT_BOOL);
  EXPECT_EQ(raw.u.boolean, -1);
  raw.u.boolean = 1;  // a host that writes 1 for true
  EXPECT_EQ(Variant::FromBoundary(&raw, TextFlavour::Ansi), Variant(true));
  EXPECT_EQ(Variant::FromBoundary(&raw, TextFlavour::Ansi).ToInt64(), -1);
  raw.u.boolean = 0;
  EXPECT_EQ(Variant::FromBoundary(&raw, TextFlavour::Ansi), Variant(false));
}

// SET-STATE reads its "RESULT" as an integer and enables on exactly 1: the
// value may arrive in any type a host writes.  Halves go to the even
// neighbour in every numeric type, currency included.
TEST(VariantConversions, ResultTypesToInteger) {
  struct Case {
    Variant v;
    int64_t expected;
  };
  const Case cases[] = {
      {Variant(int32_t{1}), 1},           {Variant::FromI2(1), 1},
      {Variant::FromI1(1), 1},            {Variant::FromUI1(1), 1},
      {Variant::FromUI2(1), 1},           {Variant(uint32_t{1}), 1},
      {Variant(int64_t{1}), 1},           {Variant(uint64_t{1}), 1},
      {Variant(1.0), 1},                  {Variant::FromR4(1.0f), 1},
      {Variant::FromDate(1.0), 1},        {Variant::FromCurrency(10000), 1},
      {Variant("1"), 1},                  {Variant(" 1 "), 1},
      {Variant::FromOleStr(u"1"), 1},     {Variant("true"), -1},
      {Variant(true), -1},                {Variant(0.5), 0},
      {Variant(1.5), 2},                  {Variant(2.5), 2},
      {Variant(-2.5), -2},                {Variant(1.4999), 1},
      {Variant::FromCurrency(5000), 0},   {Variant::FromCurrency(15000), 2},
      {Variant::FromCurrency(25000), 2},  {Variant::FromCurrency(-25000), -2},
      {Variant::FromCurrency(-15000), -2}, {Variant::FromCurrency(14999), 1},
      {Variant::FromCurrency(25001), 3},  {Variant::FromCurrency(-5001), -1},
      {Variant::FromCurrency(INT64_MAX), 922337203685478},
      {Variant::FromCurrency(9223372036854774999), 922337203685477},
      {Variant::FromCurrency(INT64_MIN), -922337203685478},
  };
  for (const Case& c : cases) {
    bool ok = false;
    EXPECT_EQ(c.v.ToInt64(&ok), c.expected) << static_cast<int>(c.v.Type()) << " " << c.v.ToAnsi();
    EXPECT_TRUE(ok);
    Variant i4 = c.v;
    if (c.expected >= INT32_MIN && c.expected <= INT32_MAX) {
      ASSERT_TRUE(i4.ChangeType(VarType::I4)) << c.v.ToAnsi();
      EXPECT_EQ(i4.RawInt(), c.expected) << c.v.ToAnsi();
    }
  }
  // Into currency: four decimals, halves of the last to even.
  Variant c(2.00005);
  ASSERT_TRUE(c.ChangeType(VarType::Currency));
  EXPECT_EQ(c.RawInt(), 20000);
  Variant d(1.23456);
  ASSERT_TRUE(d.ChangeType(VarType::Currency));
  EXPECT_EQ(d.RawInt(), 12346);
  // What is no number converts to 0 and says so.
  bool ok = true;
  EXPECT_EQ(Variant("yes").ToInt64(&ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Variant::Null().ToInt64(&ok), 0);
  EXPECT_FALSE(ok);
}

TEST(Variant, AnsiStringLeavesAsOleString) {
  kel_variant raw;
  InitBoundary(&raw);
  Variant("Grüße").ToBoundary(&raw);
  ASSERT_EQ(raw.vt, KEL_VT_BSTR);
  EXPECT_EQ(port::SysStringLen(raw.u.bstr), 5u);
  EXPECT_EQ(Variant::FromBoundary(&raw, TextFlavour::Ansi).ToAnsi(), "Grüße");
  ClearBoundary(&raw);
  EXPECT_EQ(raw.vt, KEL_VT_EMPTY);
}

TEST(Variant, ByPointerTextFollowsFlavour) {
  kel_variant raw;
  InitBoundary(&raw);
  raw.vt = KEL_VT_ANSI_PTR;
  raw.u.ansi_ptr = "abc";
  EXPECT_EQ(Variant::FromBoundary(&raw, TextFlavour::Ansi).ToAnsi(), "abc");
  const char16_t wide[] = u"xyz";
  raw.u.wide_ptr = wide;
  // In the UTF-16 methods both pointer types carry UTF-16 text.
  EXPECT_EQ(Variant::FromBoundary(&raw, TextFlavour::Wide).ToAnsi(), "xyz");
  raw.vt = KEL_VT_WIDE_PTR;
  EXPECT_EQ(Variant::FromBoundary(&raw, TextFlavour::Ansi).ToAnsi(), "xyz");
  // Null pointers give Empty, never a read.
  raw.u.wide_ptr = nullptr;
  EXPECT_TRUE(Variant::FromBoundary(&raw, TextFlavour::Ansi).IsEmpty());
  raw.vt = KEL_VT_ANSI_PTR;
  EXPECT_TRUE(Variant::FromBoundary(&raw, TextFlavour::Wide).IsEmpty());
  EXPECT_TRUE(Variant::FromBoundary(nullptr, TextFlavour::Wide).IsEmpty());
}

TEST(Variant, ConversionsReportFailure) {
  bool ok = true;
  EXPECT_EQ(Variant("42").ToInt32(&ok), 42);
  EXPECT_TRUE(ok);
  Variant("4x").ToInt32(&ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Variant("true").ToBool());
  EXPECT_FALSE(Variant("0").ToBool());
  EXPECT_DOUBLE_EQ(Variant("2,5").ToDouble(), 2.5);
  Variant v = Variant(int32_t{70000});
  EXPECT_FALSE(v.ChangeType(VarType::I2));
  EXPECT_EQ(v.Type(), VarType::I4);
  EXPECT_TRUE(v.ChangeType(VarType::R8));
  EXPECT_EQ(v.ToAnsi(), "70000");
  // Not a number has no currency value: the conversion fails and keeps it.
  Variant nan(std::numeric_limits<double>::quiet_NaN());
  EXPECT_FALSE(nan.ChangeType(VarType::Currency));
  EXPECT_EQ(nan.Type(), VarType::R8);
}

TEST(Variant, DateText) {
  // 15 March 2024 is day 45366 after 30 December 1899.
  EXPECT_EQ(Variant::FromDate(45366.0).ToAnsi(), "2024-03-15");
  EXPECT_EQ(Variant::FromDate(0.5).ToAnsi(), "12:00:00");
  // The ends of the calendar a date variant can hold.
  EXPECT_EQ(Variant::FromDate(-657434.0).ToAnsi(), "0100-01-01");
  EXPECT_EQ(Variant::FromDate(2958465.0).ToAnsi(), "9999-12-31");
}

TEST(Variant, DateOutsideCalendarReadsAsNumber) {
  // A host may hand in any double as a date; the day count must not
  // overflow while the text is made.
  EXPECT_EQ(Variant::FromDate(5.87966e307).ToAnsi(), "5.87966e+307");
  EXPECT_EQ(Variant::FromDate(-1e20).ToAnsi(), "-1e+20");
  EXPECT_EQ(Variant::FromDate(2958466.0).ToAnsi(), "2958466");
  EXPECT_EQ(Variant::FromDate(std::numeric_limits<double>::quiet_NaN()).ToAnsi(), "NAN");
  EXPECT_EQ(Variant::FromDate(-std::numeric_limits<double>::infinity()).ToAnsi(), "-INF");
  EXPECT_EQ(Variant::FromDate(1e300).ToUtf16(), u"1e+300");
}

}  // namespace
}  // namespace kel
