// How stored texts are written: UTF-8 with every byte outside 0x20..0x7F,
// and "%" and "+", escaped; a leading space and a space followed by another
// space become "+".
#pragma once

#include <string>
#include <string_view>

namespace kel {

// text is 8-bit (ANSI code page).
std::string PercentEncode(std::string_view text);
// Gives 8-bit (ANSI) text back.
std::string PercentDecode(std::string_view encoded);

}  // namespace kel
