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
