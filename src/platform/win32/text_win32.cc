// 8-bit text in the system code page and OLE strings on Windows.
#include <windows.h>
#include <oleauto.h>

// winuser.h defines these names as macros.
#undef AnsiLower
#undef AnsiUpper

#include <cstddef>

#include "bacnetip/plugin_abi.h"
#include "platform/port.h"

// The boundary's variant is the system's VARIANT and its strings are the
// system's BSTRs, on 32-bit and 64-bit builds alike.
static_assert(sizeof(kel_variant) == sizeof(VARIANT), "kel_variant has the size of VARIANT");
static_assert(offsetof(kel_variant, vt) == offsetof(VARIANT, vt), "vt where VARIANT has it");
static_assert(offsetof(kel_variant, u) == offsetof(VARIANT, llVal), "the value where VARIANT has it");
static_assert(offsetof(kel_variant, u.bstr) == offsetof(VARIANT, bstrVal), "the text where VARIANT has it");
static_assert(sizeof(OLECHAR) == sizeof(char16_t) && sizeof(BSTR) == sizeof(kel_bstr), "BSTR is UTF-16 text");
#if defined(_WIN64)
static_assert(sizeof(VARIANT) == 24, "VARIANT is 24 bytes on 64-bit Windows");
#else
static_assert(sizeof(VARIANT) == 16, "VARIANT is 16 bytes on 32-bit Windows");
#endif

namespace port {

std::u16string AnsiToUtf16(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string AnsiToUtf8(std::string_view text) { return Utf16ToUtf8(AnsiToUtf16(text)); }
std::string Utf8ToAnsi(std::string_view text) { return Utf16ToAnsi(Utf8ToUtf16(text)); }

std::string AnsiLower(std::string_view text) {
  std::string out(text);
  if (!out.empty()) CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string AnsiUpper(std::string_view text) {
  std::string out(text);
  if (!out.empty()) CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

char16_t* SysAllocStringLen(const char16_t* text, uint32_t length) {
  return reinterpret_cast<char16_t*>(
      ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), length));
}
void SysFreeString(char16_t* bstr) { ::SysFreeString(reinterpret_cast<BSTR>(bstr)); }
uint32_t SysStringLen(const char16_t* bstr) {
  return ::SysStringLen(reinterpret_cast<BSTR>(const_cast<char16_t*>(bstr)));
}

}  // namespace port
