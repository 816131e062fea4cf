#include "params/params_item_wrap.h"

#include <string_view>

#include "params/intf_guids.h"
#include "platform/port.h"
#include "runtime/variant.h"

namespace kel {

namespace {

TkelParamsListItemWrap* Self(void* self) { return static_cast<TkelParamsListItemWrap*>(self); }

// The item interface returns an empty text as a null pointer.
const char* TextOrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

std::u16string WideText(const char16_t* p) {
  return p ? std::u16string(p, std::char_traits<char16_t>::length(p)) : std::u16string();
}

}  // namespace

struct ItemWrapMethods {
  static TkelParamsListItem* Item(void* self) { return Self(self)->item_; }

  static uint32_t KEL_STDCALL QueryInterface(void* self, const kel_guid* iid, void** out) {
    if (!out) return KEL_E_POINTER;
    *out = nullptr;
    if (!iid || !(SameGuid(*iid, kIidItemA) || SameGuid(*iid, kIidItemW)))
      return KEL_E_NOINTERFACE;
    Self(self)->AddRef();
    *out = self;
    return 0;
  }
  static uint32_t KEL_STDCALL AddRef(void* self) { return Self(self)->AddRef(); }
  static uint32_t KEL_STDCALL Release(void* self) { return Self(self)->Release(); }

  static void KEL_STDCALL SetKey(void* self, const char* key) {
    try {
      Self(self)->key_ = key ? key : "";
    } catch (...) {
    }
  }
  static void KEL_STDCALL SetDataType(void* self, int32_t type) { Item(self)->DataType = type; }
  static void KEL_STDCALL SetState(void* self, uint8_t state) { Item(self)->State = state; }
  static const char* KEL_STDCALL GetKey(void* self) { return TextOrNull(Self(self)->key_); }
  static int32_t KEL_STDCALL GetDataType(void* self) { return Item(self)->DataType; }
  static uint8_t KEL_STDCALL GetState(void* self) { return Item(self)->State; }

  static uint32_t SetValueAs(void* self, const kel_variant* value, TextFlavour flavour) {
    try {
      Item(self)->SetValue(Variant::FromBoundary(value, flavour));
      return 0;
    } catch (...) {
      return KEL_STATUS_FAIL;
    }
  }
  static uint32_t KEL_STDCALL SetValue(void* self, const kel_variant* value) {
    return SetValueAs(self, value, TextFlavour::Ansi);
  }
  static uint32_t KEL_STDCALL SetValueW(void* self, const kel_variant* value) {
    return SetValueAs(self, value, TextFlavour::Wide);
  }
  static uint32_t KEL_STDCALL GetValue(void* self, kel_variant* out) {
    if (!out) return KEL_STATUS_FAIL;
    InitBoundary(out);  // zeroed, not cleared: what the caller left there is not ours
    try {
      Item(self)->Value().ToBoundary(out);
      return 0;
    } catch (...) {
      ClearBoundary(out);
      return KEL_STATUS_FAIL;
    }
  }

  static void KEL_STDCALL SetName(void* self, const char* name) {
    try {
      Item(self)->Name = name ? name : "";
      Self(self)->CopyName();
    } catch (...) {
    }
  }
  static const char* KEL_STDCALL GetName(void* self) { return TextOrNull(Self(self)->name_); }
  static uint8_t KEL_STDCALL IsNewRow(void* self) { return Item(self)->IsNewRow() ? 1 : 0; }

  static void KEL_STDCALL SetNameW(void* self, const char16_t* name) {
    try {
      Item(self)->Name = port::Utf16ToAnsi(WideText(name));
      Self(self)->CopyName();
    } catch (...) {
    }
  }
  static const char16_t* KEL_STDCALL GetNameW(void* self) {
    const std::u16string& s = Self(self)->nameW_;
    return s.empty() ? nullptr : s.c_str();
  }
};

namespace {

const IkelParamsListItemVtbl kItemVtbl = {
    .QueryInterface = &ItemWrapMethods::QueryInterface,
    .AddRef = &ItemWrapMethods::AddRef,
    .Release = &ItemWrapMethods::Release,
    .SetKey = &ItemWrapMethods::SetKey,
    .SetDataType = &ItemWrapMethods::SetDataType,
    .SetState = &ItemWrapMethods::SetState,
    .GetKey = &ItemWrapMethods::GetKey,
    .GetDataType = &ItemWrapMethods::GetDataType,
    .GetState = &ItemWrapMethods::GetState,
    .SetValue = &ItemWrapMethods::SetValue,
    .GetValue = &ItemWrapMethods::GetValue,
    .SetName = &ItemWrapMethods::SetName,
    .GetName = &ItemWrapMethods::GetName,
    .IsNewRow = &ItemWrapMethods::IsNewRow,
    .SetNameW = &ItemWrapMethods::SetNameW,
    .GetNameW = &ItemWrapMethods::GetNameW,
    .SetValueW = &ItemWrapMethods::SetValueW,
    .GetValueW = &ItemWrapMethods::GetValue,
};

}  // namespace

TkelParamsListItemWrap::TkelParamsListItemWrap(TkelParamsListItem* item)
    : vtbl_(&kItemVtbl), item_(item) {
  CopyName();
}

void TkelParamsListItemWrap::CopyName() {
  name_ = item_->Name;
  nameW_ = port::AnsiToUtf16(name_);
  key_ = BoundaryKey(name_);
}

IkelParamsListItemA* TkelParamsListItemWrap::NewRef(TkelParamsListItem* item) {
  if (!item) return nullptr;
  auto* w = new TkelParamsListItemWrap(item);
  w->AddRef();
  return w->Intf();
}

TkelParamsListItemWrap* TkelParamsListItemWrap::FromInterface(const void* p) {
  const void* table = nullptr;
  if (!p || !port::SafeRead(p, &table, sizeof table) || table != &kItemVtbl) return nullptr;
  return static_cast<TkelParamsListItemWrap*>(const_cast<void*>(p));
}

uint32_t TkelParamsListItemWrap::AddRef() {
  return static_cast<uint32_t>(refs_.fetch_add(1, std::memory_order_acq_rel) + 1);
}

uint32_t TkelParamsListItemWrap::Release() {
  const int32_t n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) delete this;
  return static_cast<uint32_t>(n);
}

}  // namespace kel
