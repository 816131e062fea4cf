#include "ini_settings.h"

#include <cstddef>

namespace host {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// The section a header line opens, or false when the line is no header.
bool SectionOf(std::string_view line, std::string* name) {
  std::string_view t = TrimBlanks(line);
  if (t.empty() || t.front() != '[') return false;
  size_t close = t.rfind(']');
  if (close == std::string_view::npos) return false;
  *name = Lower(TrimBlanks(t.substr(1, close - 1)));
  return true;
}

// The key of a key line, or false for comments, blank lines and lines
// without "=".
bool KeyOf(std::string_view line, std::string* key) {
  std::string_view t = TrimBlanks(line);
  if (t.empty() || t.front() == ';' || t.front() == '#') return false;
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view k = TrimBlanks(line.substr(0, eq));
  if (k.empty()) return false;
  *key = Lower(k);
  return true;
}

}  // namespace

std::string PercentEncode(std::string_view utf8) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 4);
  bool leading = true;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == ' ') {
      const bool nextSpace = i + 1 < utf8.size() && utf8[i + 1] == ' ';
      out.push_back(leading || nextSpace ? '+' : ' ');
      continue;
    }
    leading = false;
    if (c == '%') {
      out += "%%";
    } else if (c > 0x20 && c <= 0x7F && c != '+') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::string UpdateIniText(std::string_view text, std::string_view section,
                          const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    at = end + 1;
  }
  const std::string wanted = Lower(TrimBlanks(section));
  std::vector<bool> done(values.size(), false);
  // Where a missing key goes: after the last header or key line of the
  // section's last occurrence.
  std::ptrdiff_t insertAt = -1;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    if (SectionOf(lines[i], &name)) {
      inSection = name == wanted;
      if (inSection) insertAt = static_cast<std::ptrdiff_t>(i) + 1;
      continue;
    }
    std::string key;
    if (!inSection || !KeyOf(lines[i], &key)) continue;
    insertAt = static_cast<std::ptrdiff_t>(i) + 1;
    for (size_t v = 0; v < values.size(); ++v)
      if (key == Lower(TrimBlanks(values[v].first))) {
        lines[i] = values[v].first + "=" + values[v].second;
        done[v] = true;
      }
  }
  std::vector<std::string> added;
  for (size_t v = 0; v < values.size(); ++v)
    if (!done[v]) added.push_back(values[v].first + "=" + values[v].second);
  if (!added.empty()) {
    if (insertAt < 0) {
      while (!lines.empty() && TrimBlanks(lines.back()).empty()) lines.pop_back();
      if (!lines.empty()) lines.emplace_back();
      lines.push_back("[" + std::string(TrimBlanks(section)) + "]");
      insertAt = static_cast<std::ptrdiff_t>(lines.size());
    }
    lines.insert(lines.begin() + insertAt, added.begin(), added.end());
  }
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

bool IniHasKey(std::string_view text, std::string_view section, std::string_view key) {
  const std::string wantedSection = Lower(TrimBlanks(section));
  const std::string wantedKey = Lower(TrimBlanks(key));
  bool inSection = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string name;
    if (SectionOf(line, &name)) {
      inSection = name == wantedSection;
    } else if (inSection && KeyOf(line, &name) && name == wantedKey) {
      return true;
    }
  }
  return false;
}

std::string IniLockName(std::string_view path) {
  std::string name;
  name.reserve(path.size());
  for (char c : path) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    name.push_back((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ? c : '_');
  }
  return name;
}

}  // namespace host
