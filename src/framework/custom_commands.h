// The custom commands a module advertises to the host.  The module only
// stores and returns them; their meaning belongs to the host.
//
// Text form: one "col1|col2|col3|col4|col5" line per command, each followed
// by CR LF, the booleans written as "1" or "0".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

struct TkelPluginCustomCmd {
  std::string Col1, Col2, Col3;
  bool Col4 = false, Col5 = false;
};

class TkelPluginCustomCmdList {
 public:
  TkelPluginCustomCmd& Add(std::string col1, std::string col2, std::string col3, bool col4, bool col5);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const TkelPluginCustomCmd& Items(int32_t index) const { return items_.at(static_cast<size_t>(index)); }
  void Clear() { items_.clear(); }

  std::string GetText() const;
  // Appends the commands of a text: empty lines and lines of fewer than five
  // fields are skipped; a boolean is true exactly when its column is "1";
  // further fields are ignored.
  void SetText(std::string_view text);

 private:
  std::vector<TkelPluginCustomCmd> items_;
};

}  // namespace kel
