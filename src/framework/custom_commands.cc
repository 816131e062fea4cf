#include "framework/custom_commands.h"

#include "framework/parser_items.h"

namespace kel {

TkelPluginCustomCmd& TkelPluginCustomCmdList::Add(std::string col1, std::string col2, std::string col3, bool col4,
                                                  bool col5) {
  items_.push_back(TkelPluginCustomCmd{std::move(col1), std::move(col2), std::move(col3), col4, col5});
  return items_.back();
}

std::string TkelPluginCustomCmdList::GetText() const {
  std::string out;
  for (const auto& c : items_)
    out += c.Col1 + "|" + c.Col2 + "|" + c.Col3 + "|" + (c.Col4 ? "1" : "0") + "|" + (c.Col5 ? "1" : "0") + "\r\n";
  return out;
}

void TkelPluginCustomCmdList::SetText(std::string_view text) {
  for (std::string_view line : SplitLines(text)) {
    if (line.empty()) continue;
    auto f = SplitFields(line, '|');
    if (f.size() < 5) continue;
    Add(std::string(f[0]), std::string(f[1]), std::string(f[2]), f[3] == "1", f[4] == "1");
  }
}

}  // namespace kel
