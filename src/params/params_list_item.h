// One named, typed value of a parameter list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/variant.h"

namespace kel {

inline constexpr int32_t kRowMarkerType = KEL_ROW_MARKER_TYPE;
inline constexpr const char* kRowMarkerName = "$NEW_ROW$";

class TkelParamsListItem {
 public:
  // Key is the name lower-cased; State is 2 for a value that is neither empty
  // nor null, else 0.
  TkelParamsListItem(std::string_view name, const Variant& value);

  // Stores a value keeping its type; 8-bit text is kept as an OLE string.
  // State is not changed.
  void SetValue(const Variant& value);
  const Variant& Value() const { return value_; }

  // Copies Name, Key, DataType and State (not the value).
  void Assign(const TkelParamsListItem& source);

  bool IsNewRow() const { return DataType == kRowMarkerType; }

  std::string Name;
  std::string Key;
  int32_t DataType = 0;
  uint8_t State = 0;

 private:
  Variant value_;
};

// The value as it is kept in a list: 8-bit text becomes an OLE string, any
// other value keeps its type.
Variant StoredForm(const Variant& value);

}  // namespace kel
