// The host's side of the module's settings: the INI file the module reads
// its options from.  Values are stored as the module stores texts: UTF-8,
// percent-encoded, so that a multi-line XML text fits on one line.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

// The section the module's options live in when the host gives no section
// prefix, and the keys of the options the host sets.
inline constexpr const char* kIniSection = "Common";
inline constexpr const char* kParserConfigKey = "Parser config";
inline constexpr const char* kReadDevPropsKey = "Read dev props";
inline constexpr const char* kFreshOnlyKey = "Fresh values only";
inline constexpr const char* kFastPaceKey = "Fast pace";
inline constexpr const char* kInFlightKey = "Requests in flight";
inline constexpr const char* kInFlightPerDeviceKey = "Requests in flight per device";
inline constexpr const char* kDiagnosisKey = "Timeout diagnosis";
inline constexpr const char* kBbmdAddressKey = "BBMD address";
inline constexpr const char* kBbmdPortKey = "BBMD port";
inline constexpr const char* kBbmdTtlKey = "BBMD TTL";
inline constexpr const char* kReadMultipleKey = "Read multiple";

// Percent encoding of a UTF-8 text: bytes 0x21..0x7F other than "%" and "+"
// stand for themselves, "%" is "%%", a space is itself unless it starts the
// text or another space follows (then "+"), every other byte is "%XX".
std::string PercentEncode(std::string_view utf8);

// The INI text with the given keys of one section set: a key that exists
// (names compared ignoring ASCII case and surrounding blanks) gets the new
// value in place, a missing key is added at the end of the section, a
// missing section at the end of the text.  Everything else is kept as it is.
// Lines end with CR LF.
std::string UpdateIniText(std::string_view text, std::string_view section,
                          const std::vector<std::pair<std::string, std::string>>& values);

// Whether the section of the INI text has the key (compared as above).
bool IniHasKey(std::string_view text, std::string_view section, std::string_view key);

// The name of the system-wide lock the module holds while it works on an
// INI file: the path with ASCII letters lower-cased and every character
// other than 0-9 and a-z made "_".
std::string IniLockName(std::string_view path);

}  // namespace host
