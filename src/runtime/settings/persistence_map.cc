#include "runtime/settings/persistence_map.h"

#include "runtime/text/text_utils.h"

namespace kel {

TMapLine ParseMapLine(std::string_view raw) {
  TMapLine out;
  std::string_view line = TrimView(raw);
  if (line.empty() || line[0] == ';') {
    out.comment = true;
    return out;
  }
  size_t sep = line.find(',');
  if (sep == std::string_view::npos) sep = line.find(';');
  std::string_view key;
  if (sep == std::string_view::npos) {
    out.propertyPath = std::string(TrimView(line));
  } else {
    out.propertyPath = std::string(TrimView(line.substr(0, sep)));
    key = TrimView(line.substr(sep + 1));
    size_t comment = key.find(';');
    if (comment != std::string_view::npos) key = TrimView(key.substr(0, comment));
  }
  // Doubled backslashes become one; one leading backslash goes.
  std::string k;
  for (size_t i = 0; i < key.size(); ++i) {
    k.push_back(key[i]);
    if (key[i] == '\\' && i + 1 < key.size() && key[i + 1] == '\\') ++i;
  }
  if (!k.empty() && k[0] == '\\') k.erase(0, 1);
  out.keyPath = k;
  size_t last = k.rfind('\\');
  if (last == std::string::npos) {
    out.valueName = k;
  } else {
    out.subPath = k.substr(0, last);
    out.valueName = k.substr(last + 1);
  }
  return out;
}

std::string PropertyName(std::string_view propertyPath) {
  std::string n(propertyPath);
  for (char& c : n)
    if (c == '.') c = '_';
  return n;
}

std::string IniSection(std::string_view subPath, std::string_view prefix, TWregOperation op) {
  std::string section(subPath);
  bool prefixEndsWithSlash = !prefix.empty() && (prefix.back() == '/' || prefix.back() == '\\');
  bool valueOp = op == TWregOperation::Load || op == TWregOperation::Save || op == TWregOperation::ListValues;
  if (valueOp && section.empty() && !prefixEndsWithSlash) section = "Common";
  std::string p(prefix);
  if (prefixEndsWithSlash) p.pop_back();
  if (!p.empty()) section = section.empty() ? p : p + "." + section;
  for (char& c : section)
    if (c == '\\') c = '.';
  return section;
}

std::string IniLockName(std::string_view iniPath) {
  std::string name;
  name.reserve(iniPath.size());
  for (char c : iniPath) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    name.push_back((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ? c : '_');
  }
  return name;
}

}  // namespace kel
