#include "runtime/settings/percent_codec.h"

#include "platform/port.h"

namespace kel {

std::string PercentEncode(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string utf8 = port::Utf16ToUtf8(port::AnsiToUtf16(text));
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 4);
  bool leading = true;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == ' ') {
      bool nextSpace = i + 1 < utf8.size() && utf8[i + 1] == ' ';
      out.push_back(leading || nextSpace ? '+' : ' ');
      continue;
    }
    leading = false;
    if (c == '%') {
      out += "%%";
    } else if (c >= 0x20 && c <= 0x7F && c != '+') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

namespace {
int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::string PercentDecode(std::string_view encoded) {
  std::string bytes;
  bytes.reserve(encoded.size());
  bool raw8bit = false;
  for (size_t i = 0; i < encoded.size(); ++i) {
    char c = encoded[i];
    if (static_cast<unsigned char>(c) >= 0x80) raw8bit = true;
    if (c == '+') {
      bytes.push_back(' ');
    } else if (c == '%' && i + 1 < encoded.size() && encoded[i + 1] == '%') {
      bytes.push_back('%');
      ++i;
    } else if (c == '%' && i + 2 < encoded.size() && Hex(encoded[i + 1]) >= 0 && Hex(encoded[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(Hex(encoded[i + 1]) * 16 + Hex(encoded[i + 2])));
      i += 2;
    } else {
      bytes.push_back(c);
    }
  }
  // Text written by the encoder is pure ASCII; its bytes are UTF-8.  Text
  // with raw 8-bit bytes was not written by us and stays as it is.
  if (raw8bit) return bytes;
  std::u16string wide = port::Utf8ToUtf16(bytes);
  if (wide.find(u'\xFFFD') != std::u16string::npos) return bytes;
  std::string ansi = port::Utf16ToAnsi(wide);
  return ansi.empty() ? bytes : ansi;
}

}  // namespace kel
