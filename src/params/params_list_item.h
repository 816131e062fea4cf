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
  // As above with the key given: name lower-cased once by whoever made it.
  TkelParamsListItem(std::string_view name, std::string_view key, const Variant& value);
  TkelParamsListItem(std::string_view name, std::string_view key, Variant&& value);
  TkelParamsListItem(const TkelParamsListItem&) = default;

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

// The key an item interface reports for a name: the name with A..Z
// lower-cased, as UTF-8.
std::string BoundaryKey(std::string_view name);
// The same for an item of ours, without building a text when its own key is
// that already (an ASCII name, as nearly all are); else into scratch.
const std::string& BoundaryKey(const TkelParamsListItem& item, std::string& scratch);

// The value as it is kept in a list: 8-bit text becomes an OLE string, any
// other value keeps its type.
Variant StoredForm(const Variant& value);

}  // namespace kel
