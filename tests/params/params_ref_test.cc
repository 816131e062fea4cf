// ParamsRef and CopyParamsItems work through the function table alone; a
// stand-in foreign list checks that failures are reported, not ignored.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/errors.h"
#include "params/params_list.h"
#include "params/params_list_wrap.h"
#include "params/params_ref.h"

namespace kel {
namespace {

TEST(ParamsRef, CountsReferences) {
  TkelParamsList list;
  auto* wrap = new TkelParamsListWrap(&list);
  {
    ParamsRef r(wrap->IntfA());
    EXPECT_EQ(wrap->RefCount(), 1);
    ParamsRef copy = r;
    EXPECT_EQ(wrap->RefCount(), 2);
    ParamsRef moved = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(wrap->RefCount(), 2);
    moved = ParamsRef();
    EXPECT_EQ(wrap->RefCount(), 1);
  }  // last release frees the wrapper; ASan reports a double free or a leak
  ParamsRef adopted(TkelParamsListWrap::NewRefA(&list), true);
  EXPECT_TRUE(adopted);
  EXPECT_EQ(TkelParamsListWrap::FromInterface(adopted.get())->RefCount(), 1);
}

TEST(ParamsRef, HelpersReadAndWriteTheList) {
  TkelParamsList list;
  ParamsRef r(TkelParamsListWrap::NewRefA(&list), true);
  EXPECT_TRUE(r.Add("Name", Variant("value")));
  EXPECT_FALSE(r.Add(" ", Variant("value")));
  EXPECT_TRUE(r.SetValue("count", Variant(int32_t(3)), true));
  EXPECT_FALSE(r.SetValue("absent", Variant(int32_t(3)), false));
  EXPECT_EQ(r.Count(), 2);
  EXPECT_EQ(r.IndexOf("COUNT"), 1);
  EXPECT_EQ(r.GetValue("name").ToAnsi(), "value");
  EXPECT_EQ(r.GetValue("count").Type(), VarType::I4);
  EXPECT_TRUE(r.GetValue("absent").IsEmpty());
  r.AddNewRow();
  EXPECT_EQ(r.ItemName(0), "Name");
  EXPECT_EQ(r.ItemKey(0), "name");
  EXPECT_EQ(r.ItemValue(1).ToInt32(), 3);
  EXPECT_EQ(r.ItemState(1), 2);
  EXPECT_TRUE(r.ItemIsNewRow(2));
  EXPECT_EQ(r.ItemDataType(2), KEL_ROW_MARKER_TYPE);
  EXPECT_EQ(r.ItemName(3), "");
  EXPECT_TRUE(r.ItemValue(-1).IsEmpty());
  r.Clear();
  EXPECT_EQ(list.Count(), 0);

}

TEST(CopyParamsItems, CopiesRangeWithTypeAndState) {
  TkelParamsList from, to;
  from.Add("a", Variant(int32_t(1)));
  from.Add("b", Variant::FromUI2(2))->DataType = 12;
  from.Items(1)->State = 6;
  from.AddNewRow();
  ParamsRef src(TkelParamsListWrap::NewRefA(&from), true);
  ParamsRef dst(TkelParamsListWrap::NewRefA(&to), true);
  CopyParamsItems(src.get(), dst.get(), 1, -1);
  ASSERT_EQ(to.Count(), 2);
  EXPECT_EQ(to.Items(0)->Name, "b");
  EXPECT_EQ(to.Items(0)->Value().Type(), VarType::UI2);
  EXPECT_EQ(to.Items(0)->DataType, 12);
  EXPECT_EQ(to.Items(0)->State, 6);
  EXPECT_TRUE(to.Items(1)->IsNewRow());
  // Indexes beyond the source and null lists do nothing.
  CopyParamsItems(src.get(), dst.get(), 5, 9);
  CopyParamsItems(nullptr, dst.get(), 0, -1);
  CopyParamsItems(src.get(), nullptr, 0, -1);
  EXPECT_EQ(to.Count(), 2);
  // A To far beyond the source ends at its last item (no index overflow).
  CopyParamsItems(src.get(), dst.get(), 2, INT32_MAX);
  ASSERT_EQ(to.Count(), 3);
  EXPECT_TRUE(to.Items(2)->IsNewRow());
}

// A host's own list whose GetItem always fails.
struct FailingList {
  const IkelParamsListAVtbl* vtbl;
  int refs = 1;
};

TEST(CopyParamsItems, FailureStatusRaises) {
  static const IkelParamsListAVtbl table = [] {
    IkelParamsListAVtbl t{};
    t.AddRef = [](void* s) -> uint32_t { return ++static_cast<FailingList*>(s)->refs; };
    t.Release = [](void* s) -> uint32_t { return --static_cast<FailingList*>(s)->refs; };
    t.GetCount = [](void*) -> int32_t { return 3; };
    t.GetItem = [](void*, int32_t, IkelParamsListItemA** out) -> uint32_t {
      *out = nullptr;
      return KEL_STATUS_FAIL;
    };
    return t;
  }();
  FailingList foreign{&table};
  TkelParamsList to;
  ParamsRef dst(TkelParamsListWrap::NewRefA(&to), true);
  EXPECT_THROW(CopyParamsItems(reinterpret_cast<IkelParamsListA*>(&foreign), dst.get(), 0, -1),
               EIntfCallFailed);
  EXPECT_EQ(to.Count(), 0);
  {
    ParamsRef r(reinterpret_cast<IkelParamsListA*>(&foreign));
    EXPECT_EQ(foreign.refs, 2);
    EXPECT_EQ(r.Count(), 3);
    EXPECT_EQ(r.ItemName(0), "");
  }
  EXPECT_EQ(foreign.refs, 1);
}

}  // namespace
}  // namespace kel
