// The list as the module uses it: lookup, adding, rows, copying, strict access.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/errors.h"
#include "params/params_list.h"

namespace kel {
namespace {

TEST(ParamsListLayout, SignatureSitsAfterTheStorageHeader) {
  TkelParamsList list;
  uint32_t at = 0;
  std::memcpy(&at, reinterpret_cast<const unsigned char*>(&list) + 2 * sizeof(void*) + 8,
              sizeof at);
  EXPECT_EQ(at, 0x0FDE2E4Bu);
  EXPECT_EQ(list.Signature(), 0x0FDE2E4Bu);
}

TEST(ParamsListLookup, IgnoresCaseButNotBlanks) {
  TkelParamsList list;
  list.Add("Port", Variant(int32_t(47808)));
  EXPECT_EQ(list.IndexOf("PORT"), 0);
  EXPECT_EQ(list.IndexOf(" Port"), -1);
  EXPECT_EQ(list.GetValue("port").ToInt32(), 47808);
  EXPECT_TRUE(list.GetValue("missing").IsEmpty());
  EXPECT_EQ(list.GetValueDef("missing", Variant(int32_t(7))).ToInt32(), 7);
}

TEST(ParamsListLookup, RangesAndRowBoundaries) {
  TkelParamsList list;
  list.Add("a", Variant(int32_t(1)));
  list.Add("b", Variant(int32_t(2)));
  list.Add("c", Variant(int32_t(3)));
  EXPECT_EQ(list.IndexOf("c", 0, 99), 2);
  EXPECT_EQ(list.IndexOf("a", 5, -1), -1);
  EXPECT_EQ(list.IndexOf("a", -7, 1), 0);
  EXPECT_EQ(list.IndexOf("c", 0, 1), -1);

  TkelParamsList rows;
  rows.Add("a", Variant(int32_t(1)));
  rows.Add("b", Variant(int32_t(2)));
  rows.AddNewRow();
  rows.Add("c", Variant(int32_t(3)));
  EXPECT_EQ(rows.IndexOf("c", 0, -2), -1);
  EXPECT_EQ(rows.IndexOf("c", 0, -1), 3);
  EXPECT_EQ(rows.IndexOf("c", 3, -2), 3);
  int32_t index = -5;
  bool marker = false;
  ASSERT_TRUE(rows.FindRowEnd(0, index, marker));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(marker);
  ASSERT_TRUE(rows.FindRowEnd(3, index, marker));
  EXPECT_EQ(index, 3);
  EXPECT_FALSE(marker);
  index = -5;
  EXPECT_FALSE(rows.FindRowEnd(4, index, marker));
  EXPECT_EQ(index, -5);
}

TEST(ParamsListAdd, BlankNamesAndDuplicates) {
  TkelParamsList list;
  EXPECT_EQ(list.Add("", Variant(int32_t(1))), nullptr);
  EXPECT_EQ(list.Add(" \t\r\n", Variant(int32_t(1))), nullptr);
  EXPECT_EQ(list.Insert(0, "  ", Variant(int32_t(1))), nullptr);
  EXPECT_EQ(list.Count(), 0);
  list.Add("a", Variant(int32_t(1)));
  list.Add("a", Variant(int32_t(2)));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.IndexOf("A"), 0);
  TkelParamsListItem* named = list.Add(" x ", Variant::Null());
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->Name, " x ");
  EXPECT_EQ(named->State, 2);
  std::string longName(100000, 'N');
  ASSERT_NE(list.Add(longName, Variant(int32_t(5))), nullptr);
  EXPECT_EQ(list.GetValue(std::string(100000, 'n')).ToInt32(), 5);
}

TEST(ParamsListAdd, InsertPositions) {
  TkelParamsList list;
  list.Add("b", Variant(int32_t(2)));
  ASSERT_NE(list.Insert(0, "a", Variant(int32_t(1))), nullptr);
  ASSERT_NE(list.Insert(2, "c", Variant(int32_t(3))), nullptr);
  EXPECT_EQ(list.IndexOf("a"), 0);
  EXPECT_EQ(list.IndexOf("c"), 2);
  EXPECT_THROW(list.Insert(4, "d", Variant()), EListError);
  EXPECT_THROW(list.Insert(-1, "d", Variant()), EListError);
  EXPECT_EQ(list.Count(), 3);
}

// Ranges that end exactly at the list's end: a To equal to the count or to
// the last index reaches the last item, one less stops before it; copies
// take the last item; a From at the count finds and copies nothing.
TEST(ParamsListRanges, ExactEnds) {
  TkelParamsList list;
  list.Add("a", Variant(int32_t(1)));
  list.Add("b", Variant(int32_t(2)));
  list.Add("c", Variant(int32_t(3)));
  const int32_t n = list.Count();
  EXPECT_EQ(list.IndexOf("c", 0, n), 2);
  EXPECT_EQ(list.IndexOf("c", 0, n - 1), 2);
  EXPECT_EQ(list.IndexOf("c", 0, n - 2), -1);
  EXPECT_EQ(list.IndexOf("c", n - 1, n - 1), 2);
  EXPECT_EQ(list.IndexOf("c", n, -1), -1);
  EXPECT_EQ(list.IndexOf("c", n, n), -1);
  EXPECT_EQ(list.IndexOf("a", -3, 0), 0);
  EXPECT_EQ(list.GetValue("c", n - 1, n).ToInt32(), 3);
  EXPECT_EQ(list.GetValueDef("c", Variant(int32_t(-9)), n, n).ToInt32(), -9);
  EXPECT_EQ(list.FindItem("c", 0, n), list.Items(n - 1));
  EXPECT_EQ(list.Items(n), nullptr);

  for (const auto& [from, to, copied] : std::vector<std::tuple<int32_t, int32_t, std::string>>{
           {n - 1, n - 1, "c"}, {n - 1, n, "c"}, {0, n, "abc"}, {0, n - 1, "abc"}, {1, n - 2, "b"},
           {n, n, ""}, {n, -1, ""}, {-5, 0, "a"}}) {
    TkelParamsList copy;
    EXPECT_TRUE(copy.AddListRange(&list, from, to));
    std::string names;
    for (int32_t i = 0; i < copy.Count(); ++i) names += copy.Items(i)->Name;
    EXPECT_EQ(names, copied) << from << ".." << to;
  }

  // Insert at the end is an append; one past it is refused.
  ASSERT_NE(list.Insert(n, "d", Variant(int32_t(4))), nullptr);
  EXPECT_EQ(list.Items(n)->Name, "d");
  EXPECT_THROW(list.Insert(list.Count() + 1, "e", Variant()), EListError);
  // The row of the last item ends at it; past the end there is no row.
  int32_t end = -7;
  bool marker = true;
  EXPECT_TRUE(list.FindRowEnd(list.Count() - 1, end, marker));
  EXPECT_EQ(end, list.Count() - 1);
  EXPECT_FALSE(marker);
  end = -7;
  EXPECT_FALSE(list.FindRowEnd(list.Count(), end, marker));
  EXPECT_EQ(end, -7);
  list.Delete(list.Count());
  EXPECT_EQ(list.Count(), 4);
  list.Delete(list.Count() - 1);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.IndexOf("d"), -1);
}

TEST(ParamsListValues, KeepTheIncomingType) {
  TkelParamsList list;
  list.Add("u2", Variant::FromUI2(65535));
  list.Add("s", Variant("text"));
  list.Add("i1", Variant::FromI1(-5));
  list.Add("cy", Variant::FromCurrency(12345));
  EXPECT_EQ(list.GetValue("u2").Type(), VarType::UI2);
  EXPECT_EQ(list.GetValue("u2").ToInt32(), 65535);
  EXPECT_EQ(list.GetValue("s").Type(), VarType::OleStr);
  EXPECT_EQ(list.GetValue("s").ToAnsi(), "text");
  EXPECT_EQ(list.GetValue("i1").Type(), VarType::I1);
  EXPECT_EQ(list.GetValue("cy").Type(), VarType::Currency);
  TkelParamsListItem* item = list.SetValue("u2", Variant("changed"), false);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Value().Type(), VarType::OleStr);
}

TEST(ParamsListValues, SetValueAddsOnlyWhenAsked) {
  TkelParamsList list;
  EXPECT_EQ(list.SetValue("x", Variant(int32_t(1)), false), nullptr);
  EXPECT_EQ(list.Count(), 0);
  TkelParamsListItem* item = list.SetValue("x", Variant(int32_t(1)), true);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(list.GetValue("X").ToInt32(), 1);
  EXPECT_EQ(list.SetValue("  ", Variant(int32_t(1)), true), nullptr);
}

TEST(ParamsListRows, NewRowAndAppendRow) {
  TkelParamsList list;
  list.AddNewRow();
  list.AddNewRow();
  ASSERT_EQ(list.Count(), 1);
  EXPECT_TRUE(list.Items(0)->IsNewRow());
  EXPECT_EQ(list.Items(0)->Name, "$NEW_ROW$");
  EXPECT_TRUE(list.Items(0)->Value().IsNull());
  EXPECT_EQ(list.Items(0)->State, 2);

  TkelParamsList target, open, closed, empty;
  open.Add("a", Variant(int32_t(1)));
  closed.Add("b", Variant(int32_t(2)));
  closed.AddNewRow();
  target.AppendRow(&open);
  target.AppendRow(&closed);
  target.AppendRow(&empty);
  ASSERT_EQ(target.Count(), 4);  // a, marker, b, marker; the empty row adds nothing new
  EXPECT_TRUE(target.Items(1)->IsNewRow());
  EXPECT_TRUE(target.Items(3)->IsNewRow());
  target.AppendRow(nullptr);
  EXPECT_EQ(target.Count(), 4);
}

TEST(ParamsListCopy, AddListAndRanges) {
  TkelParamsList source, dest, empty;
  source.Add("a", Variant(int32_t(1)))->DataType = 42;
  source.Add("b", Variant(int32_t(2)));
  source.Add("c", Variant(int32_t(3)));
  EXPECT_FALSE(dest.AddList(&empty));
  EXPECT_FALSE(dest.AddList(nullptr));
  EXPECT_TRUE(dest.AddListRange(&source, 2, 1));
  EXPECT_EQ(dest.Count(), 0);
  EXPECT_TRUE(dest.AddListRange(&source, 1, 99));
  EXPECT_EQ(dest.Count(), 2);
  EXPECT_TRUE(dest.AddList(&source));
  ASSERT_EQ(dest.Count(), 5);
  EXPECT_EQ(dest.Items(2)->DataType, 42);
  EXPECT_EQ(dest.Items(2)->Value().ToInt32(), 1);
  // A list appended to itself copies what it had once.
  EXPECT_TRUE(dest.AddList(&dest));
  EXPECT_EQ(dest.Count(), 10);
}

TEST(ParamsListDelete, OutOfRangeIndexesChangeNothing) {
  TkelParamsList list;
  list.Add("a", Variant(int32_t(1)));
  list.Add("b", Variant(int32_t(2)));
  list.Delete(-1);
  list.Delete(2);
  list.Delete(INT32_MIN);
  EXPECT_EQ(list.Count(), 2);
  list.Delete(0);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Name, "b");
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.Items(1), nullptr);
}

TEST(ParamsListStrict, DefinedValues) {
  TkelParamsList list;
  list.Add("Known", Variant(int32_t(1)));
  list.SetDefinedValue("known", Variant(int32_t(5)));
  EXPECT_EQ(list.GetDefinedValue("KNOWN").ToInt32(), 5);
  try {
    list.GetDefinedValue("unknown");
    FAIL();
  } catch (const EAssertion& e) {
    EXPECT_STREQ(e.what(), "Parameter is not defined");
  }
  EXPECT_THROW(list.SetDefinedValue("unknown", Variant()), EAssertion);
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
}  // namespace kel
