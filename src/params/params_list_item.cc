#include "params/params_list_item.h"

#include "platform/port.h"

namespace kel {

Variant StoredForm(const Variant& value) {
  if (value.Type() == VarType::String) return Variant::FromOleStr(value.ToUtf16());
  return value;
}

TkelParamsListItem::TkelParamsListItem(std::string_view name, const Variant& value)
    : Name(name), Key(port::AnsiLower(name)), State(value.IsEmptyOrNull() ? 0 : 2),
      value_(StoredForm(value)) {}

void TkelParamsListItem::SetValue(const Variant& value) { value_ = StoredForm(value); }

void TkelParamsListItem::Assign(const TkelParamsListItem& source) {
  if (&source == this) return;
  Name = source.Name;
  Key = source.Key;
  DataType = source.DataType;
  State = source.State;
}

}  // namespace kel
