// The methods behind the list wrapper's two function tables.  Both flavours
// share one template; they differ in the text type of names, in how incoming
// variants carry text by pointer and in how a source item is read.
//
// No exception leaves a method: status methods answer KEL_STATUS_FAIL, the
// others swallow the failure and answer an empty result.
#include <cstddef>
#include <string>

#include "params/intf_guids.h"
#include "params/list_wrap_tables.h"
#include "runtime/errors.h"
#include "params/params_item_wrap.h"
#include "params/params_list_wrap.h"
#include "platform/port.h"
#include "runtime/variant.h"

namespace kel {

namespace {

struct FlavourA {
  using Ch = char;
  static constexpr TextFlavour kText = TextFlavour::Ansi;
  static TkelParamsListWrap* Wrap(void* self) { return static_cast<TkelParamsListWrap*>(self); }
  static std::string Name(const char* p) { return p ? std::string(p) : std::string(); }
  static std::string ItemName(IkelParamsListItemA* item) {
    return Name(item->vtbl->GetName(item));
  }
  static uint32_t ItemValue(IkelParamsListItemA* item, kel_variant* out) {
    return item->vtbl->GetValue(item, out);
  }
};

struct FlavourW {
  using Ch = char16_t;
  static constexpr TextFlavour kText = TextFlavour::Wide;
  static TkelParamsListWrap* Wrap(void* self) {
    return reinterpret_cast<TkelParamsListWrap*>(static_cast<unsigned char*>(self) -
                                                 offsetof(TkelParamsListWrap::Tables, w));
  }
  static std::string Name(const char16_t* p) {
    if (!p) return std::string();
    return port::Utf16ToAnsi(std::u16string_view(p, std::char_traits<char16_t>::length(p)));
  }
  static std::string ItemName(IkelParamsListItemA* item) {
    return Name(item->vtbl->GetNameW(item));
  }
  static uint32_t ItemValue(IkelParamsListItemA* item, kel_variant* out) {
    return item->vtbl->GetValueW(item, out);
  }
};

// Runs f and turns any failure into the failure status.
template <class F>
uint32_t Status(F&& f) {
  try {
    f();
    return 0;
  } catch (...) {
    return KEL_STATUS_FAIL;
  }
}

template <class Fl>
struct ListMethods {
  using Ch = typename Fl::Ch;
  static TkelParamsList& L(void* self) { return *Fl::Wrap(self)->List(); }
  static Variant In(const kel_variant* v) { return Variant::FromBoundary(v, Fl::kText); }

  // ---- IUnknown
  static uint32_t KEL_STDCALL QueryInterface(void* self, const kel_guid* iid, void** out) {
    if (!out) return KEL_E_POINTER;
    *out = nullptr;
    if (!iid) return KEL_E_NOINTERFACE;
    TkelParamsListWrap* w = Fl::Wrap(self);
    if (SameGuid(*iid, kIidListA))
      *out = w->IntfA();
    else if (SameGuid(*iid, kIidListW))
      *out = w->IntfW();
    else
      return KEL_E_NOINTERFACE;
    w->AddRef();
    return 0;
  }
  static uint32_t KEL_STDCALL AddRef(void* self) { return Fl::Wrap(self)->AddRef(); }
  static uint32_t KEL_STDCALL Release(void* self) { return Fl::Wrap(self)->Release(); }

  // ---- common slots
  static int32_t KEL_STDCALL GetCount(void* self) { return L(self).Count(); }
  static uint32_t KEL_STDCALL GetSignature(void* self) { return L(self).Signature(); }
  static int32_t KEL_STDCALL GetTag(void* self) { return L(self).Tag(); }
  static void KEL_STDCALL SetTag(void* self, int32_t tag) { L(self).SetTag(tag); }
  static void KEL_STDCALL Clear(void* self) { L(self).Clear(); }
  static void KEL_STDCALL Delete(void* self, int32_t index) { L(self).Delete(index); }
  static uint8_t KEL_STDCALL FindRowEnd(void* self, int32_t from, int32_t* index,
                                        uint8_t* isMarker) {
    int32_t i = 0;
    bool marker = false;
    if (!L(self).FindRowEnd(from, i, marker)) return 0;
    if (index) *index = i;
    if (isMarker) *isMarker = marker ? 1 : 0;
    return 1;
  }
  static void KEL_STDCALL AddNewRow(void* self) {
    try {
      L(self).AddNewRow();
    } catch (...) {
    }
  }
  static void KEL_STDCALL AppendRow(void* self, void* sourceWrapper) {
    try {
      // An unknown or missing source is refused: nothing changes.
      if (TkelParamsList* source = ResolveSourceList(sourceWrapper)) L(self).AppendRow(source);
    } catch (...) {
    }
  }

  // ---- status slots
  static uint32_t KEL_STDCALL GetItem(void* self, int32_t index, IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    return Status([&] { *out = TkelParamsListItemWrap::NewRef(L(self).Items(index)); });
  }
  static uint32_t KEL_STDCALL AddList(void* self, void* list, uint8_t* out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = 0;
    return Status([&] {
      if (!list) return;
      TkelParamsList* source = ResolveSourceList(list);
      if (!source) throw EAssertion();
      *out = L(self).AddList(source) ? 1 : 0;
    });
  }
  static uint32_t KEL_STDCALL AddListRange(void* self, void* list, int32_t from, int32_t to,
                                           uint8_t* out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = 0;
    return Status([&] {
      if (!list) return;
      TkelParamsList* source = ResolveSourceList(list);
      if (!source) throw EAssertion();
      *out = L(self).AddListRange(source, from, to) ? 1 : 0;
    });
  }
  static uint32_t KEL_STDCALL FindItem(void* self, const Ch* name, int32_t from, int32_t to,
                                       IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    return Status([&] {
      *out = TkelParamsListItemWrap::NewRef(L(self).FindItem(Fl::Name(name), from, to));
    });
  }
  static uint32_t KEL_STDCALL IndexOf(void* self, const Ch* name, int32_t from, int32_t to,
                                      int32_t* out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = -1;
    return Status([&] { *out = L(self).IndexOf(Fl::Name(name), from, to); });
  }
  static uint32_t KEL_STDCALL GetValue(void* self, const Ch* name, int32_t from, int32_t to,
                                       kel_variant* out) {
    if (!out) return KEL_STATUS_FAIL;
    InitBoundary(out);  // zeroed, not cleared: what the caller left there is not ours
    return Status([&] { L(self).GetValue(Fl::Name(name), from, to).ToBoundary(out); });
  }
  static uint32_t KEL_STDCALL GetValueDef(void* self, const Ch* name, const kel_variant* def,
                                          int32_t from, int32_t to, kel_variant* out) {
    if (!out) return KEL_STATUS_FAIL;
    InitBoundary(out);
    return Status([&] { L(self).GetValueDef(Fl::Name(name), In(def), from, to).ToBoundary(out); });
  }
  static uint32_t KEL_STDCALL Add(void* self, const Ch* name, const kel_variant* value,
                                  IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    return Status(
        [&] { *out = TkelParamsListItemWrap::NewRef(L(self).Add(Fl::Name(name), In(value))); });
  }
  static uint32_t KEL_STDCALL Insert(void* self, int32_t pos, const Ch* name,
                                     const kel_variant* value, IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    return Status([&] {
      *out = TkelParamsListItemWrap::NewRef(L(self).Insert(pos, Fl::Name(name), In(value)));
    });
  }
  static uint32_t KEL_STDCALL SetValue(void* self, const Ch* name, const kel_variant* value,
                                       uint8_t addIfMissing, IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    return Status([&] {
      *out = TkelParamsListItemWrap::NewRef(
          L(self).SetValue(Fl::Name(name), In(value), addIfMissing != 0));
    });
  }
  static uint32_t KEL_STDCALL AddItem(void* self, IkelParamsListItemA* source,
                                      IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    return Status([&] {
      if (!source) throw EAssertion();
      kel_variant raw;
      InitBoundary(&raw);
      const uint32_t rc = Fl::ItemValue(source, &raw);
      Variant value = Variant::FromBoundary(&raw, Fl::kText);
      ClearBoundary(&raw);
      if (rc != 0) throw EIntfCallFailed("IkelParamsListItem.GetValue failed");
      *out = TkelParamsListItemWrap::NewRef(L(self).Add(Fl::ItemName(source), value));
    });
  }
};

template <class Vtbl, class Fl>
constexpr Vtbl MakeTable() {
  using M = ListMethods<Fl>;
  return Vtbl{
      .QueryInterface = &M::QueryInterface,
      .AddRef = &M::AddRef,
      .Release = &M::Release,
      .GetCount = &M::GetCount,
      .GetSignature = &M::GetSignature,
      .GetTag = &M::GetTag,
      .SetTag = &M::SetTag,
      .Clear = &M::Clear,
      .Delete = &M::Delete,
      .FindRowEnd = &M::FindRowEnd,
      .AddNewRow = &M::AddNewRow,
      .AppendRow = &M::AppendRow,
      .GetItem = &M::GetItem,
      .AddList = &M::AddList,
      .AddListRange = &M::AddListRange,
      .FindItem = &M::FindItem,
      .IndexOf = &M::IndexOf,
      .GetValue = &M::GetValue,
      .GetValueDef = &M::GetValueDef,
      .Add = &M::Add,
      .Insert = &M::Insert,
      .SetValue = &M::SetValue,
      .AddItem = &M::AddItem,
  };
}

}  // namespace

const IkelParamsListAVtbl kListAVtbl = MakeTable<IkelParamsListAVtbl, FlavourA>();
const IkelParamsListWVtbl kListWVtbl = MakeTable<IkelParamsListWVtbl, FlavourW>();

}  // namespace kel
