// Any bytes as the texts the host sends with its commands: the parser-item
// text of SET-ITEMS, the data-source lines of SET-STATE, the custom-command
// text, and the persistence-map lines the settings read.  Each text read and
// written back must read back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/custom_commands.h"
#include "framework/data_sources.h"
#include "framework/parser_items.h"
#include "runtime/settings/persistence_map.h"
#include "runtime/text/text_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  kel::TParserItemList items = kel::ParserItemsFromText(text);
  std::string itemsText = kel::ParserItemsToText(items);
  if (kel::ParserItemsToText(kel::ParserItemsFromText(itemsText)) != itemsText) __builtin_trap();

  kel::ParseDataSources(text, [](const char*) {});

  kel::TkelPluginCustomCmdList commands;
  commands.SetText(text);
  std::string commandText = commands.GetText();
  kel::TkelPluginCustomCmdList again;
  again.SetText(commandText);
  if (again.GetText() != commandText) __builtin_trap();

  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    kel::TMapLine line = kel::ParseMapLine(text.substr(at, end - at));
    kel::IniSection(line.subPath, line.valueName, kel::TWregOperation::Save);
    at = end + 1;
  }

  kel::FormatText(text, "value");
  return 0;
}
