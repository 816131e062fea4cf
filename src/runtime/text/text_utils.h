// Small text helpers shared by the XML reader, the component model and the
// translator: ASCII case rules, trimming and the integer conversion used for
// stored settings and configuration values.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kel {

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Equal with ASCII letters compared without regard to case.
bool SameTextAscii(std::string_view a, std::string_view b);
// a begins with prefix, ASCII letters compared without regard to case.
bool StartsTextAscii(std::string_view a, std::string_view prefix);
std::string AsciiLowerCopy(std::string_view s);
// Ordering ignoring ASCII case (negative, 0, positive).
int CompareTextAscii(std::string_view a, std::string_view b);

// Strips every character of code 32 and below from both ends.
std::string_view TrimView(std::string_view s);
inline std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

// Leading blanks skipped, optional sign, decimal digits, or hexadecimal digits
// after "$" or "0x"; anything else (trailing text, overflow, nothing) gives def.
int64_t StrToInt64Def(std::string_view s, int64_t def);
int32_t StrToIntDef(std::string_view s, int32_t def);

// Numbers as stored texts, independent of the process's locale (a host may
// set one with a decimal comma).  ParseDouble takes "." or "," as the
// decimal mark and an optional sign; it refuses trailing text and values
// that are not finite.  FormatDouble writes the shortest text that reads
// back as the same value.
bool ParseDouble(std::string_view s, double* value);
std::string FormatDouble(double value);

// A message pattern with one "%s" filled in; "%%" gives "%" and any other
// "%" stays as it is.  Patterns come from language files, so nothing in them
// is ever taken as a format directive.
std::string FormatText(std::string_view pattern, std::string_view arg);
// As FormatText with one argument per "%s", in order, in one pass: an
// argument that holds "%s" itself is not filled again.  A "%s" beyond the
// arguments stays as it is.
std::string FormatTexts(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace kel
