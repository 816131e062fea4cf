// 8-bit text and OLE strings on POSIX, where the ANSI code page is UTF-8.
#include <cstdlib>
#include <cstring>

#include "platform/port.h"

namespace port {

std::u16string AnsiToUtf16(std::string_view text) { return Utf8ToUtf16(text); }
std::string Utf16ToAnsi(std::u16string_view text) { return Utf16ToUtf8(text); }
std::string AnsiToUtf8(std::string_view text) { return std::string(text); }
std::string Utf8ToAnsi(std::string_view text) { return std::string(text); }

std::string AnsiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string AnsiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// A BSTR is a malloc block: 4-byte byte length, the UTF-16 text, a 16-bit
// terminator; the pointer handed out points at the text.
char16_t* SysAllocStringLen(const char16_t* text, uint32_t length) {
  if (length > 0x3FFFFFF0u) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(4 + (static_cast<size_t>(length) + 1) * 2));
  if (!block) return nullptr;
  uint32_t bytes = length * 2;
  std::memcpy(block, &bytes, 4);
  auto* s = reinterpret_cast<char16_t*>(block + 4);
  if (text && length) std::memcpy(s, text, static_cast<size_t>(length) * 2);
  else if (length) std::memset(s, 0, static_cast<size_t>(length) * 2);
  s[length] = 0;
  return s;
}

void SysFreeString(char16_t* bstr) {
  if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - 4);
}

uint32_t SysStringLen(const char16_t* bstr) {
  if (!bstr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(bstr) - 4, 4);
  return bytes / 2;
}

}  // namespace port
