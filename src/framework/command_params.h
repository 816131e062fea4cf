// Reading a command's parameters and writing its answer.
//
// A parameter is the first item of its name over the whole list; it is
// absent when the item is missing or its value is empty or null.  The answer
// goes into the item "RESULT" only when the host put one into the list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "params/params_ref.h"
#include "runtime/variant.h"

namespace kel {

// A parameter value that counts as absent: empty, null, or an empty text.
inline bool IsAbsentValue(const Variant& v) {
  return v.IsEmptyOrNull() || (v.Type() == VarType::String && v.RawString().empty()) ||
         (v.Type() == VarType::OleStr && v.RawOleStr().empty());
}

class CommandParams {
 public:
  explicit CommandParams(const ParamsRef& list) : list_(list) {}

  // The value, or nullopt when absent.
  std::optional<Variant> Get(std::string_view name) const;
  // Text of a parameter; empty when absent.
  std::string Text(std::string_view name) const;
  bool Has(std::string_view name) const { return Get(name).has_value(); }
  // True when the list holds an item of that name, whatever its value.
  bool HasItem(std::string_view name) const { return list_.IndexOf(name) >= 0; }
  // Stores value in an existing "RESULT" item; nothing when there is none.
  void SetResult(const Variant& value) const;

  const ParamsRef& List() const { return list_; }

 private:
  const ParamsRef& list_;
};

}  // namespace kel
