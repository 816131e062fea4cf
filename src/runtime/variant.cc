#include "runtime/variant.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/port.h"
#include "runtime/text/text_utils.h"

namespace kel {

namespace {

bool IsIntegral(VarType t) {
  switch (t) {
    case VarType::I1:
    case VarType::I2:
    case VarType::I4:
    case VarType::I8:
    case VarType::UI1:
    case VarType::UI2:
    case VarType::UI4:
    case VarType::UI8:
    case VarType::Bool:
      return true;
    default:
      return false;
  }
}

bool IsFloating(VarType t) {
  return t == VarType::R4 || t == VarType::R8 || t == VarType::Date || t == VarType::Currency;
}

bool ParseNumber(const std::string& text, double* d, int64_t* i, bool* isInt) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (end && *end == '\0' && errno == 0) {
    *i = v;
    *d = static_cast<double>(v);
    *isInt = true;
    return true;
  }
  double f = 0;
  if (ParseDouble(t, &f)) {
    *d = f;
    *isInt = false;
    return true;
  }
  return false;
}

bool InRange(int64_t v, VarType to) {
  switch (to) {
    case VarType::I1: return v >= -128 && v <= 127;
    case VarType::I2: return v >= -32768 && v <= 32767;
    case VarType::I4: return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
    case VarType::UI1: return v >= 0 && v <= 255;
    case VarType::UI2: return v >= 0 && v <= 65535;
    case VarType::UI4: return v >= 0 && v <= 0xFFFFFFFFll;
    case VarType::UI8: return v >= 0;
    default: return true;
  }
}

// Fifteen significant digits, as the text of a floating variant; the same
// in every locale.
std::string DoubleText(double d) {
  if (std::isnan(d)) return "NAN";
  if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

// The dates an automation variant can hold: 0100-01-01 to 9999-12-31.
constexpr double kFirstDate = -657434.0;
constexpr double kEndOfDates = 2958466.0;

std::string FormatDate(double days) {
  // Outside the calendar (NaN, infinities, huge values from a host) the
  // value has no date text; it reads as its number rather than as a date
  // computed from an overflowed day count.
  if (!(days >= kFirstDate && days < kEndOfDates)) return DoubleText(days);
  // Days since 1899-12-30; the fraction is the time of day.
  double whole = std::floor(days);
  double frac = days - whole;
  int64_t ms = static_cast<int64_t>(std::llround(frac * 86400000.0));
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += 1;
  }
  // Civil date from days since 1970-01-01 (25569 days after 1899-12-30).
  int64_t z = static_cast<int64_t>(whole) - 25569 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  if (ms < 0) ms = 0;
  int h = static_cast<int>(ms / 3600000), mi = static_cast<int>(ms / 60000 % 60),
      s = static_cast<int>(ms / 1000 % 60), msec = static_cast<int>(ms % 1000);
  char buf[128];
  if (whole == 0 && days >= 0) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, s);
  } else if (ms == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d));
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02d:%02d:%02d", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), h, mi, s);
  }
  std::string out = buf;
  if (msec) {
    char extra[8];
    std::snprintf(extra, sizeof extra, ".%03d", msec);
    out += extra;
  }
  return out;
}

size_t WideLen(const char16_t* p) {
  size_t n = 0;
  while (p[n]) ++n;
  return n;
}

}  // namespace

Variant Variant::Make(VarType type, int64_t i, double d) {
  Variant v;
  v.type_ = type;
  v.i_ = i;
  v.d_ = d;
  return v;
}

Variant Variant::Null() { return Make(VarType::Null, 0, 0); }
Variant Variant::FromI2(int16_t x) { return Make(VarType::I2, x, 0); }
Variant Variant::FromI1(int8_t x) { return Make(VarType::I1, x, 0); }
Variant Variant::FromUI1(uint8_t x) { return Make(VarType::UI1, x, 0); }
Variant Variant::FromUI2(uint16_t x) { return Make(VarType::UI2, x, 0); }
Variant Variant::FromR4(float x) { return Make(VarType::R4, 0, x); }
Variant Variant::FromCurrency(int64_t scaled) {
  return Make(VarType::Currency, scaled, static_cast<double>(scaled) / 10000.0);
}
Variant Variant::FromDate(double days) { return Make(VarType::Date, 0, days); }
Variant Variant::FromOleStr(std::u16string s) {
  Variant v;
  v.type_ = VarType::OleStr;
  v.s16_ = std::move(s);
  return v;
}
Variant::Variant(int32_t x) : type_(VarType::I4), i_(x) {}
Variant::Variant(uint32_t x) : type_(VarType::UI4), i_(x) {}
Variant::Variant(int64_t x) : type_(VarType::I8), i_(x) {}
Variant::Variant(uint64_t x) : type_(VarType::UI8), i_(static_cast<int64_t>(x)) {}
Variant::Variant(double x) : type_(VarType::R8), d_(x) {}
Variant::Variant(bool x) : type_(VarType::Bool), i_(x ? 1 : 0) {}
Variant::Variant(std::string s) : type_(VarType::String), s8_(std::move(s)) {}
Variant::Variant(const char* s) : type_(VarType::String), s8_(s ? s : "") {}
Variant::Variant(std::string_view s) : type_(VarType::String), s8_(s) {}


int64_t Variant::ToInt64(bool* ok) const {
  bool good = true;
  int64_t r = 0;
  if (IsIntegral(type_)) {
    r = type_ == VarType::Bool ? (i_ ? -1 : 0) : i_;
  } else if (type_ == VarType::Currency) {
    // Whole units, halves to the even neighbour as for floating values, in
    // integers: the scaled value has more digits than a double holds.
    r = i_ / 10000;
    const int64_t rest = i_ % 10000;
    const int64_t away = rest < 0 ? -1 : 1;
    const int64_t half = rest < 0 ? -rest : rest;
    if (half > 5000 || (half == 5000 && r % 2 != 0)) r += away;
  } else if (IsFloating(type_)) {
    if (std::isfinite(d_) && std::fabs(d_) < 9.2e18) r = static_cast<int64_t>(std::llrint(d_));
    else good = false;
  } else if (IsText()) {
    double d;
    int64_t i;
    bool isInt;
    std::string t = ToAnsi();
    std::string lower = port::AnsiLower(Trim(t));
    if (lower == "true") r = -1;
    else if (lower == "false") r = 0;
    else if (ParseNumber(t, &d, &i, &isInt)) r = isInt ? i : static_cast<int64_t>(std::llrint(d));
    else good = false;
  } else {
    good = type_ == VarType::Empty;
    r = 0;
  }
  if (ok) *ok = good;
  return r;
}

double Variant::ToDouble(bool* ok) const {
  bool good = true;
  double r = 0;
  if (IsIntegral(type_)) {
    r = type_ == VarType::UI8 ? static_cast<double>(static_cast<uint64_t>(i_))
                              : static_cast<double>(ToInt64());
  } else if (IsFloating(type_)) {
    r = d_;
  } else if (IsText()) {
    double d;
    int64_t i;
    bool isInt;
    if (ParseNumber(ToAnsi(), &d, &i, &isInt)) r = d;
    else good = false;
  } else {
    good = type_ == VarType::Empty;
  }
  if (ok) *ok = good;
  return r;
}

bool Variant::ToBool(bool* ok) const {
  bool good = true;
  bool r = false;
  if (IsIntegral(type_) || type_ == VarType::Currency) {
    r = i_ != 0;
  } else if (IsFloating(type_)) {
    r = d_ != 0;
  } else if (IsText()) {
    std::string t = port::AnsiLower(Trim(ToAnsi()));
    if (t == "true") r = true;
    else if (t == "false") r = false;
    else {
      double d;
      int64_t i;
      bool isInt;
      if (ParseNumber(t, &d, &i, &isInt)) r = d != 0;
      else good = false;
    }
  } else {
    good = type_ == VarType::Empty;
  }
  if (ok) *ok = good;
  return r;
}

std::string Variant::ToAnsi() const {
  switch (type_) {
    case VarType::Empty:
    case VarType::Null:
      return {};
    case VarType::String:
      return s8_;
    case VarType::OleStr:
      return port::Utf16ToAnsi(s16_);
    case VarType::Bool:
      return i_ ? "True" : "False";
    case VarType::UI8:
      return std::to_string(static_cast<uint64_t>(i_));
    case VarType::R4:
    case VarType::R8:
    case VarType::Currency:
      return DoubleText(d_);
    case VarType::Date:
      return FormatDate(d_);
    default:
      return std::to_string(i_);
  }
}

std::u16string Variant::ToUtf16() const {
  if (type_ == VarType::OleStr) return s16_;
  return port::AnsiToUtf16(ToAnsi());
}

bool Variant::ChangeType(VarType to) {
  if (to == type_) return true;
  Variant r;
  r.type_ = to;
  bool ok = true;
  switch (to) {
    case VarType::Empty:
      break;
    case VarType::Null:
      break;
    case VarType::String:
      r.s8_ = ToAnsi();
      break;
    case VarType::OleStr:
      r.s16_ = ToUtf16();
      break;
    case VarType::Bool:
      r.i_ = ToBool(&ok) ? 1 : 0;
      break;
    case VarType::R4: {
      double d = ToDouble(&ok);
      if (ok && std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) ok = false;
      r.d_ = static_cast<float>(d);
      break;
    }
    case VarType::R8:
    case VarType::Date:
      r.d_ = ToDouble(&ok);
      break;
    case VarType::Currency: {
      double d = ToDouble(&ok);
      if (ok && !(std::fabs(d) <= 9.2e14)) ok = false;  // NaN and infinities too
      r.i_ = static_cast<int64_t>(std::llrint(d * 10000.0));  // halves to even, as for integers
      r.d_ = static_cast<double>(r.i_) / 10000.0;
      break;
    }
    default: {
      if (IsEmptyOrNull()) {
        ok = type_ == VarType::Empty;
        r.i_ = 0;
      } else {
        r.i_ = ToInt64(&ok);
        if (type_ == VarType::Bool) r.i_ = i_ ? -1 : 0;
        if (ok && !InRange(r.i_, to)) ok = false;
      }
      break;
    }
  }
  if (!ok) return false;
  *this = std::move(r);
  return true;
}

Variant Variant::FromBoundary(const kel_variant* v, TextFlavour flavour) {
  Variant r;
  if (!v) return r;
  switch (v->vt) {
    case KEL_VT_EMPTY: return r;
    case KEL_VT_NULL: return Null();
    case KEL_VT_I1: return FromI1(v->u.i1);
    case KEL_VT_I2: return FromI2(v->u.i2);
    case KEL_VT_I4: return Variant(v->u.i4);
    case KEL_VT_I8: return Variant(static_cast<int64_t>(v->u.i8));
    case KEL_VT_UI1: return FromUI1(v->u.ui1);
    case KEL_VT_UI2: return FromUI2(v->u.ui2);
    case KEL_VT_UI4: return Variant(v->u.ui4);
    case KEL_VT_UI8: return Variant(static_cast<uint64_t>(v->u.ui8));
    case KEL_VT_R4: return FromR4(v->u.r4);
    case KEL_VT_R8: return Variant(v->u.r8);
    case KEL_VT_DATE: return FromDate(v->u.date);
    case KEL_VT_CY: return FromCurrency(v->u.cy);
    case KEL_VT_BOOL: return Variant(v->u.boolean != 0);
    case KEL_VT_BSTR: {
      const char16_t* s = v->u.bstr;
      if (!s) return FromOleStr({});
      return FromOleStr(std::u16string(s, port::SysStringLen(s)));
    }
    case KEL_VT_ANSI_PTR:
      if (!v->u.ansi_ptr) return r;
      if (flavour == TextFlavour::Ansi) return Variant(std::string(v->u.ansi_ptr));
      // In the UTF-16 methods both pointer types carry UTF-16 text.
      return FromOleStr(std::u16string(reinterpret_cast<const char16_t*>(v->u.ansi_ptr),
                                       WideLen(reinterpret_cast<const char16_t*>(v->u.ansi_ptr))));
    case KEL_VT_WIDE_PTR:
      if (!v->u.wide_ptr) return r;
      return FromOleStr(std::u16string(v->u.wide_ptr, WideLen(v->u.wide_ptr)));
    default:
      // Types the module does not model travel as Empty.
      return r;
  }
}

void InitBoundary(kel_variant* v) {
  if (v) std::memset(v, 0, sizeof *v);
}

void ClearBoundary(kel_variant* v) {
  if (!v) return;
  if (v->vt == KEL_VT_BSTR && v->u.bstr) port::SysFreeString(v->u.bstr);
  std::memset(v, 0, sizeof *v);
}

void Variant::ToBoundary(kel_variant* out) const {
  if (!out) return;
  std::memset(out, 0, sizeof *out);
  switch (type_) {
    case VarType::Empty: out->vt = KEL_VT_EMPTY; break;
    case VarType::Null: out->vt = KEL_VT_NULL; break;
    case VarType::I1: out->vt = KEL_VT_I1; out->u.i1 = static_cast<int8_t>(i_); break;
    case VarType::I2: out->vt = KEL_VT_I2; out->u.i2 = static_cast<int16_t>(i_); break;
    case VarType::I4: out->vt = KEL_VT_I4; out->u.i4 = static_cast<int32_t>(i_); break;
    case VarType::I8: out->vt = KEL_VT_I8; out->u.i8 = i_; break;
    case VarType::UI1: out->vt = KEL_VT_UI1; out->u.ui1 = static_cast<uint8_t>(i_); break;
    case VarType::UI2: out->vt = KEL_VT_UI2; out->u.ui2 = static_cast<uint16_t>(i_); break;
    case VarType::UI4: out->vt = KEL_VT_UI4; out->u.ui4 = static_cast<uint32_t>(i_); break;
    case VarType::UI8: out->vt = KEL_VT_UI8; out->u.ui8 = static_cast<uint64_t>(i_); break;
    case VarType::R4: out->vt = KEL_VT_R4; out->u.r4 = static_cast<float>(d_); break;
    case VarType::R8: out->vt = KEL_VT_R8; out->u.r8 = d_; break;
    case VarType::Date: out->vt = KEL_VT_DATE; out->u.date = d_; break;
    case VarType::Currency: out->vt = KEL_VT_CY; out->u.cy = i_; break;
    case VarType::Bool: out->vt = KEL_VT_BOOL; out->u.boolean = i_ ? -1 : 0; break;
    case VarType::String:
    case VarType::OleStr: {
      std::u16string w = ToUtf16();
      out->vt = KEL_VT_BSTR;
      out->u.bstr = port::SysAllocStringLen(w.data(), static_cast<uint32_t>(w.size()));
      break;
    }
  }
}

bool Variant::operator==(const Variant& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case VarType::String: return s8_ == o.s8_;
    case VarType::OleStr: return s16_ == o.s16_;
    case VarType::R4:
    case VarType::R8:
    case VarType::Date: return d_ == o.d_;
    default: return i_ == o.i_;
  }
}

}  // namespace kel
