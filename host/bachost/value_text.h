// Typed text forms of the values a record carries, for the CSV and JSON
// writers.
#pragma once

#include <string>

#include "host_params.h"

namespace host {

// An OLE date (days since 1899-12-30, the fraction the time of day, which
// counts forward from midnight also for days before the epoch) as
// "YYYY-MM-DDTHH:MM:SS.mmm"; false outside the years 100..9999 or for
// non-finite values.
bool OleDateToIso(double date, std::string* out);

// Shortest text that reads back as the same number; false for NaN and the
// infinities.
bool NumberText(double value, std::string* out);
bool NumberText(float value, std::string* out);

// A currency value (a count of 1/10000) as an exact decimal, trailing zeros
// of the fraction dropped: 12345 -> "1.2345", -50000 -> "-5".
std::string CurrencyText(int64_t scaled);

enum class ValueKind { Null, Number, Boolean, Text };

// The kind a value is written as and its text: numbers and booleans
// ("true"/"false") unquoted, texts and dates (ISO) as texts, empty and null
// as Null (text empty).  A date or number that has no such form (NaN, out
// of range) is written as Null.
ValueKind TypedText(const HostValue& value, std::string* text);

}  // namespace host
