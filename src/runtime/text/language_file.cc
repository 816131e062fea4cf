#include "runtime/text/language_file.h"

#include "platform/port.h"
#include "runtime/text/code_pages.h"
#include "runtime/text/text_utils.h"

namespace kel {

void TWtranslLanguagesList::Clear() {
  exact_.clear();
  lower_.clear();
}

void TWtranslLanguagesList::Add(const std::string& source, std::u16string translation) {
  std::string lower = LowerKey(source);
  if (lower != source) lower_.insert_or_assign(std::move(lower), translation);
  exact_.insert_or_assign(source, std::move(translation));
}

const std::u16string* TWtranslLanguagesList::FindExact(const std::string& source) const {
  auto it = exact_.find(source);
  return it == exact_.end() ? nullptr : &it->second;
}

const std::u16string* TWtranslLanguagesList::FindLower(const std::string& lowerSource) const {
  auto it = lower_.find(lowerSource);
  return it == lower_.end() ? nullptr : &it->second;
}

std::string LowerKey(std::string_view utf8) {
  bool ascii = true;
  for (char c : utf8)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return AsciiLowerCopy(utf8);
  return port::Utf16ToUtf8(LowerUtf16(port::Utf8ToUtf16(utf8)));
}

std::string LanguageFileText(std::string_view bytes, TLanguageFileHeader* header) {
  auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF))) {
    header->utf8 = true;
    return port::Utf16ToUtf8(DecodeUtf16Bytes(bytes.substr(2), at(0) == 0xFE));
  }
  if (bytes.size() >= 2 && (at(0) == 0) != (at(1) == 0)) {  // UTF-16 without a mark
    header->utf8 = true;
    return port::Utf16ToUtf8(DecodeUtf16Bytes(bytes, at(0) == 0));
  }
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    header->utf8 = true;
    return std::string(bytes.substr(3));
  }
  return std::string(bytes);
}

namespace {

constexpr size_t kHeaderLines = 19;
constexpr size_t kHeaderWidth = 50;

// Calls f(line) for every line, split at LF and trimmed; a final LF does not
// start another line.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find('\n', i);
    if (e == std::string_view::npos) e = text.size();
    if (!f(TrimView(text.substr(i, e - i)))) return;
    i = e + 1;
  }
}

std::string_view ValueAfter(std::string_view line, size_t nameLen) { return TrimView(line.substr(nameLen)); }

void ReadDirective(std::string_view line, TLanguageFileHeader* h) {
  line = line.substr(0, kHeaderWidth);
  if (StartsTextAscii(line, "//filenew")) h->writeMode = TLngWriteMode::New;
  else if (StartsTextAscii(line, "//filerewrite")) h->writeMode = TLngWriteMode::Rewrite;
  else if (StartsTextAscii(line, "//fileappend")) h->writeMode = TLngWriteMode::Append;
  else if (StartsTextAscii(line, "//saveuntrobj")) h->saveMode = TLngSaveMode::UntranslatedObjects;
  else if (StartsTextAscii(line, "//saveuntr")) h->saveMode = TLngSaveMode::Untranslated;
  else if (StartsTextAscii(line, "//saveunused")) h->saveMode = TLngSaveMode::Unused;
  else if (StartsTextAscii(line, "//saveall")) h->saveMode = TLngSaveMode::All;
  else if (StartsTextAscii(line, "Encoding=")) {
    std::string_view v = ValueAfter(line, 9);
    if (SameTextAscii(v, "utf-8")) h->utf8 = true;
    // utf-16 / unicode: recognised from the bytes themselves (LanguageFileText).
  } else if (StartsTextAscii(line, "BiDiMode=")) {
    std::string_view v = ValueAfter(line, 9);
    if (SameTextAscii(v, "righttoleft")) h->biDiMode = TLngBiDiMode::RightToLeft;
    else if (SameTextAscii(v, "righttoleftnoalign")) h->biDiMode = TLngBiDiMode::RightToLeftNoAlign;
    else if (SameTextAscii(v, "righttoleftreadingonly")) h->biDiMode = TLngBiDiMode::RightToLeftReadingOnly;
  } else if (StartsTextAscii(line, "Locale=")) {
    int64_t v = StrToInt64Def(ValueAfter(line, 7), 0);
    if (v > 0 && v <= INT32_MAX) h->locale = static_cast<int32_t>(v);
  } else if (StartsTextAscii(line, "Charset=")) {
    int32_t cs;
    uint32_t cp;
    if (CharsetByName(ValueAfter(line, 8), &cs, &cp)) {
      h->charset = cs;
      h->codePage = cp;
    }
  }
}

void ReadHeader(std::string_view text, TLanguageFileHeader* h) {
  size_t n = 0;
  ForEachLine(text, [&](std::string_view line) {
    ReadDirective(line, h);
    return ++n < kHeaderLines;
  });
}

// A text of the file as UTF-8.
std::string DecodeText(std::string_view raw, const TLanguageFileHeader& h) {
  if (h.utf8) return port::Utf16ToUtf8(port::Utf8ToUtf16(raw));  // invalid bytes become U+FFFD
  return port::Utf16ToUtf8(CodePageToUtf16(raw, h.codePage));
}

std::u16string DecodeText16(std::string_view raw, const TLanguageFileHeader& h) {
  if (h.utf8) return port::Utf8ToUtf16(raw);
  return CodePageToUtf16(raw, h.codePage);
}

bool CodeLine(std::string_view line, std::string_view code, std::string_view* rest) {
  if (code.empty() || line.size() < code.size() + 2) return false;
  if (!StartsTextAscii(line, code) || line.substr(code.size(), 2) != ":>") return false;
  *rest = line.substr(code.size() + 2);
  return true;
}

}  // namespace

size_t LoadLanguageData(std::string_view bytes, std::string_view sourceCode, std::string_view targetCode,
                        TWtranslLanguagesList& table, TLanguageFileHeader* header) {
  TLanguageFileHeader local;
  TLanguageFileHeader& h = header ? *header : local;
  std::string text = LanguageFileText(bytes, &h);
  ReadHeader(text, &h);
  size_t added = 0;
  std::string_view source, target;
  bool hasSource = false, hasTarget = false;
  ForEachLine(text, [&](std::string_view line) {
    if (line.empty()) {
      if (hasSource && hasTarget) {
        std::string key = Trim(DecodeText(source, h));
        if (!key.empty() && !target.empty()) {
          table.Add(key, DecodeText16(target, h));
          ++added;
        }
      }
      hasSource = hasTarget = false;
      return true;
    }
    if (line.size() >= 2 && line[0] == '/' && line[1] == '/') return true;  // comment
    std::string_view rest;
    if (CodeLine(line, sourceCode, &rest)) {
      source = rest;
      hasSource = true;
    }
    if (CodeLine(line, targetCode, &rest)) {
      target = rest;
      hasTarget = true;
    }
    return true;
  });
  return added;
}

std::string ReadLanguagesSection(std::string_view bytes,
                                 std::vector<std::pair<std::string, std::string>>* languages) {
  TLanguageFileHeader h;
  std::string text = LanguageFileText(bytes, &h);
  ReadHeader(text, &h);
  std::string def;
  bool inSection = false;
  ForEachLine(text, [&](std::string_view line) {
    if (!line.empty() && line[0] == '[') {
      inSection = SameTextAscii(line, "[Languages]");
      return true;
    }
    if (!inSection || line.empty() || line[0] == ';') return true;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return true;
    std::string_view key = TrimView(line.substr(0, eq));
    std::string value = port::Utf8ToAnsi(DecodeText(TrimView(line.substr(eq + 1)), h));
    if (SameTextAscii(key, "Default")) def = value;
    else if (key.size() > 1 && key[0] != '$' && languages)
      languages->emplace_back(port::Utf8ToAnsi(DecodeText(key.substr(1), h)), value);
    return true;
  });
  return def;
}

std::string EncodeControls(std::string_view s) {
  static const char kHexU[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20) {
      out.push_back('%');
      out.push_back(kHexU[b >> 4]);
      out.push_back(kHexU[b & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::u16string DecodeControls(std::u16string_view s) {
  auto hex = [](char16_t c) -> int {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
  };
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      int v = hex(s[i + 1]) * 16 + hex(s[i + 2]);
      if (v < 0x20) {
        out.push_back(static_cast<char16_t>(v));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

}  // namespace kel
