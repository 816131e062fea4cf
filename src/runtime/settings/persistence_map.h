// Lines of a persistence map: which value of an object lives under which
// storage key, and where a key goes in an INI file.
#pragma once

#include <string>
#include <string_view>

namespace kel {

struct TMapLine {
  bool comment = false;      // empty line or a line starting with ";"
  std::string propertyPath;  // e.g. "spMinInt.Value"
  std::string keyPath;       // e.g. "Sub\Name", after the backslash rules
  std::string subPath;       // "Sub" (empty when there is no backslash)
  std::string valueName;     // "Name"
};

// "spMinInt.Value,Min interval ; comment" and the like.
TMapLine ParseMapLine(std::string_view line);

// The property name a path stands for: every "." becomes "_".
std::string PropertyName(std::string_view propertyPath);

enum class TWregOperation { Load, Save, Delete, ListKeys, ListValues };

// The INI section of a line's sub-path under the given section prefix.
std::string IniSection(std::string_view subPath, std::string_view prefix, TWregOperation op);

// Name of the system-wide lock that guards an INI file.
std::string IniLockName(std::string_view iniPath);

}  // namespace kel
