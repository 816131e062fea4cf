#include "runtime/settings/ini_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "runtime/text/text_utils.h"

namespace kel {

std::string FloatText(double value) {
  char buf[64];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  return buf;
}

TIniFile::Section* TIniFile::Find(std::string_view name) {
  for (auto& s : sections_)
    if (SameTextAscii(s.name, name)) return &s;
  return nullptr;
}

const TIniFile::Section* TIniFile::Find(std::string_view name) const {
  for (const auto& s : sections_)
    if (SameTextAscii(s.name, name)) return &s;
  return nullptr;
}

void TIniFile::Parse(std::string_view text) {
  sections_.clear();
  modified_ = false;
  Section* current = nullptr;
  size_t at = 0;
  // A UTF-8 byte-order mark is not part of the first line.
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") at = 3;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(at, end - at);
    at = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string_view line = TrimView(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      std::string_view name = TrimView(line.substr(1, close - 1));
      current = Find(name);
      if (!current) {
        sections_.push_back(Section{std::string(name), {}});
        current = &sections_.back();
      }
      continue;
    }
    if (!current) continue;
    size_t eq = raw.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = TrimView(raw.substr(0, eq));
    if (key.empty()) continue;
    // Leading blanks of a value are layout; trailing ones are kept (stored
    // texts encode a leading space, never a trailing one).
    std::string_view value = raw.substr(eq + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    bool replaced = false;
    for (auto& e : current->entries) {
      if (SameTextAscii(e.key, key)) {
        e.value = std::string(value);
        replaced = true;
        break;
      }
    }
    if (!replaced) current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
}

std::string TIniFile::Text() const {
  std::string out;
  bool first = true;
  for (const auto& s : sections_) {
    if (!first) out += "\r\n";
    first = false;
    out += "[" + s.name + "]\r\n";
    for (const auto& e : s.entries) out += e.key + "=" + e.value + "\r\n";
  }
  return out;
}

bool TIniFile::SectionExists(std::string_view section) const { return Find(section) != nullptr; }

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  std::string dummy;
  return Read(section, key, &dummy);
}

bool TIniFile::Read(std::string_view section, std::string_view key, std::string* value) const {
  const Section* s = Find(section);
  if (!s) return false;
  for (const auto& e : s->entries) {
    if (SameTextAscii(e.key, key)) {
      *value = e.value;
      return true;
    }
  }
  return false;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, const std::string& def) const {
  std::string v;
  return Read(section, key, &v) ? v : def;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  std::string v;
  if (!Read(section, key, &v)) return def;
  std::string t(TrimView(v));
  if (t.empty()) return def;
  errno = 0;
  char* end = nullptr;
  long long n = (t.size() > 1 && (t[0] == '$')) ? std::strtoll(t.c_str() + 1, &end, 16)
                : (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) ? std::strtoll(t.c_str() + 2, &end, 16)
                                                                               : std::strtoll(t.c_str(), &end, 10);
  if (errno || !end || *end || n < INT32_MIN || n > INT32_MAX) return def;
  return static_cast<int32_t>(n);
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
  std::string v;
  if (!Read(section, key, &v)) return def;
  std::string t(TrimView(v));
  for (char& c : t)
    if (c == ',') c = '.';
  if (t.empty()) return def;
  errno = 0;
  char* end = nullptr;
  double d = std::strtod(t.c_str(), &end);
  if (errno || !end || *end || !std::isfinite(d)) return def;
  return d;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, const std::string& value) {
  // A value never spans lines in the file.
  std::string v = value;
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  Section* s = Find(section);
  if (!s) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  modified_ = true;
  for (auto& e : s->entries) {
    if (SameTextAscii(e.key, key)) {
      e.value = v;
      return;
    }
  }
  s->entries.push_back(Entry{std::string(key), v});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, FloatText(value));
}

bool TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  Section* s = Find(section);
  if (!s) return false;
  for (size_t i = 0; i < s->entries.size(); ++i) {
    if (SameTextAscii(s->entries[i].key, key)) {
      s->entries.erase(s->entries.begin() + static_cast<std::ptrdiff_t>(i));
      modified_ = true;
      return true;
    }
  }
  return false;
}

bool TIniFile::EraseSection(std::string_view section) {
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (SameTextAscii(sections_[i].name, section)) {
      sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(i));
      modified_ = true;
      return true;
    }
  }
  return false;
}

std::vector<std::string> TIniFile::SectionNames() const {
  std::vector<std::string> out;
  for (const auto& s : sections_) out.push_back(s.name);
  return out;
}

std::vector<std::string> TIniFile::SectionKeys(std::string_view section) const {
  std::vector<std::string> out;
  if (const Section* s = Find(section))
    for (const auto& e : s->entries) out.push_back(e.key);
  return out;
}

}  // namespace kel
