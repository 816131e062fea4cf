// Values a settings map reaches by name, where the map's root is a list of
// values rather than a component tree.  The parameter lists implement it, so
// the settings read and write them without knowing them.
#pragma once

#include <string_view>

#include "runtime/variant.h"

namespace kel {

class TWregValues {
 public:
  // The value saved under a map line's name.
  virtual Variant GetWregValue(std::string_view name) const = 0;
  // Takes a loaded value: the first value of that name, added when missing.
  virtual void SetWregValue(std::string_view name, const Variant& value) = 0;

 protected:
  virtual ~TWregValues() = default;
};

}  // namespace kel
