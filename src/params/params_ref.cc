#include "params/params_ref.h"

#include <utility>

namespace kel {

namespace {

// A counted item reference, released on scope exit.
class ItemRef {
 public:
  ItemRef() = default;
  ~ItemRef() {
    if (p_) p_->vtbl->Release(p_);
  }
  ItemRef(const ItemRef&) = delete;
  ItemRef& operator=(const ItemRef&) = delete;
  IkelParamsListItemA** out() { return &p_; }
  IkelParamsListItemA* get() const { return p_; }

 private:
  IkelParamsListItemA* p_ = nullptr;
};

// Takes the value out of a boundary variant and clears it.
Variant Take(kel_variant* raw) {
  Variant v = Variant::FromBoundary(raw, TextFlavour::Ansi);
  ClearBoundary(raw);
  return v;
}

}  // namespace

ParamsRef::ParamsRef(IkelParamsListA* p, bool adopt) : p_(p) {
  if (p_ && !adopt) p_->vtbl->AddRef(p_);
}
ParamsRef::ParamsRef(const ParamsRef& o) : p_(o.p_) {
  if (p_) p_->vtbl->AddRef(p_);
}
ParamsRef::ParamsRef(ParamsRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
ParamsRef& ParamsRef::operator=(ParamsRef o) noexcept {
  std::swap(p_, o.p_);
  return *this;
}
ParamsRef::~ParamsRef() { reset(); }

void ParamsRef::reset() {
  if (IkelParamsListA* p = std::exchange(p_, nullptr)) p->vtbl->Release(p);
}

IkelParamsListA* ParamsRef::detach() { return std::exchange(p_, nullptr); }

int32_t ParamsRef::Count() const { return p_ ? p_->vtbl->GetCount(p_) : 0; }

int32_t ParamsRef::IndexOf(std::string_view name, int32_t from, int32_t to) const {
  if (!p_) return -1;
  const std::string n(name);
  int32_t index = -1;
  if (p_->vtbl->IndexOf(p_, n.c_str(), from, to, &index) != 0) return -1;
  return index;
}

Variant ParamsRef::GetValue(std::string_view name) const {
  if (!p_) return Variant();
  const std::string n(name);
  kel_variant raw;
  InitBoundary(&raw);
  const uint32_t rc = p_->vtbl->GetValue(p_, n.c_str(), 0, -1, &raw);
  Variant v = Take(&raw);
  return rc == 0 ? v : Variant();
}

bool ParamsRef::SetValue(std::string_view name, const Variant& value, bool addIfMissing) const {
  if (!p_) return false;
  const std::string n(name);
  kel_variant raw;
  value.ToBoundary(&raw);
  ItemRef item;
  const uint32_t rc = p_->vtbl->SetValue(p_, n.c_str(), &raw, addIfMissing ? 1 : 0, item.out());
  ClearBoundary(&raw);
  return rc == 0 && item.get();
}

bool ParamsRef::Add(std::string_view name, const Variant& value) const {
  if (!p_) return false;
  const std::string n(name);
  kel_variant raw;
  value.ToBoundary(&raw);
  ItemRef item;
  const uint32_t rc = p_->vtbl->Add(p_, n.c_str(), &raw, item.out());
  ClearBoundary(&raw);
  return rc == 0 && item.get();
}

void ParamsRef::AddNewRow() const {
  if (p_) p_->vtbl->AddNewRow(p_);
}

void ParamsRef::Clear() const {
  if (p_) p_->vtbl->Clear(p_);
}

#define KEL_WITH_ITEM(index, fallback)                                       \
  ItemRef item;                                                              \
  if (!p_ || p_->vtbl->GetItem(p_, index, item.out()) != 0 || !item.get()) \
    return fallback;                                                         \
  IkelParamsListItemA* it = item.get()

std::string ParamsRef::ItemName(int32_t index) const {
  KEL_WITH_ITEM(index, std::string());
  const char* s = it->vtbl->GetName(it);
  return s ? s : "";
}

std::string ParamsRef::ItemKey(int32_t index) const {
  KEL_WITH_ITEM(index, std::string());
  const char* s = it->vtbl->GetKey(it);
  return s ? s : "";
}

Variant ParamsRef::ItemValue(int32_t index) const {
  KEL_WITH_ITEM(index, Variant());
  kel_variant raw;
  InitBoundary(&raw);
  const uint32_t rc = it->vtbl->GetValue(it, &raw);
  Variant v = Take(&raw);
  return rc == 0 ? v : Variant();
}

int32_t ParamsRef::ItemDataType(int32_t index) const {
  KEL_WITH_ITEM(index, 0);
  return it->vtbl->GetDataType(it);
}

uint8_t ParamsRef::ItemState(int32_t index) const {
  KEL_WITH_ITEM(index, 0);
  return it->vtbl->GetState(it);
}

bool ParamsRef::ItemIsNewRow(int32_t index) const {
  KEL_WITH_ITEM(index, false);
  return it->vtbl->IsNewRow(it) != 0;
}

#undef KEL_WITH_ITEM

}  // namespace kel
