#include "value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace host {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

template <class T>
bool ShortestText(T value, std::string* out) {
  if (!std::isfinite(value)) return false;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  if (r.ec != std::errc()) return false;
  out->assign(buf, r.ptr);
  return true;
}

// Whether d is exactly a single-precision number.
bool IsSingle(double d) {
  return std::isfinite(d) && std::fabs(d) <= std::numeric_limits<float>::max() &&
         static_cast<double>(static_cast<float>(d)) == d;
}

}  // namespace

bool OleDateToIso(double date, std::string* out) {
  // 1899-12-30 is 25569 days before 1970-01-01; the range keeps years 100..9999.
  if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return false;
  double whole = std::trunc(date);
  auto ms = static_cast<int64_t>(std::llround(std::fabs(date - whole) * 86400000.0));
  auto day = static_cast<int64_t>(whole);
  if (ms >= 86400000) {  // rounding reached the next midnight
    ms -= 86400000;
    day += 1;  // the time counts forward from the day's midnight on both sides of the epoch
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(day - 25569, &y, &m, &d);
  if (y < 100 || y > 9999) return false;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02u:%02u:%02u.%03u", static_cast<long long>(y), m, d,
                static_cast<unsigned>(ms / 3600000), static_cast<unsigned>(ms / 60000 % 60),
                static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
  *out = buf;
  return true;
}

bool NumberText(double value, std::string* out) { return ShortestText(value, out); }
bool NumberText(float value, std::string* out) { return ShortestText(value, out); }

std::string CurrencyText(int64_t scaled) {
  const bool negative = scaled < 0;
  // The magnitude as unsigned, which also holds the most negative value.
  const uint64_t mag = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string out = (negative ? "-" : "") + std::to_string(mag / 10000);
  uint64_t frac = mag % 10000;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
    std::string f = buf;
    while (f.back() == '0') f.pop_back();
    out += "." + f;
  }
  return out;
}

ValueKind TypedText(const HostValue& value, std::string* text) {
  text->clear();
  switch (value.vt) {
    case KEL_VT_I1:
    case KEL_VT_I2:
    case KEL_VT_I4:
    case KEL_VT_I8:
    case KEL_VT_UI1:
    case KEL_VT_UI2:
    case KEL_VT_UI4:
      *text = std::to_string(value.i);
      return ValueKind::Number;
    case KEL_VT_UI8:
      *text = std::to_string(static_cast<uint64_t>(value.i));
      return ValueKind::Number;
    case KEL_VT_CY:
      *text = CurrencyText(value.i);
      return ValueKind::Number;
    case KEL_VT_R4:
      return NumberText(static_cast<float>(value.d), text) ? ValueKind::Number : ValueKind::Null;
    case KEL_VT_R8:
      // A Real arrives widened: written as the single-precision number it
      // is (18.007145, not 18.007144927978516).
      if (IsSingle(value.d)) return NumberText(static_cast<float>(value.d), text) ? ValueKind::Number : ValueKind::Null;
      return NumberText(value.d, text) ? ValueKind::Number : ValueKind::Null;
    case KEL_VT_BOOL:
      *text = value.i ? "true" : "false";
      return ValueKind::Boolean;
    case KEL_VT_DATE:
      return OleDateToIso(value.d, text) ? ValueKind::Text : ValueKind::Null;
    case KEL_VT_BSTR:
      *text = Utf16To8(value.text);
      return ValueKind::Text;
    default:
      return ValueKind::Null;
  }
}

}  // namespace host
