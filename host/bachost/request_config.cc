#include "request_config.h"

#include <cstdio>

namespace host {

namespace {

struct TypeName {
  const char* name;
  uint16_t type;
};
// The types the options form offers, in its order.
constexpr TypeName kTypes[] = {{"AI", 0}, {"AO", 1}, {"AV", 2},   {"BI", 3},   {"BO", 4},
                               {"BV", 5}, {"MSI", 13}, {"MSO", 14}, {"MSV", 19}, {"NC", 15}};

constexpr uint32_t kMaxObjectInstance = 4194303;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Decimal digits only, no sign, at most maxDigits; value into *out.
bool ParseUnsigned(std::string_view s, size_t maxDigits, uint64_t* out) {
  if (s.empty() || s.size() > maxDigits) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *out = v;
  return true;
}

bool HasControl(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// Splits "123unit" into the number and the unit text.
void SplitNumber(std::string_view text, std::string_view* number, std::string_view* unit) {
  size_t i = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  *number = text.substr(0, i);
  *unit = text.substr(i);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

}  // namespace

uint64_t IntervalSpec::Milliseconds() const {
  uint64_t factor = units == "S" ? 1000 : units == "M" ? 60000 : units == "H" ? 3600000 : 1;
  return factor * count;
}

bool ObjectTypeByName(std::string_view name, uint16_t* type) {
  for (const auto& t : kTypes)
    if (SameIgnoringCase(name, t.name)) {
      *type = t.type;
      return true;
    }
  return false;
}

std::string ObjectTypeName(uint16_t type) {
  for (const auto& t : kTypes)
    if (t.type == type) return t.name;
  return {};
}

bool ParseItemList(std::string_view text, std::vector<ItemSpec>* items, std::string* reason) {
  std::vector<ItemSpec> out;
  size_t at = 0;
  while (true) {
    size_t comma = text.find(',', at);
    std::string_view entry = Trim(text.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
    if (entry.empty()) {
      *reason = "empty entry in the item list";
      return false;
    }
    size_t eq = entry.find('=');
    std::string_view object = Trim(entry.substr(0, eq));
    size_t colon = object.find(':');
    if (colon == std::string_view::npos) {
      *reason = "item '" + std::string(entry) + "' is not TYPE:INSTANCE";
      return false;
    }
    ItemSpec item;
    std::string_view typeName = Trim(object.substr(0, colon));
    if (!ObjectTypeByName(typeName, &item.objectType)) {
      *reason = "unknown object type '" + std::string(typeName) + "' (AI AO AV BI BO BV MSI MSO MSV NC)";
      return false;
    }
    uint64_t instance = 0;
    if (!ParseUnsigned(Trim(object.substr(colon + 1)), 7, &instance) || instance > kMaxObjectInstance) {
      *reason = "object instance of '" + std::string(entry) + "' is not 0..4194303";
      return false;
    }
    item.instance = static_cast<uint32_t>(instance);
    if (eq == std::string_view::npos) {
      item.name = ObjectTypeName(item.objectType) + "_" + std::to_string(item.instance);
    } else {
      std::string_view name = Trim(entry.substr(eq + 1));
      if (name.empty() || HasControl(name)) {
        *reason = "item '" + std::string(object) + "' has an empty or unprintable name";
        return false;
      }
      item.name = std::string(name);
    }
    for (const auto& other : out)
      if (other.name == item.name) {
        *reason = "item name '" + item.name + "' is used twice";
        return false;
      }
    out.push_back(std::move(item));
    if (comma == std::string_view::npos) break;
    at = comma + 1;
  }
  *items = std::move(out);
  return true;
}

bool ParseInterval(std::string_view text, IntervalSpec* interval, std::string* reason) {
  std::string_view number, unit;
  SplitNumber(Trim(text), &number, &unit);
  uint64_t count = 0;
  IntervalSpec out;
  if (!ParseUnsigned(number, 6, &count) || count < 1 || count > 655350) {
    *reason = "interval '" + std::string(text) + "' is not 1..655350 followed by ms, s, m or h";
    return false;
  }
  if (unit.empty() || unit == "ms") out.units = "MS";
  else if (unit == "s") out.units = "S";
  else if (unit == "m") out.units = "M";
  else if (unit == "h") out.units = "H";
  else {
    *reason = "interval unit '" + std::string(unit) + "' is not ms, s, m or h";
    return false;
  }
  out.count = static_cast<uint32_t>(count);
  // The module keeps the interval as signed 32-bit milliseconds.
  if (out.Milliseconds() > 2147483647u) {
    *reason = "interval '" + std::string(text) + "' is longer than 2147483647 ms";
    return false;
  }
  *interval = out;
  return true;
}

bool ParseTimeout(std::string_view text, uint32_t* ms, std::string* reason) {
  std::string_view number, unit;
  SplitNumber(Trim(text), &number, &unit);
  uint64_t count = 0;
  uint64_t factor = unit.empty() || unit == "ms" ? 1 : unit == "s" ? 1000 : 0;
  if (!ParseUnsigned(number, 6, &count) || factor == 0 || count * factor < 1 || count * factor > 65535) {
    *reason = "time-out '" + std::string(text) + "' is not 1..65535 ms (or whole seconds with s)";
    return false;
  }
  *ms = static_cast<uint32_t>(count * factor);
  return true;
}

bool ParseDeviceInstances(std::string_view text, std::string* normalised, std::string* reason) {
  std::string out;
  size_t at = 0;
  while (true) {
    size_t sep = text.find_first_of(";,", at);
    std::string_view entry = Trim(text.substr(at, sep == std::string_view::npos ? std::string_view::npos : sep - at));
    uint64_t n = 0;
    if (entry != "*") {
      if (!ParseUnsigned(entry, 7, &n) || n > kMaxObjectInstance) {
        *reason = "device instance '" + std::string(entry) + "' is not 1..4194303 or *";
        return false;
      }
      // The module passes over an entry of 0.
      if (n == 0) {
        *reason = "device instance 0 cannot be polled";
        return false;
      }
    }
    if (!out.empty()) out += ';';
    out += entry;
    if (sep == std::string_view::npos) break;
    at = sep + 1;
  }
  *normalised = std::move(out);
  return true;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string BuildRequestXml(const std::vector<PollSpec>& polls) {
  auto element = [](std::string* out, int depth, const char* name, const std::string& value) {
    out->append(static_cast<size_t>(depth) * 2, ' ');
    *out += "<" + std::string(name) + ">" + XmlEscape(value) + "</" + name + ">\r\n";
  };
  std::string xml = "<MODBUSRTUQUERY>\r\n";
  int n = 0;
  for (const auto& p : polls) {
    ++n;
    std::string caption = p.caption.empty() ? "Request #" + std::to_string(n) : p.caption;
    xml += "  <Request caption=\"" + XmlEscape(caption) + "\">\r\n";
    element(&xml, 2, "Enabled", "1");
    element(&xml, 2, "EP", p.address + ":" + std::to_string(p.port));
    // Before Response: the module takes the first "Instance" below the
    // request, and the items have one each.
    element(&xml, 2, "Instance", p.instances);
    element(&xml, 2, "Timeout", std::to_string(p.timeoutMs));
    if (p.logOnChange) element(&xml, 2, "LogOnChange", "1");
    xml += "    <RequestMethod>\r\n";
    element(&xml, 3, "MethodOnce", p.once ? "1" : "0");
    element(&xml, 3, "MethodPoll", p.once ? "0" : "1");
    element(&xml, 3, "PollInterval", std::to_string(p.interval.count));
    element(&xml, 3, "PollUnits", p.interval.units);
    xml += "    </RequestMethod>\r\n";
    xml += "    <Response>\r\n";
    for (const auto& item : p.items) {
      char code[8];
      std::snprintf(code, sizeof code, "D%02X", item.objectType & 0xFF);
      xml += "      <Item>\r\n";
      element(&xml, 4, "Name", item.name);
      element(&xml, 4, "DataType", code);
      element(&xml, 4, "Instance", std::to_string(item.instance));
      xml += "      </Item>\r\n";
    }
    xml += "    </Response>\r\n";
    xml += "  </Request>\r\n";
  }
  xml += "</MODBUSRTUQUERY>\r\n";
  return xml;
}

bool HasRequestRoot(std::string_view xml) {
  static constexpr std::string_view kRoot = "MODBUSRTUQUERY";
  for (size_t lt = xml.find('<'); lt != std::string_view::npos; lt = xml.find('<', lt + 1)) {
    std::string_view rest = xml.substr(lt + 1);
    if (rest.size() < kRoot.size() || !SameIgnoringCase(rest.substr(0, kRoot.size()), kRoot)) continue;
    if (rest.size() == kRoot.size()) return true;
    char next = rest[kRoot.size()];
    if (next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\r' || next == '\n') return true;
  }
  return false;
}

}  // namespace host
