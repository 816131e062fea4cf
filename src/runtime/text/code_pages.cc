#include "runtime/text/code_pages.h"

#include "platform/port.h"
#include "runtime/text/text_utils.h"

namespace kel {

std::u16string CodePageToUtf16(std::string_view text, uint32_t codePage) {
  const char16_t* table = CodePageTable(codePage);
  if (!table) return port::AnsiToUtf16(text);
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    out.push_back(b < 0x80 ? static_cast<char16_t>(b) : table[b - 0x80]);
  }
  return out;
}

bool CharsetByName(std::string_view name, int32_t* charset, uint32_t* codePage) {
  static const struct {
    const char* name;
    int32_t charset;
    uint32_t codePage;
  } kSets[] = {
      {"windows-1250", 238, 1250}, {"windows-1251", 204, 1251}, {"windows-1252", 0, 1252},
      {"windows-1253", 161, 1253}, {"windows-1254", 162, 1254}, {"windows-1255", 177, 1255},
      {"windows-1256", 178, 1256}, {"windows-1257", 186, 1257}, {"windows-1258", 163, 1258},
      {"windows-874", 222, 874},   {"shift-jis", 128, 932},     {"hangeul", 129, 949},
      {"johab", 130, 1361},        {"gb2312", 134, 936},        {"chinesebig5", 136, 950},
  };
  name = TrimView(name);
  for (const auto& s : kSets)
    if (SameTextAscii(name, s.name)) {
      *charset = s.charset;
      *codePage = s.codePage;
      return true;
    }
  return false;
}

std::u16string DecodeUtf16Bytes(std::string_view bytes, bool bigEndian) {
  std::u16string out;
  const size_t n = bytes.size() / 2;
  out.reserve(n);
  auto unit = [&](size_t i) -> char16_t {
    auto a = static_cast<unsigned char>(bytes[2 * i]);
    auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  for (size_t i = 0; i < n; ++i) {
    char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < n) {
        char16_t v = unit(i + 1);
        if (v >= 0xDC00 && v <= 0xDFFF) {
          out.push_back(u);
          out.push_back(v);
          ++i;
          continue;
        }
      }
      out.push_back(0xFFFD);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::u16string LowerUtf16(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c < 0x80) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    } else if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
               (c >= 0x410 && c <= 0x42F)) {
      c = static_cast<char16_t>(c + 32);  // Latin-1, Greek, basic Cyrillic
    } else if (c >= 0x400 && c <= 0x40F) {
      c = static_cast<char16_t>(c + 80);  // Cyrillic with marks
    } else if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
      if ((c & 1) == 0) c = static_cast<char16_t>(c + 1);  // Latin Extended-A, even = capital
    } else if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      if ((c & 1) == 1) c = static_cast<char16_t>(c + 1);  // odd = capital
    } else if (c == 0x178) {
      c = 0xFF;
    }
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view text) { return port::Utf16ToAnsi(port::Utf8ToUtf16(text)); }

}  // namespace kel
