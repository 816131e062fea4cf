// Language files: header directives, translation blocks and the "[Languages]"
// section, and the language table the translator looks texts up in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kel {

enum class TLngWriteMode { Default, New, Rewrite, Append };
enum class TLngSaveMode { None, Untranslated, UntranslatedObjects, Unused, All };
enum class TLngBiDiMode { None, RightToLeft, RightToLeftNoAlign, RightToLeftReadingOnly };

// What the first lines of a file declare.
struct TLanguageFileHeader {
  TLngWriteMode writeMode = TLngWriteMode::Default;
  TLngSaveMode saveMode = TLngSaveMode::None;
  TLngBiDiMode biDiMode = TLngBiDiMode::None;
  bool utf8 = false;        // texts are UTF-8 (declared, or the file is UTF-16 / has a UTF-8 mark)
  int32_t locale = 0;       // above 0 when declared
  int32_t charset = -1;     // -1 when not declared
  uint32_t codePage = 0;    // 0: the system's
};

// Source text (UTF-8) to translation (UTF-16), exact and lower-cased.
class TWtranslLanguagesList {
 public:
  void Clear();
  size_t Count() const { return exact_.size(); }
  void Add(const std::string& source, std::u16string translation);
  const std::u16string* FindExact(const std::string& source) const;
  const std::u16string* FindLower(const std::string& lowerSource) const;
  const std::unordered_map<std::string, std::u16string>& Exact() const { return exact_; }

 private:
  std::unordered_map<std::string, std::u16string> exact_;
  std::unordered_map<std::string, std::u16string> lower_;
};

// The lower-cased form used for the second table (UTF-8 in, UTF-8 out).
std::string LowerKey(std::string_view utf8);

// Bytes of a language file as UTF-8 lines: a UTF-16 file (byte-order mark, or
// zero bytes in the first pair) and a file with a UTF-8 mark are converted or
// stripped, and header->utf8 is set; other files stay 8-bit.
std::string LanguageFileText(std::string_view bytes, TLanguageFileHeader* header);

// Reads a whole file's bytes: the header, then every complete block that has
// both a source line (sourceCode + ":>") and a target line, into table.
// Gives the number of entries added.
size_t LoadLanguageData(std::string_view bytes, std::string_view sourceCode, std::string_view targetCode,
                        TWtranslLanguagesList& table, TLanguageFileHeader* header);

// The "[Languages]" section: gives "Default"; fills languages with
// (code, display name) for every key not beginning with "$" (the code is the
// key without its first character).  Texts are in the ANSI code page.
std::string ReadLanguagesSection(std::string_view bytes, std::vector<std::pair<std::string, std::string>>* languages);

// Control characters as "%" and two upper-case hexadecimal digits, and back
// (only sequences that stand for a control character are decoded).
std::string EncodeControls(std::string_view s);
std::u16string DecodeControls(std::u16string_view s);

}  // namespace kel
