#include "runtime/text/str_holder.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(StrHolder, StoredFormWithEmptyKeyIsPlainHexUtf8) {
  TkelStrHolder h;
  h.Strings.AssignLines({"Left,Left", ";---short---"});
  TStrHolderStored s = h.WriteStored();
  ASSERT_TRUE(s.InternalVer.has_value());
  EXPECT_EQ(*s.InternalVer, 2);
  ASSERT_TRUE(s.StrData.has_value());
  EXPECT_EQ(*s.StrData, (std::vector<std::string>{"", "4c6566742c4c656674", "3b2d2d2d73686f72742d2d2d"}));

  TkelStrHolder back;
  back.ReadStored(s);
  EXPECT_EQ(back.Strings.Lines(), h.Strings.Lines());
  EXPECT_EQ(back.KeyString, "");
}

TEST(StrHolder, RoundTripsInAllThreeVersions) {
  const std::vector<std::string> lines = {"spMinInt.Value,Min interval", "", "x\x01y", "Gr\xc3\xbc\xc3\x9f" "e"};
  for (int32_t version : {0, 1, 2}) {
    for (std::string key : {std::string(), std::string("k3y"), std::string("\xc3\xa4")}) {
      TStrHolderStored s;
      s.InternalVer = version;
      std::vector<std::string> data{key};
      for (const auto& l : lines) data.push_back(TkelStrHolder::EncodeLine(l, key, version));
      s.StrData = data;
      TkelStrHolder h;
      h.ReadStored(s);
      EXPECT_EQ(h.Strings.Lines(), lines) << "version " << version << " key " << key;
      EXPECT_EQ(h.KeyString, key);
    }
  }
  // A key changes the stored bytes; version 0 keeps at most 255 characters.
  EXPECT_NE(TkelStrHolder::EncodeLine("abc", "k", 2), TkelStrHolder::EncodeLine("abc", "", 2));
  EXPECT_EQ(TkelStrHolder::DecodeLine(TkelStrHolder::EncodeLine(std::string(300, 'a'), "k", 0), "k", 0).size(), 255u);
}

TEST(StrHolder, VersionMissingMeansZeroAndIsKeptForInheritedForms) {
  TStrHolderStored plain;
  plain.StrData = std::vector<std::string>{"", "4c"};
  TkelStrHolder h;
  h.ReadStored(plain);  // no version: the text itself
  EXPECT_EQ(h.Strings[0], "4c");

  TStrHolderStored ancestor;
  ancestor.InternalVer = 2;
  TkelStrHolder inherited;
  inherited.ReadStored(ancestor);
  inherited.ReadStored(plain);  // the descendant's part carries no version
  EXPECT_EQ(inherited.Strings[0], "L");
}

TEST(StrHolder, AncestorComparisonAndEmptyHolder) {
  TkelStrHolder empty;
  EXPECT_FALSE(empty.WriteStored().StrData.has_value());

  TkelStrHolder a, b;
  a.Strings.AssignLines({"Left,Left"});
  b.Strings.AssignLines({"LEFT,left"});
  TStrHolderStored s = b.WriteStored(&a);
  EXPECT_FALSE(s.InternalVer.has_value());
  EXPECT_FALSE(s.StrData.has_value());  // equal ignoring case
  b.KeyString = "k";
  EXPECT_TRUE(b.WriteStored(&a).StrData.has_value());
}

TEST(StrHolder, BadHexIsReadAsFarAsItGoes) {
  EXPECT_EQ(TkelStrHolder::DecodeLine("4c6zz5", "", 1), "L");
  EXPECT_EQ(TkelStrHolder::DecodeLine("4c6", "", 2), "L");
  TStrHolderStored s;
  s.InternalVer = 2;
  s.StrData = std::vector<std::string>{};
  TkelStrHolder h;
  h.Strings.AssignLines({"old"});
  h.ReadStored(s);
  EXPECT_EQ(h.Strings.Count(), 0u);
}

TEST(StrHolder, NotificationsAndPublishedProperties) {
  TkelStrHolder h;
  int changing = 0, changed = 0;
  h.Strings.OnChanging = [&] { ++changing; };
  h.Strings.OnChange = [&] {
    EXPECT_EQ(changing, changed + 1);
    ++changed;
  };
  h.Strings.Add("b");
  h.Strings.AssignLines({"x", "y"});
  EXPECT_EQ(changed, 2);

  ASSERT_TRUE(SetPropValue(h, *h.FindProperty("sorted"), Variant(true)));
  ASSERT_TRUE(SetPropValue(h, *h.FindProperty("Duplicates"), Variant("dupIgnore")));
  EXPECT_EQ(h.Strings.Add("X"), -1);
  EXPECT_EQ(h.Strings.Add("a"), 0);
  EXPECT_EQ(GetPropValue(h, *h.FindProperty("Duplicates")).ToAnsi(), "dupIgnore");
}

TEST(StrHolder, LinesAndKeyArePublished) {
  // Published for code that reads and writes by name, though the stored form
  // carries them in StrData instead.
  TkelStrHolder h;
  const TPropInfo* lines = h.FindProperty("Strings");
  const TPropInfo* key = h.FindProperty("KeyString");
  ASSERT_NE(lines, nullptr);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(SetPropValue(h, *lines, Variant("a\r\nb")));
  ASSERT_TRUE(SetPropValue(h, *key, Variant("k")));
  EXPECT_EQ(h.Strings.Lines(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(h.KeyString, "k");
  EXPECT_EQ(GetPropValue(h, *key).ToAnsi(), "k");
}

TEST(StrHolder, StoredCapacityIsOnlyAHint) {
  // A description or settings store may carry any number here: it must not
  // make the holder reserve gigabytes.
  TkelStrHolder h;
  const TPropInfo& cap = *h.FindProperty("Capacity");
  ASSERT_TRUE(SetPropValue(h, cap, Variant(int64_t{2000000000})));
  EXPECT_LE(GetPropValue(h, cap).ToInt64(), int64_t{1} << 20);
  ASSERT_TRUE(SetPropValue(h, cap, Variant(int64_t{100})));
  EXPECT_GE(GetPropValue(h, cap).ToInt64(), 100);
  h.Strings.Add("x");
  EXPECT_EQ(h.Strings.Count(), 1u);
}

}  // namespace
}  // namespace kel
