#include "framework/data_sources.h"

#include <exception>

#include "framework/parser_items.h"

namespace kel {

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  text = Trim(text);
  if (text.empty()) return fallback;
  bool negative = false;
  size_t at = 0;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    at = 1;
  }
  if (at == text.size()) return fallback;
  int64_t v = 0;
  for (; at < text.size(); ++at) {
    char c = text[at];
    if (c < '0' || c > '9') return fallback;
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return fallback;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return fallback;
  return static_cast<int32_t>(v);
}

TConfigDataSourceList ParseDataSources(std::string_view text,
                                       const std::function<void(const char* message)>& onLineError) {
  TConfigDataSourceList out;
  for (std::string_view line : SplitLines(text)) {
    try {
      auto f = SplitFields(line, ';');
      int32_t id = StrToIntDef(f[0], -1);
      if (id == -1) continue;
      TConfigDataSource ds;
      ds.Text = std::string(line);
      ds.Id = id;
      if (f.size() > 1) ds.Name = std::string(Trim(f[1]));
      if (f.size() > 2) ds.FullName = std::string(Trim(f[2]));
      out.push_back(std::move(ds));
    } catch (const std::exception& e) {
      if (onLineError) onLineError(e.what());
    }
  }
  return out;
}

}  // namespace kel
