// Text decoding for language files: the Windows code pages they may name, UTF-16
// with either byte order, and simple lower-casing of UTF-16 text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// Upper half (bytes 0x80..0xFF) of a code page we carry a table for
// (1250, 1251, 1252); null for any other.
const char16_t* CodePageTable(uint32_t codePage);

// 8-bit text in codePage to UTF-16.  Code pages without a table of ours are
// read as the system's ANSI code page (UTF-8 on POSIX).  0 means the system's.
std::u16string CodePageToUtf16(std::string_view text, uint32_t codePage);

// A "Charset=" name (ASCII case ignored) to its character set and code page;
// false for an unknown name.
bool CharsetByName(std::string_view name, int32_t* charset, uint32_t* codePage);

// UTF-16 bytes (little or big endian) to UTF-16 text; an odd trailing byte is
// dropped and unpaired surrogates become U+FFFD.
std::u16string DecodeUtf16Bytes(std::string_view bytes, bool bigEndian);

// Lower case for Latin, Greek and Cyrillic letters; other text unchanged.
std::u16string LowerUtf16(std::u16string_view text);

// UTF-8 to the ANSI code page (through UTF-16).
std::string Utf8ToAnsi(std::string_view text);

}  // namespace kel
