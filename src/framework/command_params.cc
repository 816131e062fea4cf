#include "framework/command_params.h"

namespace kel {

std::optional<Variant> CommandParams::Get(std::string_view name) const {
  Variant v = list_.GetValue(name);
  if (IsAbsentValue(v)) return std::nullopt;
  return v;
}

std::string CommandParams::Text(std::string_view name) const {
  auto v = Get(name);
  return v ? v->ToAnsi() : std::string();
}

void CommandParams::SetResult(const Variant& value) const { list_.SetValue("RESULT", value, false); }

}  // namespace kel
