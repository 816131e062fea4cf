#include "framework/data_sources.h"

#include <exception>

#include "framework/parser_items.h"
#include "runtime/text/text_utils.h"

namespace kel {

TConfigDataSourceList ParseDataSources(std::string_view text,
                                       const std::function<void(const char* message)>& onLineError) {
  TConfigDataSourceList out;
  for (std::string_view line : SplitLines(text)) {
    try {
      auto f = SplitFields(line, ';');
      int32_t id = StrToIntDef(TrimView(f[0]), -1);
      if (id == -1) continue;
      TConfigDataSource ds;
      ds.Text = std::string(line);
      ds.Id = id;
      if (f.size() > 1) ds.Name = Trim(f[1]);
      if (f.size() > 2) ds.FullName = Trim(f[2]);
      out.push_back(std::move(ds));
    } catch (const std::exception& e) {
      if (onLineError) onLineError(e.what());
    }
  }
  return out;
}

}  // namespace kel
