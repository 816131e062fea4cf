// Any bytes as an INI file: parsed, written back and parsed again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/settings/ini_file.h"
#include "runtime/settings/percent_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kel::TIniFile ini(text);
  for (const auto& section : ini.SectionNames())
    for (const auto& key : ini.SectionKeys(section)) {
      std::string v = ini.ReadString(section, key, "");
      ini.ReadInteger(section, key, 0);
      ini.ReadFloat(section, key, 0);
      kel::PercentDecode(v);
    }
  kel::TIniFile again(ini.Text());
  if (again.SectionNames().size() != ini.SectionNames().size()) __builtin_trap();
  kel::PercentDecode(text);
  kel::PercentEncode(text);
  return 0;
}
