#include "framework/parser_items.h"

#include <cctype>

namespace kel {

const char* const kParserTypeNamesText =
    "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|Shortint|Int64|"
    "Currency|";

namespace {

const std::vector<std::string_view>& TypeNames() {
  static const std::vector<std::string_view> names = SplitFields(kParserTypeNamesText, '|');
  return names;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    // Only a CR that ends a line before its LF is part of the line break.
    if (end < text.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == text.size()) break;
    at = end + 1;
  }
  return lines;
}

std::vector<std::string_view> SplitFields(std::string_view line, char separator) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (true) {
    size_t end = line.find(separator, at);
    if (end == std::string_view::npos) {
      fields.push_back(line.substr(at));
      break;
    }
    fields.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return fields;
}

std::string_view ParserTypeName(uint8_t type) {
  const auto& names = TypeNames();
  return type < names.size() ? names[type] : std::string_view();
}

uint8_t ParserTypeIndex(std::string_view name) {
  const auto& names = TypeNames();
  for (size_t i = 0; i < names.size(); ++i)
    if (EqualNoCase(names[i], name)) return static_cast<uint8_t>(i);
  return kNoDataType;
}

const std::array<TParserItem, 7>& StandardParserItems() {
  static const std::array<TParserItem, 7> items{{
      {"FULL_DATA_PACKET", "Full data packet", kParserString, ""},
      {"DATA_PACKET", "Data packet", kParserString, ""},
      {"DATE_TIME_STAMP", "Datetime stamp", kParserDateTime, ""},
      {"DATA_SOURCE_ID", "Data source ID", kParserInteger, ""},
      {"DATA_SOURCE_NAME", "Data source name", kParserString, ""},
      {"DATA_SOURCE_FULL_NAME", "Data source long name", kParserString, ""},
      {"CLIENTID", "Client ID", kParserInteger, ""},
  }};
  return items;
}

std::string ParserItemsToText(const TParserItemList& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += "\r\n";
    const TParserItem& it = items[i];
    out += it.Description;
    out += '|';
    out += it.Name;
    out += '|';
    out += ParserTypeName(it.DataType);
    out += '|';
    out += it.Attribute;
  }
  return out;
}

TParserItemList ParserItemsFromText(std::string_view text) {
  TParserItemList items;
  for (std::string_view line : SplitLines(text)) {
    if (line.empty()) continue;
    auto f = SplitFields(line, '|');
    if (f.size() < 2) break;
    TParserItem it;
    it.Description = std::string(f[0]);
    it.Name = std::string(f[1]);
    it.DataType = f.size() > 2 ? ParserTypeIndex(f[2]) : kNoDataType;
    if (f.size() > 3) it.Attribute = std::string(f[3]);
    items.push_back(std::move(it));
  }
  return items;
}

}  // namespace kel
