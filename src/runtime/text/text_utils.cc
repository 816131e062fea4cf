#include "runtime/text/text_utils.h"

#include <charconv>
#include <cmath>

namespace kel {

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool StartsTextAscii(std::string_view a, std::string_view prefix) {
  return a.size() >= prefix.size() && SameTextAscii(a.substr(0, prefix.size()), prefix);
}

std::string AsciiLowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

int CompareTextAscii(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
    unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  unsigned base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return def;
  uint64_t v = 0;
  const uint64_t limit = neg ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
  for (; i < s.size(); ++i) {
    char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return def;
    if (v > (limit - d) / base) return def;
    v = v * base + d;
  }
  if (neg) return v == (uint64_t{1} << 63) ? INT64_MIN : -static_cast<int64_t>(v);
  return static_cast<int64_t>(v);
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
  int64_t v = StrToInt64Def(s, int64_t{INT32_MIN} - 1);
  if (v < INT32_MIN || v > INT32_MAX) return def;
  return static_cast<int32_t>(v);
}

std::string FormatTexts(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size() + 16 * args.size());
  const std::string_view* next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      if (pattern[i + 1] == '%') {
        out.push_back('%');
        ++i;
        continue;
      }
      if (pattern[i + 1] == 's' && next != args.end()) {
        out.append(*next++);
        ++i;
        continue;
      }
    }
    out.push_back(pattern[i]);
  }
  return out;
}

std::string FormatText(std::string_view pattern, std::string_view arg) {
  return FormatTexts(pattern, {arg});
}

bool ParseDouble(std::string_view s, double* value) {
  std::string t(s);
  for (char& c : t)
    if (c == ',') c = '.';
  const char* begin = t.data();
  const char* end = t.data() + t.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end || *begin == '+') return false;
  double d = 0;
  auto [at, ec] = std::from_chars(begin, end, d, std::chars_format::general);
  if (ec != std::errc() || at != end || !std::isfinite(d)) return false;
  *value = d;
  return true;
}

std::string FormatDouble(double value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

}  // namespace kel
