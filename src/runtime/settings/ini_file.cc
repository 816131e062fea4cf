#include "runtime/settings/ini_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "runtime/text/text_utils.h"

namespace kel {

std::string FloatText(double value) { return FormatDouble(value); }

namespace {

// The form names are compared in: blanks around them dropped, ASCII letters
// lower-cased.
std::string NameKey(std::string_view name) { return AsciiLowerCopy(TrimView(name)); }

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool KeyFits(std::string_view key) {
  key = TrimView(key);
  return !key.empty() && key.find('=') == std::string_view::npos && !HasLineBreak(key) && key[0] != ';' &&
         key[0] != '#' && key[0] != '[';
}

}  // namespace

const TIniFile::Entry* TIniFile::Section::Get(std::string_view key) const {
  auto it = index.find(NameKey(key));
  return it == index.end() ? nullptr : &entries[it->second];
}

void TIniFile::Section::Put(std::string_view key, std::string value) {
  std::string k = NameKey(key);
  auto it = index.find(k);
  if (it != index.end()) {
    entries[it->second].value = std::move(value);
    return;
  }
  index.emplace(std::move(k), entries.size());
  entries.push_back(Entry{std::string(TrimView(key)), std::move(value)});
}

void TIniFile::Section::Reindex() {
  index.clear();
  for (size_t i = 0; i < entries.size(); ++i) index.emplace(NameKey(entries[i].key), i);
}

TIniFile::Section* TIniFile::Find(std::string_view name) {
  auto it = sectionIndex_.find(NameKey(name));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const TIniFile::Section* TIniFile::Find(std::string_view name) const {
  auto it = sectionIndex_.find(NameKey(name));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

TIniFile::Section& TIniFile::Add(std::string_view name) {
  if (Section* s = Find(name)) return *s;
  sectionIndex_.emplace(NameKey(name), sections_.size());
  sections_.push_back(Section{std::string(TrimView(name)), {}, {}});
  return sections_.back();
}

void TIniFile::ReindexSections() {
  sectionIndex_.clear();
  for (size_t i = 0; i < sections_.size(); ++i) sectionIndex_.emplace(NameKey(sections_[i].name), i);
}

void TIniFile::Parse(std::string_view text) {
  sections_.clear();
  sectionIndex_.clear();
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
      // The last "]" closes the name, so that a name holding "]" reads back.
      size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      current = &Add(line.substr(1, close - 1));
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
    current->Put(key, std::string(value));
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
  const Entry* e = s ? s->Get(key) : nullptr;
  if (!e) return false;
  *value = e->value;
  return true;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, const std::string& def) const {
  std::string v;
  return Read(section, key, &v) ? v : def;
}

bool TIniFile::TryReadInteger(std::string_view section, std::string_view key, int32_t* value) const {
  std::string v;
  if (!Read(section, key, &v)) return false;
  std::string t(TrimView(v));
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long n = (t.size() > 1 && (t[0] == '$')) ? std::strtoll(t.c_str() + 1, &end, 16)
                : (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) ? std::strtoll(t.c_str() + 2, &end, 16)
                                                                               : std::strtoll(t.c_str(), &end, 10);
  if (errno || !end || *end || n < INT32_MIN || n > INT32_MAX) return false;
  *value = static_cast<int32_t>(n);
  return true;
}

bool TIniFile::TryReadFloat(std::string_view section, std::string_view key, double* value) const {
  std::string v;
  if (!Read(section, key, &v)) return false;
  return ParseDouble(TrimView(v), value);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  int32_t n;
  return TryReadInteger(section, key, &n) ? n : def;
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
  double d;
  return TryReadFloat(section, key, &d) ? d : def;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, const std::string& value) {
  if (!KeyFits(key) || HasLineBreak(section)) return false;
  // A value never spans lines in the file.
  std::string v = value;
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  Add(section).Put(key, std::move(v));
  modified_ = true;
  return true;
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  return WriteString(section, key, FloatText(value));
}

bool TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  Section* s = Find(section);
  if (!s) return false;
  auto it = s->index.find(NameKey(key));
  if (it == s->index.end()) return false;
  s->entries.erase(s->entries.begin() + static_cast<std::ptrdiff_t>(it->second));
  s->Reindex();
  modified_ = true;
  return true;
}

bool TIniFile::EraseSection(std::string_view section) {
  auto it = sectionIndex_.find(NameKey(section));
  if (it == sectionIndex_.end()) return false;
  sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(it->second));
  ReindexSections();
  modified_ = true;
  return true;
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
