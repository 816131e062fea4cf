#include "params/params_list_item.h"

#include "platform/port.h"

namespace kel {

Variant StoredForm(const Variant& value) {
  if (value.Type() == VarType::String) return Variant::FromOleStr(port::AnsiToUtf16(value.RawString()));
  return value;
}

std::string BoundaryKey(std::string_view name) {
  std::string lowered(name);
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return port::Utf16ToUtf8(port::AnsiToUtf16(lowered));
}

const std::string& BoundaryKey(const TkelParamsListItem& item, std::string& scratch) {
  const std::string& name = item.Name;
  const std::string& key = item.Key;
  bool same = key.size() == name.size();
  for (size_t i = 0; same && i < name.size(); ++i) {
    const char c = name[i];
    same = static_cast<unsigned char>(c) < 0x80 && key[i] == ((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
  }
  if (same) return key;
  scratch = BoundaryKey(name);
  return scratch;
}

TkelParamsListItem::TkelParamsListItem(std::string_view name, const Variant& value)
    : Name(name), Key(port::AnsiLower(name)), State(value.IsEmptyOrNull() ? 0 : 2),
      value_(StoredForm(value)) {}

TkelParamsListItem::TkelParamsListItem(std::string_view name, std::string_view key, const Variant& value)
    : Name(name), Key(key), State(value.IsEmptyOrNull() ? 0 : 2), value_(StoredForm(value)) {}

TkelParamsListItem::TkelParamsListItem(std::string_view name, std::string_view key, Variant&& value)
    : Name(name), Key(key), State(value.IsEmptyOrNull() ? 0 : 2),
      value_(value.Type() == VarType::String ? StoredForm(value) : std::move(value)) {}

void TkelParamsListItem::SetValue(const Variant& value) { value_ = StoredForm(value); }

void TkelParamsListItem::Assign(const TkelParamsListItem& source) {
  if (&source == this) return;
  Name = source.Name;
  Key = source.Key;
  DataType = source.DataType;
  State = source.State;
}

}  // namespace kel
