// The instance's parser items.
#include "framework/kel_plugin.h"

namespace kel {

void TkelPlugin::ClearParserItems() { ParserItems.clear(); }

void TkelPlugin::AddStandardParserItems(bool withClientId) {
  const auto& std_items = StandardParserItems();
  const size_t n = withClientId ? std_items.size() : std_items.size() - 1;
  for (size_t i = 0; i < n; ++i) {
    TParserItem it = std_items[i];
    it.Attribute.clear();
    ParserItems.push_back(std::move(it));
  }
}

int32_t TkelPlugin::AddParserItem(const std::string& name, const std::string& description,
                                  const std::string& attribute, uint8_t dataType) {
  ParserItems.push_back(TParserItem{name, description, dataType, attribute});
  return static_cast<int32_t>(ParserItems.size()) - 1;
}

void TkelPlugin::SetParserItem(int32_t index, const TParserItem& item) {
  if (index < 0) return;
  const auto at = static_cast<size_t>(index);
  if (at >= ParserItems.size()) ParserItems.resize(at + 1);
  ParserItems[at] = item;
}

int32_t TkelPlugin::ParserItemsCount() const { return static_cast<int32_t>(ParserItems.size()); }

std::string TkelPlugin::GetParserItemsText() const { return ParserItemsToText(ParserItems); }

void TkelPlugin::SetParserItemsText(const std::string& text, bool replace) {
  TParserItemList parsed = ParserItemsFromText(text);
  if (replace) {
    ParserItems = std::move(parsed);
  } else {
    ParserItems.insert(ParserItems.end(), std::make_move_iterator(parsed.begin()),
                       std::make_move_iterator(parsed.end()));
  }
}

}  // namespace kel
