#include "params/params_list.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "runtime/errors.h"
#include "platform/port.h"

namespace kel {

namespace {

bool IsBlank(std::string_view name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) > 32) return false;
  return true;
}

}  // namespace

TkelParamsList::TkelParamsList() = default;

TkelParamsList::~TkelParamsList() {
  signature_ = 0;
  Clear();
  std::free(items_);
}

void TkelParamsList::CheckSignature(const TkelParamsList* list) {
  if (!list || list->signature_ != kParamsListSignature) throw EAssertion();
}

TkelParamsListItem* TkelParamsList::Items(int32_t index) const {
  if (index < 0 || index >= count_) return nullptr;
  return items_[index];
}

void TkelParamsList::Clear() {
  while (count_ > 0) {
    TkelParamsListItem* item = items_[--count_];
    items_[count_] = nullptr;
    delete item;
  }
}

void TkelParamsList::Delete(int32_t index) {
  if (index < 0 || index >= count_) return;
  TkelParamsListItem* item = items_[index];
  std::memmove(items_ + index, items_ + index + 1,
               sizeof(TkelParamsListItem*) * static_cast<size_t>(count_ - index - 1));
  items_[--count_] = nullptr;
  delete item;
}

void TkelParamsList::Grow(bool always) {
  if (!always && count_ < capacity_) return;
  int32_t cap = capacity_ < 4 ? 8 : capacity_ < 64 ? capacity_ * 2 : capacity_ + capacity_ / 2;
  void* p = std::realloc(items_, sizeof(TkelParamsListItem*) * static_cast<size_t>(cap));
  if (!p) throw std::bad_alloc();
  items_ = static_cast<TkelParamsListItem**>(p);
  capacity_ = cap;
}

TkelParamsListItem* TkelParamsList::Append(TkelParamsListItem* item) {
  return InsertAt(count_, item);
}

TkelParamsListItem* TkelParamsList::InsertAt(int32_t index, TkelParamsListItem* item) {
  std::unique_ptr<TkelParamsListItem> owned(item);
  Grow();
  if (index < count_)
    std::memmove(items_ + index + 1, items_ + index,
                 sizeof(TkelParamsListItem*) * static_cast<size_t>(count_ - index));
  items_[index] = owned.release();
  ++count_;
  return item;
}

int32_t TkelParamsList::IndexOf(std::string_view name, int32_t from, int32_t to) const {
  CheckSignature(this);
  if (count_ == 0) return -1;
  const std::string key = port::AnsiLower(name);
  const int32_t start = from < 0 ? 0 : from;
  const int32_t stop = (to < 0 || to >= count_) ? count_ - 1 : to;
  const bool rowOnly = to == -2;
  for (int32_t i = start; i <= stop; ++i) {
    const TkelParamsListItem* item = items_[i];
    if (item->Key == key) return i;
    if (rowOnly && item->IsNewRow()) return -1;
  }
  return -1;
}

TkelParamsListItem* TkelParamsList::FindItem(std::string_view name, int32_t from,
                                             int32_t to) const {
  if (count_ == 0) return nullptr;
  return Items(IndexOf(name, from, to));
}

Variant TkelParamsList::GetValue(std::string_view name, int32_t from, int32_t to) const {
  const TkelParamsListItem* item = FindItem(name, from, to);
  return item ? item->Value() : Variant();
}

Variant TkelParamsList::GetValueDef(std::string_view name, const Variant& def, int32_t from,
                                    int32_t to) const {
  const TkelParamsListItem* item = FindItem(name, from, to);
  return item ? item->Value() : def;
}

TkelParamsListItem* TkelParamsList::Add(std::string_view name, const Variant& value) {
  if (IsBlank(name)) return nullptr;
  auto* item = new TkelParamsListItem(name, value);
  item->State = 2;
  return Append(item);
}

TkelParamsListItem* TkelParamsList::AddKeyed(std::string_view name, std::string_view key,
                                             const Variant& value) {
  if (IsBlank(name)) return nullptr;
  // A key that cannot be the name's (none was made) is made here.
  auto* item = key.size() == name.size() ? new TkelParamsListItem(name, key, value)
                                         : new TkelParamsListItem(name, value);
  item->State = 2;
  return Append(item);
}

TkelParamsListItem* TkelParamsList::AddKeyed(std::string_view name, std::string_view key, Variant&& value) {
  if (IsBlank(name)) return nullptr;
  auto* item = key.size() == name.size() ? new TkelParamsListItem(name, key, std::move(value))
                                         : new TkelParamsListItem(name, value);
  item->State = 2;
  return Append(item);
}

TkelParamsListItem* TkelParamsList::Insert(int32_t index, std::string_view name,
                                           const Variant& value) {
  if (IsBlank(name)) return nullptr;
  if (index < 0 || index > count_)
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  auto* item = new TkelParamsListItem(name, value);
  item->State = 2;
  return InsertAt(index, item);
}

TkelParamsListItem* TkelParamsList::SetValue(std::string_view name, const Variant& value,
                                             bool addIfMissing) {
  TkelParamsListItem* item = FindItem(name);
  if (!item && addIfMissing) item = Add(name, Variant::Null());
  if (item) item->SetValue(value);
  return item;
}

TkelParamsListItem* TkelParamsList::AddItem(const TkelParamsListItem* source) {
  if (!source || IsBlank(source->Name)) return nullptr;
  // The value is in its stored form already, and the key made.
  return Append(new TkelParamsListItem(*source));
}

TkelParamsListItem* TkelParamsList::AddItemFrom(IkelParamsListItemA* source) {
  if (!source) return nullptr;
  const IkelParamsListItemVtbl* v = source->vtbl;
  const char* name = v->GetName(source);
  kel_variant raw;
  InitBoundary(&raw);
  if (v->GetValue(source, &raw) != 0) {
    ClearBoundary(&raw);
    throw EIntfCallFailed("IkelParamsListItem.GetValue failed");
  }
  Variant value = Variant::FromBoundary(&raw, TextFlavour::Ansi);
  ClearBoundary(&raw);
  TkelParamsListItem* item = Add(name ? name : "", value);
  if (!item) return nullptr;
  const char* key = v->GetKey(source);
  item->Key = key ? key : "";
  item->DataType = v->GetDataType(source);
  item->State = v->GetState(source);
  return item;
}

bool TkelParamsList::AddList(const TkelParamsList* source) {
  if (!source) return false;
  CheckSignature(source);
  if (source->count_ == 0) return false;
  const int32_t n = source->count_;  // fixed before appending: a list may add itself
  for (int32_t i = 0; i < n; ++i) AddItem(source->items_[i]);
  return true;
}

bool TkelParamsList::AddListRange(const TkelParamsList* source, int32_t from, int32_t to) {
  if (!source) return false;
  CheckSignature(source);
  const int32_t n = source->count_;
  if (n == 0) return false;
  if (from < 0) from = 0;
  if (to < 0 || to >= n) to = n - 1;
  for (int32_t i = from; i <= to; ++i) AddItem(source->items_[i]);
  return true;
}

void TkelParamsList::Reserve(int32_t n) {
  if (n <= capacity_) return;
  void* p = std::realloc(items_, sizeof(TkelParamsListItem*) * static_cast<size_t>(n));
  if (!p) throw std::bad_alloc();
  items_ = static_cast<TkelParamsListItem**>(p);
  capacity_ = n;
}

void TkelParamsList::TakeItems(TkelParamsList& source) {
  CheckSignature(&source);
  if (&source == this || source.count_ == 0) return;
  if (count_ == 0 && capacity_ < source.count_) {
    std::swap(items_, source.items_);
    std::swap(count_, source.count_);
    std::swap(capacity_, source.capacity_);
    return;
  }
  while (capacity_ < count_ + source.count_) Grow(true);
  std::memcpy(items_ + count_, source.items_, sizeof(TkelParamsListItem*) * static_cast<size_t>(source.count_));
  count_ += source.count_;
  source.count_ = 0;
}

bool TkelParamsList::FindRowEnd(int32_t from, int32_t& index, bool& isMarker) const {
  for (int32_t i = from < 0 ? 0 : from; i < count_; ++i) {
    const bool marker = items_[i]->IsNewRow();
    if (marker || i == count_ - 1) {
      index = i;
      isMarker = marker;
      return true;
    }
  }
  return false;
}

void TkelParamsList::AddNewRow() {
  if (count_ > 0 && items_[count_ - 1]->IsNewRow()) return;
  auto* item = new TkelParamsListItem(kRowMarkerName, Variant::Null());
  item->DataType = kRowMarkerType;
  item->State = 2;
  Append(item);
}

void TkelParamsList::AppendRow(const TkelParamsList* source) {
  if (!source) return;
  CheckSignature(source);
  const bool closed = source->count_ > 0 && source->items_[source->count_ - 1]->IsNewRow();
  AddList(source);
  if (!closed) AddNewRow();
}

Variant TkelParamsList::GetDefinedValue(std::string_view name) const {
  const TkelParamsListItem* item = FindItem(name);
  if (!item) throw EAssertion("Parameter is not defined");
  return item->Value();
}

void TkelParamsList::SetDefinedValue(std::string_view name, const Variant& value) {
  TkelParamsListItem* item = FindItem(name);
  if (!item) throw EAssertion("Parameter is not defined");
  item->SetValue(value);
}

}  // namespace kel
