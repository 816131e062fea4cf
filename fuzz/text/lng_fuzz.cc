// Any bytes as a language file: header, blocks and the languages section are
// read as far as they make sense; look-ups on the result must work.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/text/language_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kel::TWtranslLanguagesList table;
  kel::TLanguageFileHeader header;
  kel::LoadLanguageData(bytes, "EN", "DE", table, &header);
  for (const auto& [source, translation] : table.Exact()) {
    (void)table.FindLower(kel::LowerKey(source));
    (void)kel::DecodeControls(translation);
  }
  std::vector<std::pair<std::string, std::string>> langs;
  (void)kel::ReadLanguagesSection(bytes, &langs);
  return 0;
}
