#include "host_params.h"

#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "platform/port.h"

namespace host {

namespace {

bool SameGuid(const kel_guid* a, const kel_guid& b) {
  return a && std::memcmp(a, &b, sizeof b) == 0;
}

const kel_guid kIidListA = KEL_IID_LIST_A;
const kel_guid kIidItemA = KEL_IID_ITEM_A;
const kel_guid kIidUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// OLE strings of the system (SysAllocStringLen on Windows), which the
// module frees and measures as its own.
kel_bstr AllocBstr(const std::u16string& s) {
  return port::SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
}

uint32_t BstrLen(const char16_t* b) { return port::SysStringLen(b); }

// ---- Item interface -------------------------------------------------------

struct HostItemRef {
  IkelParamsListItemA intf;
  int32_t refs;
  std::shared_ptr<HostItem> item;
};

HostItemRef* ItemOf(void* self) { return static_cast<HostItemRef*>(self); }

uint32_t KEL_STDCALL ItemQI(void* self, const kel_guid* iid, void** out) {
  if (!out) return KEL_E_NOINTERFACE;
  *out = nullptr;
  if (SameGuid(iid, kIidItemA) || SameGuid(iid, kIidUnknown)) {
    ++ItemOf(self)->refs;
    *out = self;
    return 0;
  }
  return KEL_E_NOINTERFACE;
}
uint32_t KEL_STDCALL ItemAddRef(void* self) { return static_cast<uint32_t>(++ItemOf(self)->refs); }
uint32_t KEL_STDCALL ItemRelease(void* self) {
  int32_t n = --ItemOf(self)->refs;
  if (n == 0) delete ItemOf(self);
  return static_cast<uint32_t>(n);
}
void KEL_STDCALL ItemSetKey(void* self, const char* key) { ItemOf(self)->item->key = key ? key : ""; }
void KEL_STDCALL ItemSetDataType(void* self, int32_t t) { ItemOf(self)->item->dataType = t; }
void KEL_STDCALL ItemSetState(void* self, uint8_t s) { ItemOf(self)->item->state = s; }
const char* KEL_STDCALL ItemGetKey(void* self) {
  const std::string& k = ItemOf(self)->item->key;
  return k.empty() ? nullptr : k.c_str();
}
int32_t KEL_STDCALL ItemGetDataType(void* self) { return ItemOf(self)->item->dataType; }
uint8_t KEL_STDCALL ItemGetState(void* self) { return ItemOf(self)->item->state; }
uint32_t KEL_STDCALL ItemSetValue(void* self, const kel_variant* v) {
  ItemOf(self)->item->value = HostValue::FromVariant(v);
  return 0;
}
uint32_t KEL_STDCALL ItemGetValue(void* self, kel_variant* out) {
  if (!out) return KEL_STATUS_FAIL;
  ItemOf(self)->item->value.ToVariant(out);
  return 0;
}
void KEL_STDCALL ItemSetName(void* self, const char* name) { ItemOf(self)->item->name = name ? name : ""; }
const char* KEL_STDCALL ItemGetName(void* self) {
  const std::string& n = ItemOf(self)->item->name;
  return n.empty() ? nullptr : n.c_str();
}
uint8_t KEL_STDCALL ItemIsNewRow(void* self) { return ItemOf(self)->item->dataType == KEL_ROW_MARKER_TYPE; }

const IkelParamsListItemVtbl kItemVtbl = {ItemQI,        ItemAddRef,   ItemRelease,     ItemSetKey,
                                          ItemSetDataType, ItemSetState, ItemGetKey,      ItemGetDataType,
                                          ItemGetState,  ItemSetValue, ItemGetValue,    ItemSetName,
                                          ItemGetName,   ItemIsNewRow, nullptr,         nullptr,
                                          nullptr,       nullptr};

IkelParamsListItemA* NewItemRef(const std::shared_ptr<HostItem>& item) {
  auto* r = new HostItemRef{{&kItemVtbl}, 1, item};
  return &r->intf;
}

}  // namespace

// ---- List interface ---------------------------------------------------------

struct ListMethods {
  static HostParamsList* L(void* self) { return reinterpret_cast<HostParamsList*>(self); }

  static uint32_t KEL_STDCALL QI(void* self, const kel_guid* iid, void** out) {
    if (!out) return KEL_E_NOINTERFACE;
    *out = nullptr;
    if (SameGuid(iid, kIidListA) || SameGuid(iid, kIidUnknown)) {
      L(self)->AddRef();
      *out = self;
      return 0;
    }
    return KEL_E_NOINTERFACE;
  }
  static uint32_t KEL_STDCALL AddRef(void* self) { return L(self)->AddRef(); }
  static uint32_t KEL_STDCALL Release(void* self) { return L(self)->Release(); }
  static int32_t KEL_STDCALL GetCount(void* self) { return static_cast<int32_t>(L(self)->items_.size()); }
  static uint32_t KEL_STDCALL GetSignature(void*) { return 0; }
  static int32_t KEL_STDCALL GetTag(void* self) { return L(self)->tag_; }
  static void KEL_STDCALL SetTag(void* self, int32_t t) { L(self)->tag_ = t; }
  static void KEL_STDCALL Clear(void* self) { L(self)->items_.clear(); }
  static void KEL_STDCALL Delete(void* self, int32_t i) {
    auto& v = L(self)->items_;
    if (i >= 0 && i < static_cast<int32_t>(v.size())) v.erase(v.begin() + i);
  }
  static uint8_t KEL_STDCALL FindRowEnd(void* self, int32_t from, int32_t* index, uint8_t* isMarker) {
    auto& v = L(self)->items_;
    for (int32_t i = from < 0 ? 0 : from; i < static_cast<int32_t>(v.size()); ++i) {
      bool m = v[static_cast<size_t>(i)]->dataType == KEL_ROW_MARKER_TYPE;
      if (m || i + 1 == static_cast<int32_t>(v.size())) {
        if (index) *index = i;
        if (isMarker) *isMarker = m;
        return 1;
      }
    }
    return 0;
  }
  static void KEL_STDCALL AddNewRow(void* self) {
    auto& v = L(self)->items_;
    if (!v.empty() && v.back()->dataType == KEL_ROW_MARKER_TYPE) return;
    auto item = std::make_shared<HostItem>();
    item->name = "$NEW_ROW$";
    item->key = "$new_row$";
    item->dataType = KEL_ROW_MARKER_TYPE;
    item->state = 2;
    item->value.vt = KEL_VT_NULL;
    v.push_back(item);
  }
  static void KEL_STDCALL AppendRow(void*, void*) {}
  static uint32_t KEL_STDCALL GetItem(void* self, int32_t i, IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    auto& v = L(self)->items_;
    if (i >= 0 && i < static_cast<int32_t>(v.size())) *out = NewItemRef(v[static_cast<size_t>(i)]);
    return 0;
  }
  static uint32_t KEL_STDCALL AddList(void*, void*, uint8_t* out) {
    if (out) *out = 0;
    return KEL_STATUS_FAIL;
  }
  static uint32_t KEL_STDCALL AddListRange(void*, void*, int32_t, int32_t, uint8_t* out) {
    if (out) *out = 0;
    return KEL_STATUS_FAIL;
  }
  static uint32_t KEL_STDCALL FindItem(void* self, const char* name, int32_t from, int32_t to,
                                       IkelParamsListItemA** out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = nullptr;
    int32_t i = L(self)->IndexOf(name, from, to);
    if (i >= 0) *out = NewItemRef(L(self)->items_[static_cast<size_t>(i)]);
    return 0;
  }
  static uint32_t KEL_STDCALL IndexOf(void* self, const char* name, int32_t from, int32_t to, int32_t* out) {
    if (!out) return KEL_STATUS_FAIL;
    *out = L(self)->IndexOf(name, from, to);
    return 0;
  }
  static uint32_t KEL_STDCALL GetValue(void* self, const char* name, int32_t from, int32_t to, kel_variant* out) {
    if (!out) return KEL_STATUS_FAIL;
    std::memset(out, 0, sizeof *out);
    int32_t i = L(self)->IndexOf(name, from, to);
    if (i >= 0) L(self)->items_[static_cast<size_t>(i)]->value.ToVariant(out);
    return 0;
  }
  static uint32_t KEL_STDCALL GetValueDef(void* self, const char* name, const kel_variant* def, int32_t from,
                                          int32_t to, kel_variant* out) {
    if (!out) return KEL_STATUS_FAIL;
    std::memset(out, 0, sizeof *out);
    int32_t i = L(self)->IndexOf(name, from, to);
    if (i >= 0) L(self)->items_[static_cast<size_t>(i)]->value.ToVariant(out);
    else HostValue::FromVariant(def).ToVariant(out);
    return 0;
  }
  static uint32_t KEL_STDCALL Add(void* self, const char* name, const kel_variant* value,
                                  IkelParamsListItemA** out) {
    return Insert(self, static_cast<int32_t>(L(self)->items_.size()), name, value, out);
  }
  // A blank name adds nothing and gives no item, as in the module's lists.
  static uint32_t KEL_STDCALL Insert(void* self, int32_t pos, const char* name, const kel_variant* value,
                                     IkelParamsListItemA** out) {
    if (out) *out = nullptr;
    auto& v = L(self)->items_;
    if (pos < 0 || pos > static_cast<int32_t>(v.size())) return KEL_STATUS_FAIL;
    std::string n = name ? name : "";
    if (n.find_first_not_of(" \t\r\n") == std::string::npos) return 0;
    auto item = std::make_shared<HostItem>();
    item->name = n;
    item->key = Lower(n);
    item->state = 2;
    item->value = HostValue::FromVariant(value);
    v.insert(v.begin() + pos, item);
    if (out) *out = NewItemRef(item);
    return 0;
  }
  static uint32_t KEL_STDCALL SetValue(void* self, const char* name, const kel_variant* value, uint8_t addIfMissing,
                                       IkelParamsListItemA** out) {
    if (out) *out = nullptr;
    int32_t i = L(self)->IndexOf(name, 0, -1);
    if (i < 0) {
      if (!addIfMissing) return 0;
      kel_variant null{};
      null.vt = KEL_VT_NULL;
      IkelParamsListItemA* added = nullptr;
      Add(self, name, &null, &added);
      if (!added) return 0;
      ItemRelease(added);
      i = static_cast<int32_t>(L(self)->items_.size()) - 1;
    }
    auto& item = L(self)->items_[static_cast<size_t>(i)];
    item->value = HostValue::FromVariant(value);
    if (out) *out = NewItemRef(item);
    return 0;
  }
  static uint32_t KEL_STDCALL AddItem(void* self, IkelParamsListItemA* source, IkelParamsListItemA** out) {
    if (out) *out = nullptr;
    if (!source) return KEL_STATUS_FAIL;
    kel_variant v{};
    source->vtbl->GetValue(source, &v);
    uint32_t r = Add(self, source->vtbl->GetName(source), &v, out);
    if (v.vt == KEL_VT_BSTR && v.u.bstr) port::SysFreeString(v.u.bstr);
    return r;
  }
};

namespace {
const IkelParamsListAVtbl kListVtbl = {
    ListMethods::QI,        ListMethods::AddRef,      ListMethods::Release,   ListMethods::GetCount,
    ListMethods::GetSignature, ListMethods::GetTag,   ListMethods::SetTag,    ListMethods::Clear,
    ListMethods::Delete,    ListMethods::FindRowEnd,  ListMethods::AddNewRow, ListMethods::AppendRow,
    ListMethods::GetItem,   ListMethods::AddList,     ListMethods::AddListRange, ListMethods::FindItem,
    ListMethods::IndexOf,   ListMethods::GetValue,    ListMethods::GetValueDef, ListMethods::Add,
    ListMethods::Insert,    ListMethods::SetValue,    ListMethods::AddItem};
}  // namespace

HostParamsList::HostParamsList() { intf_.vtbl = &kListVtbl; }

HostParamsList* HostParamsList::Create() { return new HostParamsList(); }

uint32_t HostParamsList::AddRef() { return static_cast<uint32_t>(++refs_); }
uint32_t HostParamsList::Release() {
  int32_t n = --refs_;
  if (n == 0) delete this;
  return static_cast<uint32_t>(n);
}

int32_t HostParamsList::IndexOf(const char* name, int32_t from, int32_t to) const {
  std::string key = Lower(name ? name : "");
  int32_t n = static_cast<int32_t>(items_.size());
  int32_t stop = (to < 0 || to >= n) ? n - 1 : to;
  for (int32_t i = from < 0 ? 0 : from; i <= stop; ++i) {
    if (items_[static_cast<size_t>(i)]->key == key) return i;
    if (to == -2 && items_[static_cast<size_t>(i)]->dataType == KEL_ROW_MARKER_TYPE) return -1;
  }
  return -1;
}

void HostParamsList::Set(const std::string& name, const HostValue& v) {
  int32_t i = IndexOf(name.c_str(), 0, -1);
  if (i >= 0) {
    items_[static_cast<size_t>(i)]->value = v;
    return;
  }
  auto item = std::make_shared<HostItem>();
  item->name = name;
  item->key = Lower(name);
  item->state = 2;
  item->value = v;
  items_.push_back(item);
}

void HostParamsList::SetText(const std::string& name, const std::string& utf8) {
  HostValue v;
  v.vt = KEL_VT_BSTR;
  v.text = Utf8To16(utf8);
  Set(name, v);
}

void HostParamsList::SetInt(const std::string& name, int32_t value) {
  HostValue v;
  v.vt = KEL_VT_I4;
  v.i = value;
  Set(name, v);
}

const HostItem* HostParamsList::Find(const std::string& name) const {
  int32_t i = IndexOf(name.c_str(), 0, -1);
  return i >= 0 ? items_[static_cast<size_t>(i)].get() : nullptr;
}

// ---- Values -----------------------------------------------------------------

HostValue HostValue::FromVariant(const kel_variant* v) {
  HostValue r;
  if (!v) return r;
  r.vt = v->vt;
  switch (v->vt) {
    case KEL_VT_I1: r.i = v->u.i1; break;
    case KEL_VT_I2: r.i = v->u.i2; break;
    case KEL_VT_I4: r.i = v->u.i4; break;
    case KEL_VT_I8: r.i = v->u.i8; break;
    case KEL_VT_UI1: r.i = v->u.ui1; break;
    case KEL_VT_UI2: r.i = v->u.ui2; break;
    case KEL_VT_UI4: r.i = v->u.ui4; break;
    case KEL_VT_UI8: r.i = static_cast<int64_t>(v->u.ui8); break;
    case KEL_VT_BOOL: r.i = v->u.boolean ? 1 : 0; break;
    case KEL_VT_CY: r.i = v->u.cy; break;
    case KEL_VT_R4: r.d = v->u.r4; break;
    case KEL_VT_R8: r.d = v->u.r8; break;
    case KEL_VT_DATE: r.d = v->u.date; break;
    case KEL_VT_BSTR:
      if (v->u.bstr) r.text.assign(v->u.bstr, BstrLen(v->u.bstr));
      break;
    case KEL_VT_ANSI_PTR:
      r.vt = KEL_VT_BSTR;
      if (v->u.ansi_ptr) r.text = Utf8To16(v->u.ansi_ptr);
      break;
    case KEL_VT_WIDE_PTR:
      r.vt = KEL_VT_BSTR;
      if (v->u.wide_ptr) r.text = v->u.wide_ptr;
      break;
    default: break;
  }
  return r;
}

void HostValue::ToVariant(kel_variant* out) const {
  std::memset(out, 0, sizeof *out);
  out->vt = vt;
  switch (vt) {
    case KEL_VT_I1: out->u.i1 = static_cast<int8_t>(i); break;
    case KEL_VT_I2: out->u.i2 = static_cast<int16_t>(i); break;
    case KEL_VT_I4: out->u.i4 = static_cast<int32_t>(i); break;
    case KEL_VT_I8: out->u.i8 = i; break;
    case KEL_VT_UI1: out->u.ui1 = static_cast<uint8_t>(i); break;
    case KEL_VT_UI2: out->u.ui2 = static_cast<uint16_t>(i); break;
    case KEL_VT_UI4: out->u.ui4 = static_cast<uint32_t>(i); break;
    case KEL_VT_UI8: out->u.ui8 = static_cast<uint64_t>(i); break;
    case KEL_VT_BOOL: out->u.boolean = i ? -1 : 0; break;
    case KEL_VT_CY: out->u.cy = i; break;
    case KEL_VT_R4: out->u.r4 = static_cast<float>(d); break;
    case KEL_VT_R8: out->u.r8 = d; break;
    case KEL_VT_DATE: out->u.date = d; break;
    case KEL_VT_BSTR: out->u.bstr = AllocBstr(text); break;
    default: break;
  }
}

std::string HostValue::ToText() const {
  switch (vt) {
    case KEL_VT_EMPTY: return "";
    case KEL_VT_NULL: return "(null)";
    case KEL_VT_BSTR: return Utf16To8(text);
    case KEL_VT_BOOL: return i ? "True" : "False";
    case KEL_VT_R4:
    case KEL_VT_R8:
    case KEL_VT_DATE: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.10g", d);
      return buf;
    }
    default: return std::to_string(i);
  }
}

int64_t HostValue::ToInt() const {
  if (vt == KEL_VT_BSTR) return std::strtoll(Utf16To8(text).c_str(), nullptr, 10);
  if (vt == KEL_VT_R4 || vt == KEL_VT_R8) return static_cast<int64_t>(d);
  return i;
}

std::u16string Utf8To16(const std::string& s) { return port::Utf8ToUtf16(s); }
std::string Utf16To8(const std::u16string& s) { return port::Utf16ToUtf8(s); }

}  // namespace host
