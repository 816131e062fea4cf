// The parser items a module offers to the host, the type names they carry and
// their text form ("Description|Name|Type|Attribute", one line each).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

// The types of parser items: positions in the type-name list below.
enum TParserDataType : uint8_t {
  kParserString,
  kParserMemo,
  kParserBytes,
  kParserBlob,
  kParserBoolean,
  kParserFloat,
  kParserSmallint,
  kParserWord,
  kParserInteger,
  kParserDate,
  kParserTime,
  kParserDateTime,
  kParserDWord,
  kParserByte,
  kParserShortint,
  kParserInt64,
  kParserCurrency,
  kParserNoType,  // no type given
};
inline constexpr uint8_t kNoDataType = kParserNoType;

// One parser item the module can produce.
struct TParserItem {
  std::string Name;
  std::string Description;
  uint8_t DataType = kNoDataType;  // a TParserDataType
  std::string Attribute;

  bool operator==(const TParserItem&) const = default;
};
using TParserItemList = std::vector<TParserItem>;

// "String|Memo|...|Currency|": position n is the name of type n; 17 is empty.
extern const char* const kParserTypeNamesText;
// The type name of an index ("" for 17 and anything outside the list).
std::string_view ParserTypeName(uint8_t type);
// The index of a type name, compared without regard to case; 17 when unknown.
uint8_t ParserTypeIndex(std::string_view name);

// The host's standard items: FULL_DATA_PACKET, DATA_PACKET, DATE_TIME_STAMP,
// DATA_SOURCE_ID, DATA_SOURCE_NAME, DATA_SOURCE_FULL_NAME, CLIENTID.
const std::array<TParserItem, 7>& StandardParserItems();

// Text form: lines joined by CR LF, no trailing line break.
std::string ParserItemsToText(const TParserItemList& items);
// Parses the text form: empty lines are skipped; parsing stops at the first
// line with fewer than two fields, keeping the items read before it.
TParserItemList ParserItemsFromText(std::string_view text);

// Splits text into lines at LF, dropping a CR right before an LF (a CR at
// the very end of the text belongs to the last line).
std::vector<std::string_view> SplitLines(std::string_view text);
std::vector<std::string_view> SplitFields(std::string_view line, char separator);

}  // namespace kel
