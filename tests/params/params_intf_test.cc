// The wrappers as a foreign host sees them: every call goes through the raw
// function tables of plugin_abi.h, so a slot or convention mistake shows.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "params/params_list.h"
#include "params/params_list_wrap.h"
#include "params/raw_list_check.h"
#include "platform/port.h"
#include "runtime/variant.h"

namespace kel {
namespace {

const kel_guid kItemA = KEL_IID_ITEM_A;
const kel_guid kItemW = KEL_IID_ITEM_W;
const kel_guid kListA = KEL_IID_LIST_A;
const kel_guid kListW = KEL_IID_LIST_W;
const kel_guid kOther = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The documented slot of every method (IUnknown's three included).  A host
// written against the slot numbers calls through these positions.
#define KEL_SLOT(T, M, N) static_assert(offsetof(T, M) == (N) * sizeof(void*), #T "." #M)
KEL_SLOT(IkelParamsListItemVtbl, QueryInterface, 0);
KEL_SLOT(IkelParamsListItemVtbl, Release, 2);
KEL_SLOT(IkelParamsListItemVtbl, SetKey, 3);
KEL_SLOT(IkelParamsListItemVtbl, SetDataType, 4);
KEL_SLOT(IkelParamsListItemVtbl, SetState, 5);
KEL_SLOT(IkelParamsListItemVtbl, GetKey, 6);
KEL_SLOT(IkelParamsListItemVtbl, GetDataType, 7);
KEL_SLOT(IkelParamsListItemVtbl, GetState, 8);
KEL_SLOT(IkelParamsListItemVtbl, SetValue, 9);
KEL_SLOT(IkelParamsListItemVtbl, GetValue, 10);
KEL_SLOT(IkelParamsListItemVtbl, SetName, 11);
KEL_SLOT(IkelParamsListItemVtbl, GetName, 12);
KEL_SLOT(IkelParamsListItemVtbl, IsNewRow, 13);
KEL_SLOT(IkelParamsListItemVtbl, SetNameW, 14);
KEL_SLOT(IkelParamsListItemVtbl, GetNameW, 15);
KEL_SLOT(IkelParamsListItemVtbl, SetValueW, 16);
KEL_SLOT(IkelParamsListItemVtbl, GetValueW, 17);
static_assert(sizeof(IkelParamsListItemVtbl) == 18 * sizeof(void*));
#define KEL_LIST_SLOTS(T)                                                                     \
  KEL_SLOT(T, GetCount, 3); KEL_SLOT(T, GetSignature, 4); KEL_SLOT(T, GetTag, 5);              \
  KEL_SLOT(T, SetTag, 6); KEL_SLOT(T, Clear, 7); KEL_SLOT(T, Delete, 8);                       \
  KEL_SLOT(T, FindRowEnd, 9); KEL_SLOT(T, AddNewRow, 10); KEL_SLOT(T, AppendRow, 11);          \
  KEL_SLOT(T, GetItem, 12); KEL_SLOT(T, AddList, 13); KEL_SLOT(T, AddListRange, 14);           \
  KEL_SLOT(T, FindItem, 15); KEL_SLOT(T, IndexOf, 16); KEL_SLOT(T, GetValue, 17);              \
  KEL_SLOT(T, GetValueDef, 18); KEL_SLOT(T, Add, 19); KEL_SLOT(T, Insert, 20);                 \
  KEL_SLOT(T, SetValue, 21); KEL_SLOT(T, AddItem, 22);                                         \
  static_assert(sizeof(T) == 23 * sizeof(void*))
KEL_LIST_SLOTS(IkelParamsListAVtbl);
KEL_LIST_SLOTS(IkelParamsListWVtbl);
#undef KEL_LIST_SLOTS
#undef KEL_SLOT

kel_variant I4(int32_t v) {
  kel_variant r{};
  r.vt = KEL_VT_I4;
  r.u.i4 = v;
  return r;
}

// An out variant that the test owns and clears.
struct Out {
  kel_variant v{};
  ~Out() { ClearBoundary(&v); }
  std::u16string Text() const {
    return v.vt == KEL_VT_BSTR && v.u.bstr ? std::u16string(v.u.bstr, port::SysStringLen(v.u.bstr))
                                          : std::u16string();
  }
};

struct ItemHold {
  IkelParamsListItemA* p = nullptr;
  ~ItemHold() {
    if (p) p->vtbl->Release(p);
  }
};

class ListIntf : public ::testing::Test {
 protected:
  void SetUp() override { a = TkelParamsListWrap::NewRefA(&list); }
  void TearDown() override {
    if (a) {
      EXPECT_EQ(a->vtbl->Release(a), 0u);
    }
  }
  TkelParamsList list;
  IkelParamsListA* a = nullptr;
};

TEST_F(ListIntf, AddFindAndReadThroughTheTable) {
  const auto* v = a->vtbl;
  kel_variant in = I4(47808);
  ItemHold added;
  ASSERT_EQ(v->Add(a, "Port", &in, &added.p), 0u);
  ASSERT_NE(added.p, nullptr);
  EXPECT_EQ(v->GetCount(a), 1);
  EXPECT_EQ(v->GetSignature(a), KEL_LIST_SIGNATURE);

  int32_t index = 99;
  EXPECT_EQ(v->IndexOf(a, "PORT", 0, -1, &index), 0u);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(v->IndexOf(a, " Port", 0, -1, &index), 0u);
  EXPECT_EQ(index, -1);

  Out out;
  EXPECT_EQ(v->GetValue(a, "port", 0, -1, &out.v), 0u);
  EXPECT_EQ(out.v.vt, KEL_VT_I4);
  EXPECT_EQ(out.v.u.i4, 47808);

  Out def;
  kel_variant fallback = I4(5);
  EXPECT_EQ(v->GetValueDef(a, "nothing", &fallback, 0, -1, &def.v), 0u);
  EXPECT_EQ(def.v.u.i4, 5);

  ItemHold found;
  EXPECT_EQ(v->FindItem(a, "PoRt", 0, -1, &found.p), 0u);
  ASSERT_NE(found.p, nullptr);
  EXPECT_STREQ(found.p->vtbl->GetName(found.p), "Port");
  EXPECT_STREQ(found.p->vtbl->GetKey(found.p), "port");
  EXPECT_EQ(found.p->vtbl->GetState(found.p), 2);

  v->SetTag(a, -17);
  EXPECT_EQ(v->GetTag(a), -17);
  EXPECT_EQ(list.Tag(), -17);
}

TEST_F(ListIntf, BlankNamesAndNullTextAddNothing) {
  const auto* v = a->vtbl;
  kel_variant in = I4(1);
  ItemHold item;
  EXPECT_EQ(v->Add(a, nullptr, &in, &item.p), 0u);
  EXPECT_EQ(item.p, nullptr);
  EXPECT_EQ(v->Add(a, "   ", &in, &item.p), 0u);
  EXPECT_EQ(item.p, nullptr);
  EXPECT_EQ(v->Insert(a, 0, "", &in, &item.p), 0u);
  EXPECT_EQ(item.p, nullptr);
  EXPECT_EQ(v->GetCount(a), 0);
  // A null value pointer is an empty value.
  EXPECT_EQ(v->Add(a, "n", nullptr, &item.p), 0u);
  ASSERT_NE(item.p, nullptr);
  EXPECT_EQ(list.Items(0)->Value().Type(), VarType::Empty);
}

TEST_F(ListIntf, BadIndexesFailSafely) {
  const auto* v = a->vtbl;
  kel_variant in = I4(1);
  ItemHold item;
  ASSERT_EQ(v->Add(a, "a", &in, &item.p), 0u);
  ItemHold got;
  EXPECT_EQ(v->GetItem(a, -1, &got.p), 0u);
  EXPECT_EQ(got.p, nullptr);
  EXPECT_EQ(v->GetItem(a, 1, &got.p), 0u);
  EXPECT_EQ(got.p, nullptr);
  // Insert beyond the end fails with the status and leaves the out empty.
  ItemHold bad;
  EXPECT_EQ(v->Insert(a, 5, "x", &in, &bad.p), KEL_STATUS_FAIL);
  EXPECT_EQ(bad.p, nullptr);
  v->Delete(a, -1);
  v->Delete(a, 1);
  EXPECT_EQ(v->GetCount(a), 1);
  // Null out pointers are refused, not written.
  EXPECT_EQ(v->GetItem(a, 0, nullptr), KEL_STATUS_FAIL);
  EXPECT_EQ(v->GetValue(a, "a", 0, -1, nullptr), KEL_STATUS_FAIL);
}

TEST_F(ListIntf, TextByPointerAndNullPointers) {
  const auto* v = a->vtbl;
  ItemHold item;
  kel_variant ansi{};
  ansi.vt = KEL_VT_ANSI_PTR;
  ansi.u.ansi_ptr = "eight";
  ASSERT_EQ(v->Add(a, "a8", &ansi, &item.p), 0u);
  kel_variant wide{};
  wide.vt = KEL_VT_WIDE_PTR;
  wide.u.wide_ptr = u"wide";
  ItemHold item2;
  ASSERT_EQ(v->Add(a, "a16", &wide, &item2.p), 0u);
  EXPECT_EQ(list.GetValue("a8").Type(), VarType::OleStr);
  EXPECT_EQ(list.GetValue("a8").ToUtf16(), u"eight");
  EXPECT_EQ(list.GetValue("a16").ToUtf16(), u"wide");

  // Null text pointers of either kind, and a null BSTR, are survived.
  for (uint16_t vt : {uint16_t(KEL_VT_ANSI_PTR), uint16_t(KEL_VT_WIDE_PTR), uint16_t(KEL_VT_BSTR)}) {
    kel_variant nul{};
    nul.vt = vt;
    ItemHold h;
    EXPECT_EQ(v->Add(a, "nul", &nul, &h.p), 0u);
    EXPECT_NE(h.p, nullptr);
    EXPECT_EQ(h.p->vtbl->SetValue(h.p, &nul), 0u);
    EXPECT_EQ(h.p->vtbl->SetValueW(h.p, &nul), 0u);
  }

  // In the UTF-16 flavour both pointer kinds carry UTF-16 text.
  IkelParamsListW* w = nullptr;
  ASSERT_EQ(v->QueryInterface(a, &kListW, reinterpret_cast<void**>(&w)), 0u);
  kel_variant asWide{};
  asWide.vt = KEL_VT_ANSI_PTR;
  asWide.u.ansi_ptr = reinterpret_cast<const char*>(u"utf16");
  ItemHold item3;
  ASSERT_EQ(w->vtbl->Add(w, u"w", &asWide, &item3.p), 0u);
  EXPECT_EQ(list.GetValue("w").ToUtf16(), u"utf16");
  w->vtbl->Release(w);
}

TEST_F(ListIntf, EveryVariantTypeKeepsItsType) {
  const auto* v = a->vtbl;
  const uint16_t types[] = {KEL_VT_EMPTY, KEL_VT_NULL, KEL_VT_I2,  KEL_VT_I4,  KEL_VT_R4,
                            KEL_VT_R8,    KEL_VT_CY,   KEL_VT_DATE, KEL_VT_BOOL, KEL_VT_I1,
                            KEL_VT_UI1,   KEL_VT_UI2,  KEL_VT_UI4, KEL_VT_I8,  KEL_VT_UI8};
  for (uint16_t t : types) {
    kel_variant in{};
    in.vt = t;
    in.u.ui8 = 0;
    ItemHold item;
    ASSERT_EQ(v->SetValue(a, "x", &in, 1, &item.p), 0u) << t;
    Out out;
    ASSERT_EQ(v->GetValue(a, "x", 0, -1, &out.v), 0u);
    EXPECT_EQ(out.v.vt, t);
  }
  kel_variant u2{};
  u2.vt = KEL_VT_UI2;
  u2.u.ui2 = 65000;
  ItemHold item;
  ASSERT_EQ(v->SetValue(a, "x", &u2, 0, &item.p), 0u);
  Out out;
  ASSERT_EQ(item.p->vtbl->GetValue(item.p, &out.v), 0u);
  EXPECT_EQ(out.v.vt, 18);
  EXPECT_EQ(out.v.u.ui2, 65000);
  // Types the module does not model, and garbage codes, do not crash.
  for (uint16_t t : {uint16_t(9), uint16_t(13), uint16_t(0x2003), uint16_t(0xFFFF)}) {
    kel_variant odd{};
    odd.vt = t;
    odd.u.ptrs[0] = reinterpret_cast<void*>(uintptr_t(0x10));
    ItemHold h;
    EXPECT_EQ(v->Add(a, "odd", &odd, &h.p), 0u);
  }
}

TEST_F(ListIntf, OutVariantsAreZeroedNotFreed) {
  // A host may hand in an out variant it never initialised: whatever it
  // holds is not the module's to free (the receiver clears what it gets).
  const auto* v = a->vtbl;
  kel_variant in = I4(12);
  ItemHold item;
  ASSERT_EQ(v->Add(a, "x", &in, &item.p), 0u);
  char16_t notHeap[8] = u"stack";
  auto garbage = [&] {
    kel_variant g{};
    g.vt = KEL_VT_BSTR;
    g.u.bstr = notHeap + 2;
    return g;
  };
  Out out;
  out.v = garbage();
  EXPECT_EQ(v->GetValue(a, "x", 0, -1, &out.v), 0u);
  EXPECT_EQ(out.v.u.i4, 12);
  out.v = garbage();
  EXPECT_EQ(v->GetValue(a, "missing", 0, -1, &out.v), 0u);
  EXPECT_EQ(out.v.vt, KEL_VT_EMPTY);
  out.v = garbage();
  EXPECT_EQ(v->GetValueDef(a, "missing", &in, 0, -1, &out.v), 0u);
  EXPECT_EQ(out.v.u.i4, 12);
  out.v = garbage();
  EXPECT_EQ(item.p->vtbl->GetValue(item.p, &out.v), 0u);
  EXPECT_EQ(out.v.u.i4, 12);
  out.v = garbage();
  EXPECT_EQ(item.p->vtbl->GetValueW(item.p, &out.v), 0u);
  EXPECT_EQ(out.v.vt, KEL_VT_I4);
}

TEST_F(ListIntf, QueryInterfaceAnswersOnlyItsOwnIdentities) {
  const auto* v = a->vtbl;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(v->QueryInterface(a, &kOther, &out), KEL_E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(v->QueryInterface(a, &kItemA, &out), KEL_E_NOINTERFACE);
  ASSERT_EQ(v->QueryInterface(a, &kListA, &out), 0u);
  EXPECT_EQ(out, a);
  EXPECT_EQ(v->Release(a), 1u);
  ASSERT_EQ(v->QueryInterface(a, &kListW, &out), 0u);
  auto* w = static_cast<IkelParamsListW*>(out);
  EXPECT_NE(static_cast<void*>(w), static_cast<void*>(a));
  // Both interfaces share the count and reach the same list.
  EXPECT_EQ(w->vtbl->AddRef(w), 3u);
  EXPECT_EQ(w->vtbl->Release(w), 2u);
  EXPECT_EQ(w->vtbl->GetSignature(w), KEL_LIST_SIGNATURE);
  void* back = nullptr;
  ASSERT_EQ(w->vtbl->QueryInterface(w, &kListA, &back), 0u);
  EXPECT_EQ(back, a);
  a->vtbl->Release(a);
  EXPECT_EQ(w->vtbl->Release(w), 1u);

  kel_variant in = I4(1);
  ItemHold item;
  ASSERT_EQ(v->Add(a, "i", &in, &item.p), 0u);
  EXPECT_EQ(item.p->vtbl->QueryInterface(item.p, &kListA, &out), KEL_E_NOINTERFACE);
  ASSERT_EQ(item.p->vtbl->QueryInterface(item.p, &kItemW, &out), 0u);
  EXPECT_EQ(out, item.p);
  EXPECT_EQ(item.p->vtbl->Release(item.p), 1u);
}

TEST_F(ListIntf, WideNamesAndItems) {
  IkelParamsListW* w = nullptr;
  ASSERT_EQ(a->vtbl->QueryInterface(a, &kListW, reinterpret_cast<void**>(&w)), 0u);
  kel_variant in = I4(3);
  ItemHold item;
  ASSERT_EQ(w->vtbl->Add(w, u"Gr\u00fc\u00dfe", &in, &item.p), 0u);
  ASSERT_NE(item.p, nullptr);
  EXPECT_EQ(std::u16string(item.p->vtbl->GetNameW(item.p)), u"Gr\u00fc\u00dfe");
  int32_t index = -5;
  EXPECT_EQ(w->vtbl->IndexOf(w, u"GR\u00fc\u00dfE", 0, -1, &index), 0u);
  EXPECT_EQ(index, 0);
  // Renaming keeps the old lookup key.
  item.p->vtbl->SetNameW(item.p, u"Renamed");
  EXPECT_STREQ(item.p->vtbl->GetName(item.p), "Renamed");
  EXPECT_EQ(list.IndexOf("renamed"), -1);
  EXPECT_EQ(list.IndexOf("gr\xc3\xbc\xc3\x9f" "e"), 0);
  item.p->vtbl->SetNameW(item.p, nullptr);
  EXPECT_EQ(item.p->vtbl->GetName(item.p), nullptr);
  EXPECT_EQ(item.p->vtbl->GetNameW(item.p), nullptr);
  EXPECT_EQ(item.p->vtbl->GetKey(item.p), nullptr);
  w->vtbl->Release(w);
}

TEST_F(ListIntf, ItemInterfaceSetters) {
  kel_variant in = I4(1);
  ItemHold item;
  ASSERT_EQ(a->vtbl->Add(a, "Name", &in, &item.p), 0u);
  const auto* iv = item.p->vtbl;
  iv->SetName(item.p, "Other");
  EXPECT_EQ(list.Items(0)->Name, "Other");
  EXPECT_EQ(list.IndexOf("name"), 0);
  EXPECT_EQ(list.IndexOf("other"), -1);
  iv->SetKey(item.p, "changed");
  EXPECT_STREQ(iv->GetKey(item.p), "changed");
  EXPECT_EQ(list.Items(0)->Key, "name");
  iv->SetDataType(item.p, KEL_ROW_MARKER_TYPE);
  EXPECT_EQ(iv->IsNewRow(item.p), 1);
  EXPECT_EQ(iv->GetDataType(item.p), KEL_ROW_MARKER_TYPE);
  iv->SetState(item.p, 9);
  EXPECT_EQ(list.Items(0)->State, 9);
  kel_variant text{};
  text.vt = KEL_VT_ANSI_PTR;
  text.u.ansi_ptr = "abc";
  EXPECT_EQ(iv->SetValue(item.p, &text), 0u);
  Out out;
  EXPECT_EQ(iv->GetValueW(item.p, &out.v), 0u);
  EXPECT_EQ(out.Text(), u"abc");
}

// Through the interface too: a To equal to the count reaches the last
// item, a copy takes the source's last item, an insert at the count appends.
TEST_F(ListIntf, RangesEndingAtTheCount) {
  const auto* v = a->vtbl;
  kel_variant in = I4(1);
  for (const char* name : {"a", "b", "c"}) {
    ItemHold h;
    ASSERT_EQ(v->Add(a, name, &in, &h.p), 0u);
  }
  int32_t at = -5;
  EXPECT_EQ(v->IndexOf(a, "c", 0, 3, &at), 0u);
  EXPECT_EQ(at, 2);
  EXPECT_EQ(v->IndexOf(a, "c", 0, 1, &at), 0u);
  EXPECT_EQ(at, -1);
  TkelParamsList source;
  source.Add("x", Variant(int32_t(1)));
  source.Add("y", Variant(int32_t(2)));
  uint8_t ok = 0;
  EXPECT_EQ(v->AddListRange(a, &source, 1, 2, &ok), 0u);
  EXPECT_EQ(ok, 1);
  ASSERT_EQ(v->GetCount(a), 4);
  EXPECT_EQ(list.Items(3)->Name, "y");
  ItemHold end;
  EXPECT_EQ(v->Insert(a, 4, "z", &in, &end.p), 0u);
  ASSERT_NE(end.p, nullptr);
  EXPECT_EQ(list.Items(4)->Name, "z");
}

TEST_F(ListIntf, RowsAndListSources) {
  const auto* v = a->vtbl;
  TkelParamsList source;
  source.Add("x", Variant(int32_t(1)));
  source.Add("y", Variant(int32_t(2)));
  uint8_t ok = 7;
  EXPECT_EQ(v->AddList(a, &source, &ok), 0u);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(v->AddListRange(a, &source, 2, 1, &ok), 0u);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(v->AddList(a, nullptr, &ok), 0u);
  EXPECT_EQ(ok, 0);
  // A foreign pointer is no list: failure status, nothing copied.
  int32_t notAList[2] = {1, 2};
  EXPECT_EQ(v->AddList(a, notAList, &ok), KEL_STATUS_FAIL);
  EXPECT_EQ(v->GetCount(a), 2);

  TkelParamsListWrap srcWrap(&source);
  v->AppendRow(a, srcWrap.IntfA());
  EXPECT_EQ(v->GetCount(a), 5);
  v->AppendRow(a, nullptr);
  v->AppendRow(a, notAList);
  EXPECT_EQ(v->GetCount(a), 5);
  int32_t index = -9;
  uint8_t marker = 9;
  EXPECT_EQ(v->FindRowEnd(a, 0, &index, &marker), 1);
  EXPECT_EQ(index, 4);
  EXPECT_EQ(marker, 1);
  v->AddNewRow(a);
  EXPECT_EQ(v->GetCount(a), 5);
  EXPECT_EQ(v->FindRowEnd(a, 5, &index, &marker), 0);
  EXPECT_EQ(v->FindRowEnd(a, 0, nullptr, nullptr), 1);
  v->Clear(a);
  EXPECT_EQ(v->GetCount(a), 0);
  v->AddNewRow(a);
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(ListIntf, AddItemCopiesNameAndValueOnly) {
  TkelParamsList other;
  IkelParamsListA* b = TkelParamsListWrap::NewRefA(&other);
  kel_variant in = I4(8);
  ItemHold src;
  ASSERT_EQ(b->vtbl->Add(b, "Src", &in, &src.p), 0u);
  src.p->vtbl->SetDataType(src.p, 77);
  src.p->vtbl->SetState(src.p, 5);
  ItemHold copy;
  ASSERT_EQ(a->vtbl->AddItem(a, src.p, &copy.p), 0u);
  ASSERT_NE(copy.p, nullptr);
  EXPECT_EQ(list.Items(0)->Name, "Src");
  EXPECT_EQ(list.Items(0)->Value().ToInt32(), 8);
  EXPECT_EQ(list.Items(0)->DataType, 0);
  EXPECT_EQ(list.Items(0)->State, 2);
  ItemHold none;
  EXPECT_EQ(a->vtbl->AddItem(a, nullptr, &none.p), KEL_STATUS_FAIL);
  // The object side copies key, data type and state as well.
  TkelParamsListItem* full = list.AddItemFrom(src.p);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->DataType, 77);
  EXPECT_EQ(full->State, 5);
  EXPECT_EQ(full->Key, "src");
  b->vtbl->Release(b);
}

TEST(ListWrapLifetime, OwnedAndNotOwnedLists) {
  auto* owning = new TkelParamsListWrap();
  owning->List()->Add("a", Variant(int32_t(1)));
  EXPECT_EQ(owning->IntfA()->vtbl->AddRef(owning->IntfA()), 1u);
  EXPECT_EQ(owning->IntfA()->vtbl->Release(owning->IntfA()), 0u);  // frees wrapper and list

  TkelParamsList kept;
  IkelParamsListW* w = TkelParamsListWrap::NewRefW(&kept);
  w->vtbl->Clear(w);
  EXPECT_EQ(w->vtbl->Release(w), 0u);
  EXPECT_EQ(kept.Signature(), KEL_LIST_SIGNATURE);
}

TEST(ListWrapLifetime, AsIntfKeepsTheWrapperAlive) {
  TkelParamsList list;
  auto* wrap = new TkelParamsListWrap(&list);
  IkelParamsListA** ref = wrap->AsIntf();
  EXPECT_EQ(wrap->AsIntf(), ref);
  IkelParamsListA* a = *ref;
  EXPECT_EQ(a, wrap->IntfA());
  EXPECT_EQ(wrap->RefCount(), 1);
  a->vtbl->AddRef(a);
  EXPECT_EQ(a->vtbl->Release(a), 1u);
  EXPECT_EQ(a->vtbl->Release(a), 0u);  // the self-reference released: still alive
  EXPECT_EQ(a->vtbl->GetCount(a), 0);
  delete wrap;

  // The host keeps one reference beyond the call: the warning goes to the
  // debugger output and the wrapper is still destroyed.
  auto* leaky = new TkelParamsListWrap(&list);
  IkelParamsListA* held = *leaky->AsIntf();
  held->vtbl->AddRef(held);
  delete leaky;
  EXPECT_EQ(list.Signature(), KEL_LIST_SIGNATURE);
}

TEST(ListWrapIdentity, FromInterfaceAndRawListCheck) {
  TkelParamsList list;
  TkelParamsListWrap wrap(&list);
  EXPECT_EQ(TkelParamsListWrap::FromInterface(wrap.IntfA()), &wrap);
  EXPECT_EQ(TkelParamsListWrap::FromInterface(wrap.IntfW()), &wrap);
  EXPECT_EQ(TkelParamsListWrap::FromInterface(&list), nullptr);
  EXPECT_EQ(TkelParamsListWrap::FromInterface(nullptr), nullptr);
  EXPECT_EQ(TkelParamsListWrap::FromInterface(reinterpret_cast<void*>(uintptr_t(8))), nullptr);

  EXPECT_TRUE(IsRawParamsList(&list));
  EXPECT_FALSE(IsRawParamsList(wrap.IntfA()));
  IkelParamsListA** viaVariable = wrap.AsIntf();
  EXPECT_FALSE(IsRawParamsList(viaVariable));
  EXPECT_FALSE(IsRawParamsList(nullptr));
  EXPECT_FALSE(IsRawParamsList(reinterpret_cast<void*>(uintptr_t(1))));
  EXPECT_FALSE(IsRawParamsList(reinterpret_cast<void*>(~uintptr_t(0) - 4)));
  auto* gone = new TkelParamsList();
  alignas(8) unsigned char copy[64];
  std::memcpy(copy, static_cast<void*>(gone), sizeof(void*) * 2 + 12);
  delete gone;
  EXPECT_TRUE(IsRawParamsList(copy));  // the bytes, not the object, decide
}

}  // namespace
}  // namespace kel
